#include "Interpreter.hpp"

#include "ValueOperations.hpp"

#include <cmath>
#include <thread>
#include <unordered_set>
#include <vector>

namespace wheelbox::osascript {

using namespace syntax;

namespace {

[[noreturn]] void cannotGet(std::string_view what)
{
    throw ExecutionError("Can’t get " + std::string(what) + ".", errorNumber::cannotGet);
}

std::string itemDescription(const Value &index, const Value &container)
{
    return "item " + describeValue(index) + " of " + describeValue(container);
}

// A 1-based AppleScript index (negative counts from the end) as a 0-based one, if inside.
std::optional<std::size_t> listIndex(std::int64_t index, std::size_t size) noexcept
{
    auto count = static_cast<std::int64_t>(size);
    if (index < 0)
        index += count + 1;
    if (index < 1 || index > count)
        return std::nullopt;
    return static_cast<std::size_t>(index - 1);
}

std::string asciiCharacter(std::int64_t code)
{
    if (code < 0 || code > 255)
        throw ExecutionError("Can’t make " + std::to_string(code) + " into type character.",
                             errorNumber::cannotCoerce);
    std::string text;
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
    return text;
}

} // namespace

template <typename Function> auto Interpreter::ask(Application &target, Function &&request)
{
    try {
        target.setTimeout(timeout_);
        return request();
    } catch (const ApplicationError &error) {
        throw ExecutionError(std::string(target.name()) + " got an error: " + error.what(), error.number());
    }
}

Interpreter::Interpreter(ApplicationFactory factory, Sleeper sleep)
    : factory_(std::move(factory)), sleep_(std::move(sleep)), textItemDelimiters_(Value::list({Value("")}))
{
    if (!sleep_)
        sleep_ = [](std::chrono::milliseconds duration) {
            std::this_thread::sleep_for(duration);
        };
}

Interpreter::~Interpreter()
{
    // A list may hold itself (`set end of L to L`): empty every container the variables reach, so
    // that shared ownership cannot keep a cycle alive past the run.
    std::vector<Value> reached;
    for (auto &[name, value] : variables_)
        reached.push_back(std::move(value));
    reached.push_back(std::move(textItemDelimiters_));
    if (result_)
        reached.push_back(std::move(*result_));
    std::unordered_set<const void *> seen;
    std::vector<std::shared_ptr<void>> containers;
    for (std::size_t i = 0; i < reached.size(); ++i) {
        auto visit = [&](auto &container) {
            if (!seen.insert(container.get()).second)
                return;
            containers.push_back(container);
            for (auto &item : *container) {
                if constexpr (std::is_same_v<std::decay_t<decltype(container)>, ListPtr>)
                    reached.push_back(std::move(item));
                else
                    reached.push_back(std::move(item.second));
            }
        };
        // Copied first: visiting adds to `reached`, which may move its elements.
        if (auto list = reached[i].getIf<ListPtr>()) {
            ListPtr held = *list;
            visit(held);
        } else if (auto record = reached[i].getIf<RecordPtr>()) {
            RecordPtr held = *record;
            visit(held);
        }
    }
}

std::optional<Value> Interpreter::run(const Program &program)
{
    SourceRange whole;
    if (!program.body.empty())
        whole = {program.body.front()->range.start, program.body.back()->range.end};
    auto finishAll = [&] {
        for (auto &entry : applications_) {
            // Not a structured binding: clang before 16 cannot capture one.
            auto &application = entry.second;
            ask(*application, [&] { application->finish(); });
        }
    };
    try {
        runBlock(program.body);
    } catch (ReturnSignal &signal) {
        result_ = std::move(signal.value);
    } catch (ExitRepeatSignal &) {
        throw ExecutionError("exit repeat can only be used inside a repeat loop.", errorNumber::syntax);
    } catch (...) {
        try {
            finishAll();
        } catch (const ExecutionError &) {
            // The first failure is the one to report.
        }
        throw;
    }
    try {
        finishAll();
    } catch (ExecutionError &error) {
        error.claimRange(whole);
        throw;
    }
    return result_;
}

void Interpreter::takeStep()
{
    if (!stepsLeft_)
        return;
    if (*stepsLeft_ == 0)
        throw ExecutionError("The script ran past its step limit.", errorNumber::userError);
    --*stepsLeft_;
}

void Interpreter::runBlock(const Block &block)
{
    for (const auto &statement : block)
        runStatement(*statement);
}

void Interpreter::runBody(const Block &body, bool &exited)
{
    takeStep();
    try {
        runBlock(body);
    } catch (ExitRepeatSignal &) {
        exited = true;
    }
}

void Interpreter::runStatement(const Statement &statement)
{
    try {
        takeStep();
        std::visit(
            [&](const auto &node) {
                using Node = std::decay_t<decltype(node)>;
                if constexpr (std::is_same_v<Node, Tell>) {
                    tellStack_.push_back(&application(node.application));
                    try {
                        runBlock(node.body);
                    } catch (...) {
                        tellStack_.pop_back();
                        throw;
                    }
                    tellStack_.pop_back();
                } else if constexpr (std::is_same_v<Node, WithTimeout>) {
                    Value seconds = evaluate(*node.seconds);
                    std::int64_t milliseconds = checkedInteger(toReal(seconds) * 1000, seconds);
                    auto outer = std::exchange(
                        timeout_, std::chrono::milliseconds(std::max<std::int64_t>(milliseconds, 0)));
                    try {
                        runBlock(node.body);
                    } catch (...) {
                        timeout_ = outer;
                        throw;
                    }
                    timeout_ = outer;
                } else if constexpr (std::is_same_v<Node, Set>) {
                    Value value = evaluate(*node.value);
                    assign(*node.target, value);
                    result_ = std::move(value);
                } else if constexpr (std::is_same_v<Node, If>) {
                    for (const auto &[condition, body] : node.branches) {
                        if (toBoolean(evaluate(*condition))) {
                            runBlock(body);
                            return;
                        }
                    }
                    if (node.otherwise)
                        runBlock(*node.otherwise);
                } else if constexpr (std::is_same_v<Node, Repeat>) {
                    runRepeat(node);
                } else if constexpr (std::is_same_v<Node, ExitRepeat>) {
                    throw ExitRepeatSignal{};
                } else if constexpr (std::is_same_v<Node, Try>) {
                    try {
                        runBlock(node.body);
                    } catch (const ExecutionError &error) {
                        if (node.messageVariable)
                            variables_[*node.messageVariable] = Value(std::string(error.what()));
                        if (node.numberVariable)
                            variables_[*node.numberVariable] = Value(error.number());
                        runBlock(node.handler);
                    }
                } else if constexpr (std::is_same_v<Node, RaiseError>) {
                    int number = errorNumber::userError;
                    if (node.number)
                        number = static_cast<int>(toInteger(evaluate(*node.number)));
                    std::string message =
                        node.message ? toText(evaluate(*node.message), delimiter())
                                     : "An error of type " + std::to_string(number) + " has occurred.";
                    throw ExecutionError(std::move(message), number);
                } else if constexpr (std::is_same_v<Node, Return>) {
                    std::optional<Value> value;
                    if (node.value)
                        value = evaluate(*node.value);
                    throw ReturnSignal{std::move(value)};
                } else if constexpr (std::is_same_v<Node, Delay>) {
                    Value seconds = evaluate(*node.seconds);
                    std::int64_t milliseconds = checkedInteger(toReal(seconds) * 1000, seconds);
                    if (milliseconds > 0)
                        sleep_(std::chrono::milliseconds(milliseconds));
                    for (auto &[name, application] : applications_)
                        application->invalidateReadings();
                } else if constexpr (std::is_same_v<Node, Evaluate>) {
                    Value value = evaluate(*node.expression);
                    bool commandWithoutResult = std::holds_alternative<CommandCall>(node.expression->node) ||
                                                std::holds_alternative<Delete>(node.expression->node);
                    if (commandWithoutResult)
                        result_.reset();
                    else
                        result_ = std::move(value);
                }
            },
            statement.node);
    } catch (ExecutionError &error) {
        error.claimRange(statement.range);
        throw;
    }
}

void Interpreter::runRepeat(const Repeat &repeat)
{
    bool exited = false;
    switch (repeat.kind) {
    case Repeat::Kind::Forever:
        while (!exited)
            runBody(repeat.body, exited);
        return;
    case Repeat::Kind::Times: {
        std::int64_t times = toInteger(evaluate(*repeat.first));
        for (std::int64_t i = 0; i < times && !exited; ++i)
            runBody(repeat.body, exited);
        return;
    }
    case Repeat::Kind::While:
    case Repeat::Kind::Until: {
        bool until = repeat.kind == Repeat::Kind::Until;
        while (!exited && toBoolean(evaluate(*repeat.first)) != until)
            runBody(repeat.body, exited);
        return;
    }
    case Repeat::Kind::In: {
        Value source = evaluate(*repeat.first);
        ListPtr items;
        if (auto text = source.getIf<std::string>()) {
            items = makeList();
            for (auto &character : characters(*text))
                items->push_back(Value(std::move(character)));
        } else {
            items = toList(source);
        }
        std::size_t count = items->size();
        for (std::size_t i = 0; i < count && !exited; ++i) {
            if (i >= items->size())
                cannotGet(itemDescription(Value(static_cast<std::int64_t>(i + 1)), Value(items)));
            variables_[repeat.variable] = (*items)[i];
            runBody(repeat.body, exited);
        }
        return;
    }
    case Repeat::Kind::Range: {
        Value first = toNumber(evaluate(*repeat.first));
        Value last = toNumber(evaluate(*repeat.last));
        Value step = repeat.step ? toNumber(evaluate(*repeat.step)) : Value(1);
        bool integers = first.is<std::int64_t>() && last.is<std::int64_t>() && step.is<std::int64_t>();
        double from = toReal(first);
        double to = toReal(last);
        double by = toReal(step);
        if (by == 0)
            throw ExecutionError("Can’t repeat by zero.", errorNumber::cannotCoerce);
        for (double i = from; !exited && (by > 0 ? i <= to : i >= to); i += by) {
            variables_[repeat.variable] = integers ? Value(static_cast<std::int64_t>(i)) : Value(i);
            runBody(repeat.body, exited);
        }
        return;
    }
    }
}

void Interpreter::assign(const Expression &target, Value value)
{
    if (auto variable = std::get_if<Variable>(&target.node)) {
        variables_[variable->name] = std::move(value);
    } else if (std::holds_alternative<TextItemDelimiters>(target.node)) {
        textItemDelimiters_ = std::move(value);
    } else if (auto property = std::get_if<PropertyOf>(&target.node)) {
        if (!property->container) {
            auto &owner = tellTarget();
            ask(owner, [&] { owner.setProperty(nullptr, property->property, value); });
            return;
        }
        Value container = evaluate(*property->container);
        const auto &object = objectOf(container, "property");
        ask(object.application(),
            [&] { object.application().setProperty(&object, property->property, value); });
    } else if (auto item = std::get_if<ItemOf>(&target.node)) {
        Value container = evaluate(*item->container);
        auto list = container.getIf<ListPtr>();
        if (!list)
            throw ExecutionError("Can’t set " + (item->index ? "item of " : std::string("end of ")) +
                                     describeValue(container) + ".",
                                 errorNumber::cannotCoerce);
        if (!item->index) {
            (*list)->push_back(std::move(value));
            return;
        }
        Value index = evaluate(*item->index);
        auto position = listIndex(toInteger(index), (*list)->size());
        if (!position)
            cannotGet(itemDescription(index, container));
        (**list)[*position] = std::move(value);
    }
}

std::string Interpreter::delimiter() const
{
    if (auto list = textItemDelimiters_.getIf<ListPtr>())
        return (*list)->empty() ? std::string() : toText((*list)->front(), "");
    return toText(textItemDelimiters_, "");
}

Value Interpreter::readVariable(const Variable &variable) const
{
    auto found = variables_.find(variable.name);
    if (found == variables_.end())
        throw ExecutionError("The variable " + variable.spelling + " is not defined.",
                             errorNumber::undefinedVariable);
    return found->second;
}

Application &Interpreter::application(std::string_view name)
{
    auto found = applications_.find(name);
    if (found != applications_.end())
        return *found->second;
    std::unique_ptr<Application> created;
    try {
        created = factory_(name);
    } catch (const ApplicationError &error) {
        throw ExecutionError(std::string(name) + " got an error: " + error.what(), error.number());
    }
    auto &result = *created;
    applications_.emplace(std::string(name), std::move(created));
    return result;
}

Application &Interpreter::tellTarget()
{
    return *tellStack_.back();
}

const ObjectReference &Interpreter::objectOf(const Value &value, std::string_view context)
{
    if (auto object = value.getIf<ObjectPtr>())
        return **object;
    throw ExecutionError("Can’t get " + std::string(context) + " of " + describeValue(value) + ".",
                         errorNumber::cannotGet);
}

Value Interpreter::evaluateProperty(const PropertyOf &property)
{
    if (!property.container) {
        auto &target = tellTarget();
        return ask(target, [&] { return target.getProperty(nullptr, property.property); });
    }
    Value container = evaluate(*property.container);
    auto read = [&](const Value &of) {
        const auto &object = objectOf(of, "property");
        return ask(object.application(),
                   [&] { return object.application().getProperty(&object, property.property); });
    };
    if (auto list = container.getIf<ListPtr>()) {
        List values;
        for (const auto &item : **list)
            values.push_back(read(item));
        return Value::list(std::move(values));
    }
    return read(container);
}

Value Interpreter::evaluateItem(const ItemOf &item)
{
    Value container = evaluate(*item.container);
    Value index = item.index ? evaluate(*item.index) : Value(-1);
    std::int64_t position = toInteger(index);
    if (auto list = container.getIf<ListPtr>()) {
        if (auto at = listIndex(position, (*list)->size()))
            return (**list)[*at];
    } else if (auto text = container.getIf<std::string>()) {
        if (auto character = characterAt(*text, position))
            return Value(*character);
    } else if (auto record = container.getIf<RecordPtr>()) {
        if (auto at = listIndex(position, (*record)->size()))
            return (**record)[*at].second;
    }
    cannotGet(itemDescription(index, container));
}

Value Interpreter::evaluateCount(const Value &value)
{
    if (auto list = value.getIf<ListPtr>())
        return Value(static_cast<std::int64_t>((*list)->size()));
    if (auto text = value.getIf<std::string>())
        return Value(static_cast<std::int64_t>(characterCount(*text)));
    if (auto record = value.getIf<RecordPtr>())
        return Value(static_cast<std::int64_t>((*record)->size()));
    return Value(1);
}

Value Interpreter::evaluateBinary(const Binary &binary)
{
    switch (binary.op) {
    case BinaryOperator::And:
        return Value(toBoolean(evaluate(*binary.left)) && toBoolean(evaluate(*binary.right)));
    case BinaryOperator::Or:
        return Value(toBoolean(evaluate(*binary.left)) || toBoolean(evaluate(*binary.right)));
    default:
        break;
    }
    Value left = evaluate(*binary.left);
    Value right = evaluate(*binary.right);
    switch (binary.op) {
    case BinaryOperator::Equal:
        return Value(valuesEqual(left, right));
    case BinaryOperator::NotEqual:
        return Value(!valuesEqual(left, right));
    case BinaryOperator::Less:
        return Value(valuesOrdered(OrderOperator::Less, left, right));
    case BinaryOperator::LessOrEqual:
        return Value(valuesOrdered(OrderOperator::LessOrEqual, left, right));
    case BinaryOperator::Greater:
        return Value(valuesOrdered(OrderOperator::Greater, left, right));
    case BinaryOperator::GreaterOrEqual:
        return Value(valuesOrdered(OrderOperator::GreaterOrEqual, left, right));
    case BinaryOperator::Contains:
        return Value(valueContains(left, right));
    case BinaryOperator::DoesNotContain:
        return Value(!valueContains(left, right));
    case BinaryOperator::Concatenate:
        return concatenate(left, right, delimiter());
    case BinaryOperator::Add:
        return arithmetic(ArithmeticOperator::Add, left, right);
    case BinaryOperator::Subtract:
        return arithmetic(ArithmeticOperator::Subtract, left, right);
    case BinaryOperator::Multiply:
        return arithmetic(ArithmeticOperator::Multiply, left, right);
    case BinaryOperator::Divide:
        return arithmetic(ArithmeticOperator::Divide, left, right);
    case BinaryOperator::IntegerDivide:
        return arithmetic(ArithmeticOperator::IntegerDivide, left, right);
    case BinaryOperator::Modulo:
        return arithmetic(ArithmeticOperator::Modulo, left, right);
    case BinaryOperator::Power:
        return arithmetic(ArithmeticOperator::Power, left, right);
    case BinaryOperator::And:
    case BinaryOperator::Or:
        break;
    }
    return Value();
}

Value Interpreter::evaluate(const Expression &expression)
{
    return std::visit(
        [&](const auto &node) -> Value {
            using Node = std::decay_t<decltype(node)>;
            if constexpr (std::is_same_v<Node, Literal>) {
                return node.value;
            } else if constexpr (std::is_same_v<Node, ListLiteral>) {
                List items;
                for (const auto &item : node.items)
                    items.push_back(evaluate(*item));
                return Value::list(std::move(items));
            } else if constexpr (std::is_same_v<Node, RecordLiteral>) {
                auto record = makeRecord();
                for (const auto &[label, field] : node.fields)
                    record->emplace_back(label, evaluate(*field));
                return Value(record);
            } else if constexpr (std::is_same_v<Node, Variable>) {
                return readVariable(node);
            } else if constexpr (std::is_same_v<Node, TextItemDelimiters>) {
                return textItemDelimiters_;
            } else if constexpr (std::is_same_v<Node, ApplicationConstant>) {
                return Value(node.constant);
            } else if constexpr (std::is_same_v<Node, Not>) {
                return Value(!toBoolean(evaluate(*node.operand)));
            } else if constexpr (std::is_same_v<Node, Negate>) {
                return negate(evaluate(*node.operand));
            } else if constexpr (std::is_same_v<Node, Binary>) {
                return evaluateBinary(node);
            } else if constexpr (std::is_same_v<Node, Coercion>) {
                return coerce(evaluate(*node.operand), node.to, delimiter());
            } else if constexpr (std::is_same_v<Node, PropertyOf>) {
                return evaluateProperty(node);
            } else if constexpr (std::is_same_v<Node, ElementOf>) {
                Value key = evaluate(*node.key);
                if (!node.container) {
                    auto &target = tellTarget();
                    return ask(target, [&] { return target.element(nullptr, node.elementClass, key); });
                }
                Value container = evaluate(*node.container);
                const auto &object = objectOf(container, "element");
                return ask(object.application(),
                           [&] { return object.application().element(&object, node.elementClass, key); });
            } else if constexpr (std::is_same_v<Node, ItemOf>) {
                return evaluateItem(node);
            } else if constexpr (std::is_same_v<Node, Every>) {
                std::optional<ElementFilter> filter;
                if (node.filterProperty)
                    filter =
                        ElementFilter{*node.filterProperty, evaluate(*node.filterValue), node.filterNegated};
                Value container;
                const ObjectReference *object = nullptr;
                if (node.container) {
                    container = evaluate(*node.container);
                    object = &objectOf(container, "every element");
                }
                auto &target = object ? object->application() : tellTarget();
                return ask(target, [&] { return target.everyElement(object, node.elementClass, filter); });
            } else if constexpr (std::is_same_v<Node, Count>) {
                return evaluateCount(evaluate(*node.operand));
            } else if constexpr (std::is_same_v<Node, Exists>) {
                Value value;
                try {
                    value = evaluate(*node.operand);
                } catch (const ExecutionError &error) {
                    if (error.number() == errorNumber::cannotGet)
                        return Value(false);
                    throw;
                }
                auto object = value.getIf<ObjectPtr>();
                if (!object)
                    return Value(true);
                auto &owner = (*object)->application();
                return Value(ask(owner, [&] { return owner.exists(**object); }));
            } else if constexpr (std::is_same_v<Node, AsciiCharacter>) {
                return Value(asciiCharacter(toInteger(evaluate(*node.code))));
            } else if constexpr (std::is_same_v<Node, CommandCall>) {
                std::optional<Value> parameter;
                if (node.directParameter)
                    parameter = evaluate(*node.directParameter);
                auto &target = tellTarget();
                return ask(target, [&] { return target.runCommand(node.command, parameter); });
            } else if constexpr (std::is_same_v<Node, Make>) {
                Record properties;
                if (node.properties) {
                    Value value = evaluate(*node.properties);
                    auto record = value.getIf<RecordPtr>();
                    if (!record)
                        throw ExecutionError("Can’t make " + describeValue(value) + " into type record.",
                                             errorNumber::cannotCoerce);
                    properties = **record;
                }
                auto &target = tellTarget();
                return ask(target, [&] { return target.make(node.elementClass, properties); });
            } else if constexpr (std::is_same_v<Node, Duplicate>) {
                Value object = evaluate(*node.object);
                Value to = evaluate(*node.to);
                const auto &source = objectOf(object, "duplicate");
                const auto &destination = objectOf(to, "duplicate");
                return ask(source.application(),
                           [&] { return source.application().duplicate(source, destination); });
            } else if constexpr (std::is_same_v<Node, Delete>) {
                Value object = evaluate(*node.object);
                const auto &doomed = objectOf(object, "delete");
                ask(doomed.application(), [&] { doomed.application().remove(doomed); });
                return Value();
            }
        },
        expression.node);
}

} // namespace wheelbox::osascript
