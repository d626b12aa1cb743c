#pragma once

#include "Application.hpp"
#include "Errors.hpp"
#include "Value.hpp"
#include "ValueOperations.hpp"

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The parsed program. Application terms are already resolved against the dictionary of the
// tell block they appear in.
namespace wheelbox::osascript::syntax {

struct Expression;
using ExpressionPtr = std::unique_ptr<Expression>;

struct Literal {
    Value value;
};
struct ListLiteral {
    std::vector<ExpressionPtr> items;
};
struct RecordLiteral {
    std::vector<std::pair<std::string, ExpressionPtr>> fields;
};
struct Variable {
    std::string name; // lower case: AppleScript names ignore case
    std::string spelling;
};
struct TextItemDelimiters {};
struct ApplicationConstant {
    Constant constant;
};
struct Not {
    ExpressionPtr operand;
};
struct Negate {
    ExpressionPtr operand;
};
enum class BinaryOperator {
    And,
    Or,
    Equal,
    NotEqual,
    Less,
    LessOrEqual,
    Greater,
    GreaterOrEqual,
    Contains,
    DoesNotContain,
    Concatenate,
    Add,
    Subtract,
    Multiply,
    Divide,
    IntegerDivide,
    Modulo,
    Power,
};
struct Binary {
    BinaryOperator op;
    ExpressionPtr left;
    ExpressionPtr right;
};
struct Coercion {
    ExpressionPtr operand;
    ValueClass to;
};
// `name of t`; without a container, a property of the tell block's application.
struct PropertyOf {
    Property property;
    ExpressionPtr container;
};
// `user playlist "Name"`, `library playlist 1`.
struct ElementOf {
    ElementClass elementClass;
    ExpressionPtr key;
    ExpressionPtr container;
};
// `item 2 of L`, `end of L` (index absent).
struct ItemOf {
    ExpressionPtr index;
    ExpressionPtr container;
};
struct Every {
    ElementClass elementClass;
    ExpressionPtr container;
    std::optional<Property> filterProperty;
    bool filterNegated = false;
    ExpressionPtr filterValue;
};
struct Count {
    ExpressionPtr operand;
};
struct Exists {
    ExpressionPtr operand;
};
struct AsciiCharacter {
    ExpressionPtr code;
};
struct CommandCall {
    Command command;
    ExpressionPtr directParameter;
};
struct Make {
    ElementClass elementClass;
    ExpressionPtr properties;
};
struct Duplicate {
    ExpressionPtr object;
    ExpressionPtr to;
};
struct Delete {
    ExpressionPtr object;
};

struct Expression {
    std::variant<Literal, ListLiteral, RecordLiteral, Variable, TextItemDelimiters, ApplicationConstant, Not,
                 Negate, Binary, Coercion, PropertyOf, ElementOf, ItemOf, Every, Count, Exists,
                 AsciiCharacter, CommandCall, Make, Duplicate, Delete>
        node;
    SourceRange range;
};

struct Statement;
using StatementPtr = std::unique_ptr<Statement>;
using Block = std::vector<StatementPtr>;

struct Tell {
    std::string application;
    Block body;
};
struct WithTimeout {
    ExpressionPtr seconds;
    Block body;
};
// The target is a Variable, PropertyOf, ItemOf or TextItemDelimiters expression.
struct Set {
    ExpressionPtr target;
    ExpressionPtr value;
};
struct If {
    std::vector<std::pair<ExpressionPtr, Block>> branches;
    std::optional<Block> otherwise;
};
struct Repeat {
    enum class Kind { Forever, Times, While, Until, In, Range };
    Kind kind = Kind::Forever;
    std::string variable;
    ExpressionPtr first; // the count, the condition, the list or the start
    ExpressionPtr last;
    ExpressionPtr step;
    Block body;
};
struct ExitRepeat {};
struct Try {
    Block body;
    std::optional<std::string> messageVariable;
    std::optional<std::string> numberVariable;
    Block handler;
};
struct RaiseError {
    ExpressionPtr message;
    ExpressionPtr number;
};
struct Return {
    ExpressionPtr value;
};
struct Delay {
    ExpressionPtr seconds;
};
struct Evaluate {
    ExpressionPtr expression;
};

struct Statement {
    std::variant<Tell, WithTimeout, Set, If, Repeat, ExitRepeat, Try, RaiseError, Return, Delay, Evaluate>
        node;
    SourceRange range;
};

struct Program {
    Block body;
};

} // namespace wheelbox::osascript::syntax
