#include "ValueOperations.hpp"

#include "Errors.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace wheelbox::osascript {
namespace {

[[noreturn]] void cannotMake(const Value &value, std::string_view type)
{
    throw ExecutionError("Can’t make " + describeValue(value) + " into type " + std::string(type) + ".",
                         errorNumber::cannotCoerce);
}

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

// Decodes one UTF-8 sequence; malformed bytes come back one at a time as themselves.
char32_t decode(std::string_view text, std::size_t &at) noexcept
{
    auto byte = static_cast<unsigned char>(text[at]);
    int length = byte < 0x80           ? 1
                 : (byte >> 5) == 0x6  ? 2
                 : (byte >> 4) == 0xE  ? 3
                 : (byte >> 3) == 0x1E ? 4
                                       : 0;
    if (length == 0 || at + static_cast<std::size_t>(length) > text.size()) {
        ++at;
        return byte;
    }
    char32_t code = length == 1 ? byte : byte & (0x7F >> length);
    for (int i = 1; i < length; ++i)
        code = (code << 6) | (static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]) & 0x3F);
    at += static_cast<std::size_t>(length);
    return code;
}

void encode(char32_t code, std::string &out)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

char32_t lowerCase(char32_t c) noexcept
{
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB) ||
        (c >= 0x410 && c <= 0x42F))
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x138 && c != 0x149 && c != 0x17F) {
        bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper ? (c % 2 == 1) : (c % 2 == 0))
            return c + 1;
    }
    return c;
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
    if (auto list = value.getIf<ListPtr>(); list && (*list)->size() == 1)
        return toNumber((*list)->front());
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
    if (auto list = value.getIf<ListPtr>(); list && (*list)->size() == 1)
        return toBoolean((*list)->front());
    cannotMake(value, "boolean");
}

ListPtr toList(const Value &value)
{
    if (auto list = value.getIf<ListPtr>())
        return *list;
    if (auto record = value.getIf<RecordPtr>()) {
        auto items = std::make_shared<List>();
        for (const auto &[label, item] : **record)
            items->push_back(item);
        return items;
    }
    return std::make_shared<List>(List{value});
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
        auto merged = std::make_shared<Record>(**record);
        for (const auto &[label, item] : *right.as<RecordPtr>()) {
            bool present = false;
            for (const auto &entry : *merged)
                present = present || entry.first == label;
            if (!present)
                merged->emplace_back(label, item);
        }
        return Value(merged);
    }
    auto joined = std::make_shared<List>(*toList(left));
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
        std::string text = "{";
        for (std::size_t i = 0; i < list->size(); ++i)
            text += (i > 0 ? ", " : "") + describeValue((*list)[i]);
        return text + "}";
    }
    std::string operator()(const RecordPtr &record) const
    {
        std::string text = "{";
        bool first = true;
        for (const auto &[label, item] : *record) {
            text += (first ? "" : ", ") + label + ":" + describeValue(item);
            first = false;
        }
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
        std::string text;
        for (std::size_t i = 0; i < (*list)->size(); ++i)
            text += (i > 0 ? ", " : "") + formatResult((**list)[i]);
        return text;
    }
    if (auto record = value.getIf<RecordPtr>()) {
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
    std::size_t at = 0;
    while (at < text.size()) {
        auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            folded += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + 32 : byte);
            ++at;
            continue;
        }
        std::size_t start = at;
        char32_t code = decode(text, at);
        char32_t lower = lowerCase(code);
        if (lower == code)
            folded.append(text.substr(start, at - start));
        else
            encode(lower, folded);
    }
    return folded;
}

std::size_t characterCount(std::string_view text) noexcept
{
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        decode(text, at);
        ++count;
    }
    return count;
}

std::optional<std::string> characterAt(std::string_view text, std::int64_t index)
{
    auto count = static_cast<std::int64_t>(characterCount(text));
    if (index < 0)
        index += count + 1;
    if (index < 1 || index > count)
        return std::nullopt;
    std::size_t at = 0;
    for (std::int64_t i = 1; i < index; ++i)
        decode(text, at);
    std::size_t start = at;
    decode(text, at);
    return std::string(text.substr(start, at - start));
}

} // namespace wheelbox::osascript
