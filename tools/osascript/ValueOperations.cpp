#include "ValueOperations.hpp"

#include "Errors.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <vector>

// ICU's UTF-8 macros are written with C casts.
#pragma GCC diagnostic ignored "-Wold-style-cast"

namespace wheelbox::osascript {
namespace {

[[noreturn]] void cannotMake(const Value &value, std::string_view type)
{
    throw ExecutionError("Can’t make " + describeValue(value) + " into type " + std::string(type) + ".",
                         errorNumber::cannotCoerce);
}

// Lists may hold themselves (`set end of L to L`) or nest without end: every walk through nested
// values stops at this depth rather than recurse forever.
constexpr int deepestNesting = 512;
thread_local int nesting = 0;

// One level deeper for the walk it lives in; past the limit, the coercion error for `value`.
class Nested {
  public:
    Nested(const Value &value, std::string_view type)
    {
        if (nesting >= deepestNesting)
            cannotMake(value, type);
        ++nesting;
    }
    ~Nested() { --nesting; }
    Nested(const Nested &) = delete;
    Nested &operator=(const Nested &) = delete;
};

std::string_view trimSpaces(std::string_view text) noexcept
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::optional<Value> parseNumber(std::string_view text)
{
    text = trimSpaces(text);
    if (text.empty())
        return std::nullopt;
    const char *begin = text.data();
    const char *end = begin + text.size();
    if (*begin == '+')
        ++begin;
    std::int64_t integer = 0;
    if (auto [pointer, error] = std::from_chars(begin, end, integer); error == std::errc() && pointer == end)
        return Value(integer);
    double real = 0;
    if (auto [pointer, error] = std::from_chars(begin, end, real); error == std::errc() && pointer == end)
        return Value(real);
    return std::nullopt;
}

int compareText(const std::string &left, const std::string &right)
{
    return foldCase(left).compare(foldCase(right));
}

double realOf(const Value &value)
{
    if (auto integer = value.getIf<std::int64_t>())
        return static_cast<double>(*integer);
    return value.as<double>();
}

} // namespace

namespace {

// Containers whose last owner let go, freed in turn by the outermost release.
template <typename Container> void release(Container *container) noexcept
{
    thread_local std::vector<std::unique_ptr<Container>> pending;
    thread_local bool releasing = false;
    std::unique_ptr<Container> owned(container);
    if (releasing) {
        try {
            pending.push_back(std::move(owned));
            return;
        } catch (...) {
            // Out of memory: free it here, recursing as far as the stack allows.
        }
    }
    releasing = true;
    owned.reset();
    while (!pending.empty()) {
        auto next = std::move(pending.back());
        pending.pop_back();
        next.reset();
    }
    releasing = false;
}

} // namespace

ListPtr makeList(List items)
{
    return ListPtr(new List(std::move(items)), [](List *list) noexcept { release(list); });
}

RecordPtr makeRecord(Record fields)
{
    return RecordPtr(new Record(std::move(fields)), [](Record *record) noexcept { release(record); });
}

Value::Value(std::int64_t value)
{
    if (value > largestInteger || value < smallestInteger)
        storage_ = static_cast<double>(value);
    else
        storage_ = value;
}

std::string formatReal(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-1.797693E+308" : "1.797693E+308";
    if (value == 0)
        return "0.0";
    char buffer[64];
    double magnitude = std::fabs(value);
    if (magnitude >= 1e4 || magnitude < 1e-4) {
        std::snprintf(buffer, sizeof buffer, "%.11e", value);
        std::string text(buffer);
        auto e = text.find('e');
        std::string mantissa = text.substr(0, e);
        int exponent = std::stoi(text.substr(e + 1));
        while (mantissa.size() > 1 && mantissa.back() == '0' && mantissa[mantissa.size() - 2] != '.')
            mantissa.pop_back();
        return mantissa + "E" + (exponent < 0 ? "-" : "+") + std::to_string(std::abs(exponent));
    }
    std::snprintf(buffer, sizeof buffer, "%.12g", value);
    std::string text(buffer);
    if (text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

std::string toText(const Value &value, std::string_view delimiter)
{
    struct Visitor {
        const Value &value;
        std::string_view delimiter;
        std::string operator()(const std::string &text) const { return text; }
        std::string operator()(std::int64_t integer) const { return std::to_string(integer); }
        std::string operator()(double real) const { return formatReal(real); }
        std::string operator()(bool boolean) const { return boolean ? "true" : "false"; }
        std::string operator()(const Constant &constant) const { return constant.name; }
        std::string operator()(const MissingValue &) const { return "missing value"; }
        std::string operator()(const ListPtr &list) const
        {
            Nested level(value, "text");
            std::string text;
            for (std::size_t i = 0; i < list->size(); ++i) {
                if (i > 0)
                    text += delimiter;
                text += toText((*list)[i], delimiter);
            }
            return text;
        }
        std::string operator()(const RecordPtr &) const { cannotMake(value, "text"); }
        std::string operator()(const ObjectPtr &) const { cannotMake(value, "text"); }
    };
    return std::visit(Visitor{value, delimiter}, value.storage());
}

Value toNumber(const Value &value)
{
    if (value.isNumber())
        return value;
    if (auto text = value.getIf<std::string>()) {
        if (auto number = parseNumber(*text))
            return *number;
    }
    if (auto list = value.getIf<ListPtr>(); list && (*list)->size() == 1) {
        Nested level(value, "number");
        return toNumber((*list)->front());
    }
    cannotMake(value, "number");
}

double toReal(const Value &value)
{
    return realOf(toNumber(value));
}

std::int64_t toInteger(const Value &value)
{
    Value number = toNumber(value);
    if (auto integer = number.getIf<std::int64_t>())
        return *integer;
    double rounded = std::nearbyint(number.as<double>());
    if (!(rounded >= static_cast<double>(smallestInteger) && rounded <= static_cast<double>(largestInteger)))
        cannotMake(value, "integer");
    return static_cast<std::int64_t>(rounded);
}

std::int64_t checkedInteger(double number, const Value &source)
{
    double rounded = std::nearbyint(number);
    // 2^63 is the first double past the range; NaN fails both tests.
    if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0))
        cannotMake(source, "integer");
    return static_cast<std::int64_t>(rounded);
}

double checkedReal(double number, const Value &source)
{
    if (!std::isfinite(number))
        cannotMake(source, "real");
    return number;
}

bool toBoolean(const Value &value)
{
    if (auto boolean = value.getIf<bool>())
        return *boolean;
    if (auto text = value.getIf<std::string>()) {
        auto folded = foldCase(*text);
        if (folded == "true")
            return true;
        if (folded == "false")
            return false;
    }
    if (auto integer = value.getIf<std::int64_t>(); integer && (*integer == 0 || *integer == 1))
        return *integer == 1;
    if (auto list = value.getIf<ListPtr>(); list && (*list)->size() == 1) {
        Nested level(value, "boolean");
        return toBoolean((*list)->front());
    }
    cannotMake(value, "boolean");
}

ListPtr toList(const Value &value)
{
    if (auto list = value.getIf<ListPtr>())
        return *list;
    if (auto record = value.getIf<RecordPtr>()) {
        auto items = makeList();
        for (const auto &[label, item] : **record)
            items->push_back(item);
        return items;
    }
    return makeList(List{value});
}

Value coerce(const Value &value, ValueClass to, std::string_view delimiter)
{
    switch (to) {
    case ValueClass::Text:
        return toText(value, delimiter);
    case ValueClass::Number:
        return toNumber(value);
    case ValueClass::Integer:
        return toInteger(value);
    case ValueClass::Real:
        return toReal(value);
    case ValueClass::Boolean:
        return toBoolean(value);
    case ValueClass::ListValue:
        return Value(toList(value));
    case ValueClass::RecordValue:
        if (value.is<RecordPtr>())
            return value;
        cannotMake(value, "record");
    }
    cannotMake(value, "text");
}

bool valuesEqual(const Value &left, const Value &right)
{
    if (left.isNumber() && right.isNumber())
        return realOf(left) == realOf(right);
    if (left.storage().index() != right.storage().index())
        return false;
    if (auto text = left.getIf<std::string>())
        return compareText(*text, right.as<std::string>()) == 0;
    if (auto list = left.getIf<ListPtr>()) {
        if (*list == right.as<ListPtr>())
            return true;
        Nested level(left, "list");
        const auto &other = *right.as<ListPtr>();
        if ((*list)->size() != other.size())
            return false;
        for (std::size_t i = 0; i < other.size(); ++i) {
            if (!valuesEqual((**list)[i], other[i]))
                return false;
        }
        return true;
    }
    if (auto record = left.getIf<RecordPtr>()) {
        if (*record == right.as<RecordPtr>())
            return true;
        Nested level(left, "record");
        const auto &other = *right.as<RecordPtr>();
        if ((*record)->size() != other.size())
            return false;
        for (const auto &[label, item] : **record) {
            bool found = false;
            for (const auto &[otherLabel, otherItem] : other) {
                if (otherLabel == label) {
                    found = valuesEqual(item, otherItem);
                    break;
                }
            }
            if (!found)
                return false;
        }
        return true;
    }
    if (auto object = left.getIf<ObjectPtr>())
        return (*object)->sameObject(*right.as<ObjectPtr>());
    return left.storage() == right.storage();
}

bool valuesOrdered(OrderOperator op, const Value &left, const Value &right)
{
    int order = 0;
    if (auto text = left.getIf<std::string>()) {
        order = compareText(*text, toText(right, ""));
    } else {
        if (!left.isNumber())
            cannotMake(left, "number");
        double a = realOf(left);
        double b = toReal(right);
        order = a < b ? -1 : a > b ? 1 : 0;
    }
    switch (op) {
    case OrderOperator::Less:
        return order < 0;
    case OrderOperator::LessOrEqual:
        return order <= 0;
    case OrderOperator::Greater:
        return order > 0;
    case OrderOperator::GreaterOrEqual:
        return order >= 0;
    }
    return false;
}

bool valueContains(const Value &container, const Value &part)
{
    if (auto text = container.getIf<std::string>())
        return foldCase(*text).find(foldCase(toText(part, ""))) != std::string::npos;
    if (auto list = container.getIf<ListPtr>()) {
        for (const auto &item : **list) {
            if (valuesEqual(item, part))
                return true;
        }
        return false;
    }
    cannotMake(container, "list");
}

Value arithmetic(ArithmeticOperator op, const Value &leftOperand, const Value &rightOperand)
{
    Value left = toNumber(leftOperand);
    Value right = toNumber(rightOperand);
    bool integers = left.is<std::int64_t>() && right.is<std::int64_t>();
    double a = realOf(left);
    double b = realOf(right);
    auto divisionByZero = [&] {
        throw ExecutionError("Can’t divide " + describeValue(left) + " by zero.",
                             errorNumber::divisionByZero);
    };
    switch (op) {
    case ArithmeticOperator::Add:
        return integers ? Value(left.as<std::int64_t>() + right.as<std::int64_t>()) : Value(a + b);
    case ArithmeticOperator::Subtract:
        return integers ? Value(left.as<std::int64_t>() - right.as<std::int64_t>()) : Value(a - b);
    case ArithmeticOperator::Multiply:
        return integers ? Value(left.as<std::int64_t>() * right.as<std::int64_t>()) : Value(a * b);
    case ArithmeticOperator::Divide:
        if (b == 0)
            divisionByZero();
        return Value(a / b);
    case ArithmeticOperator::IntegerDivide:
        if (b == 0)
            divisionByZero();
        return Value(checkedInteger(std::trunc(a / b), Value(a / b)));
    case ArithmeticOperator::Modulo:
        if (b == 0)
            divisionByZero();
        return integers ? Value(left.as<std::int64_t>() % right.as<std::int64_t>()) : Value(std::fmod(a, b));
    case ArithmeticOperator::Power:
        return Value(std::pow(a, b));
    }
    return Value();
}

Value negate(const Value &value)
{
    Value number = toNumber(value);
    if (auto integer = number.getIf<std::int64_t>())
        return Value(-*integer);
    return Value(-number.as<double>());
}

Value concatenate(const Value &left, const Value &right, std::string_view delimiter)
{
    if (auto text = left.getIf<std::string>()) {
        if (!right.is<ListPtr>() && !right.is<RecordPtr>() && !right.is<ObjectPtr>())
            return Value(*text + toText(right, delimiter));
    }
    if (auto record = left.getIf<RecordPtr>(); record && right.is<RecordPtr>()) {
        auto merged = makeRecord(**record);
        for (const auto &[label, item] : *right.as<RecordPtr>()) {
            bool present = false;
            for (const auto &entry : *merged)
                present = present || entry.first == label;
            if (!present)
                merged->emplace_back(label, item);
        }
        return Value(merged);
    }
    auto joined = makeList(*toList(left));
    auto tail = toList(right);
    joined->insert(joined->end(), tail->begin(), tail->end());
    return Value(joined);
}

namespace {

// How a value reads inside an error message: texts quoted, lists and records in braces.
struct DescribeVisitor {
    const Value &value;
    // Numbers, booleans, constants and missing value read the same as their text.
    template <typename Scalar> std::string operator()(const Scalar &) const { return toText(value, ""); }
    std::string operator()(const std::string &text) const
    {
        std::string quoted = "\"";
        for (char c : text) {
            if (c == '"' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        return quoted + "\"";
    }
    std::string operator()(const ListPtr &list) const
    {
        if (nesting >= deepestNesting)
            return "{…}";
        ++nesting;
        std::string text = "{";
        for (std::size_t i = 0; i < list->size(); ++i)
            text += (i > 0 ? ", " : "") + describeValue((*list)[i]);
        --nesting;
        return text + "}";
    }
    std::string operator()(const RecordPtr &record) const
    {
        if (nesting >= deepestNesting)
            return "{…}";
        ++nesting;
        std::string text = "{";
        bool first = true;
        for (const auto &[label, item] : *record) {
            text += (first ? "" : ", ") + label + ":" + describeValue(item);
            first = false;
        }
        --nesting;
        return text + "}";
    }
    std::string operator()(const ObjectPtr &object) const { return object->describe(); }
};

} // namespace

std::string describeValue(const Value &value)
{
    return std::visit(DescribeVisitor{value}, value.storage());
}

std::string formatResult(const Value &value)
{
    if (auto text = value.getIf<std::string>())
        return *text;
    if (auto list = value.getIf<ListPtr>()) {
        Nested level(value, "text");
        std::string text;
        for (std::size_t i = 0; i < (*list)->size(); ++i)
            text += (i > 0 ? ", " : "") + formatResult((**list)[i]);
        return text;
    }
    if (auto record = value.getIf<RecordPtr>()) {
        Nested level(value, "text");
        std::string text;
        bool first = true;
        for (const auto &[label, item] : **record) {
            text += (first ? "" : ", ") + label + ":" + formatResult(item);
            first = false;
        }
        return text;
    }
    return describeValue(value);
}

std::string foldCase(std::string_view text)
{
    std::string folded;
    folded.reserve(text.size());
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
    auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t at = 0; at < length;) {
        std::int32_t start = at;
        UChar32 code;
        U8_NEXT(bytes, at, length, code);
        UChar32 fold = code < 0 ? code : u_foldCase(code, U_FOLD_CASE_DEFAULT);
        if (fold == code) {
            // Unchanged, or not UTF-8: the bytes as they were.
            folded.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
            continue;
        }
        std::uint8_t encoded[U8_MAX_LENGTH];
        std::int32_t size = 0;
        U8_APPEND_UNSAFE(encoded, size, fold);
        folded.append(reinterpret_cast<const char *>(encoded), static_cast<std::size_t>(size));
    }
    return folded;
}

std::string wellFormedText(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
    auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t at = 0; at < length;) {
        std::int32_t start = at;
        UChar32 code;
        U8_NEXT(bytes, at, length, code);
        if (code < 0)
            result += "\xEF\xBF\xBD";
        else
            result.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
    }
    return result;
}

std::vector<std::string> characters(std::string_view text)
{
    std::vector<std::string> result;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
    auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t at = 0; at < length;) {
        std::int32_t start = at;
        U8_FWD_1(bytes, at, length);
        result.emplace_back(
            text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
    }
    return result;
}

std::size_t characterCount(std::string_view text) noexcept
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
    auto length = static_cast<std::int32_t>(text.size());
    std::size_t count = 0;
    for (std::int32_t at = 0; at < length; ++count)
        U8_FWD_1(bytes, at, length);
    return count;
}

std::optional<std::string> characterAt(std::string_view text, std::int64_t index)
{
    auto count = static_cast<std::int64_t>(characterCount(text));
    if (index < 0)
        index += count + 1;
    if (index < 1 || index > count)
        return std::nullopt;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
    auto length = static_cast<std::int32_t>(text.size());
    std::int32_t at = 0;
    for (std::int64_t i = 1; i < index; ++i)
        U8_FWD_1(bytes, at, length);
    std::int32_t start = at;
    U8_FWD_1(bytes, at, length);
    return std::string(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
}

} // namespace wheelbox::osascript
