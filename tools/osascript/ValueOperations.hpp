#pragma once

#include "Value.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// AppleScript's own semantics for values: coercions, comparisons, arithmetic and the way results
// are written. Every failure is a ExecutionError with AppleScript's number.
namespace wheelbox::osascript {

enum class ArithmeticOperator { Add, Subtract, Multiply, Divide, IntegerDivide, Modulo, Power };
enum class OrderOperator { Less, LessOrEqual, Greater, GreaterOrEqual };

// A real as AppleScript writes it: 3.0, 12.5, 0.333333333333, 1.0E+4.
std::string formatReal(double value);

// `x as text`, joining list items with `delimiter` (the first text item delimiter).
std::string toText(const Value &value, std::string_view delimiter);
double toReal(const Value &value);
// Numbers keep their class; text that reads as an integer becomes one.
Value toNumber(const Value &value);
std::int64_t toInteger(const Value &value);
// `number`, computed from `source`, as a whole number for a player or a clock: rounded to the
// nearest, and the coercion error for `source` when it is NaN or beyond 64 bits.
std::int64_t checkedInteger(double number, const Value &source);
// `number`, computed from `source`, when it is finite; the coercion error for `source` otherwise.
double checkedReal(double number, const Value &source);
bool toBoolean(const Value &value);
ListPtr toList(const Value &value);
Value coerce(const Value &value, ValueClass to, std::string_view delimiter);

// `is` / `=`: no coercion between classes except integer and real; text ignores case.
bool valuesEqual(const Value &left, const Value &right);
// `<` and friends: the right operand is coerced to the left one's class (text or number).
bool valuesOrdered(OrderOperator op, const Value &left, const Value &right);
// `contains`: a text in a text, an item in a list.
bool valueContains(const Value &container, const Value &part);
Value arithmetic(ArithmeticOperator op, const Value &left, const Value &right);
Value negate(const Value &value);
// `&`: text when the left side is text, else a list (or a merged record).
Value concatenate(const Value &left, const Value &right, std::string_view delimiter);

// The value as source text, for error messages: "abc", {1, 2.5}, missing value.
std::string describeValue(const Value &value);
// The value as osascript prints a result: text bare, lists joined with ", ".
std::string formatResult(const Value &value);

// Unicode's simple case folding, for AppleScript's default `ignoring case` comparisons. Bytes that
// are not UTF-8 stay as they are.
std::string foldCase(std::string_view text);

// The text as strict UTF-8: each ill-formed sequence (its maximal subpart) becomes one U+FFFD.
std::string wellFormedText(std::string_view text);
// Characters are code points; an ill-formed UTF-8 sequence counts as one.
std::size_t characterCount(std::string_view text) noexcept;
// Every character of `text`, in one pass.
std::vector<std::string> characters(std::string_view text);
// The 1-based character `index` (negative counts from the end), or nothing when out of range.
std::optional<std::string> characterAt(std::string_view text, std::int64_t index);

} // namespace wheelbox::osascript
