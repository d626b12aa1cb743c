#include "Parser.hpp"

#include "Dictionary.hpp"
#include "Lexer.hpp"

#include <algorithm>
#include <array>
#include <charconv>

namespace wheelbox::osascript {
namespace {

using namespace syntax;
using Kind = Token::Kind;

// Words the language keeps for itself; none of them can name a variable.
constexpr std::array reservedWords = {
    "about",       "above",   "after",     "and",      "application", "as",      "ascii",   "at",
    "back",        "before",  "beginning", "behind",   "below",       "boolean", "but",     "by",
    "considering", "contain", "contains",  "continue", "copy",        "count",   "delay",   "delete",
    "div",         "does",    "duplicate", "else",     "end",         "equal",   "equals",  "error",
    "every",       "exists",  "exit",      "false",    "first",       "for",     "from",    "front",
    "get",         "given",   "global",    "if",       "ignoring",    "in",      "integer", "into",
    "is",          "it",      "item",      "its",      "last",        "list",    "local",   "make",
    "me",          "missing", "mod",       "my",       "new",         "not",     "number",  "of",
    "on",          "onto",    "or",        "property", "real",        "record",  "ref",     "repeat",
    "return",      "script",  "second",    "set",      "some",        "string",  "tell",    "text",
    "that",        "the",     "then",      "through",  "thru",        "timeout", "times",   "to",
    "true",        "try",     "until",     "where",    "while",       "whose",   "with",    "without",
};

bool isReserved(std::string_view word) noexcept
{
    return std::find(reservedWords.begin(), reservedWords.end(), word) != reservedWords.end();
}

// The deepest a program may nest (parentheses, lists, blocks, chains of operators): far beyond any
// script of the players, and shallow enough that parsing, running and freeing it never exhaust the
// stack.
constexpr int deepestNesting = 200;

// Whether a literal that does not fit a double is too small (it then reads as 0) rather than too
// large: from_chars reports both as out of range.
bool isTooSmall(std::string_view literal) noexcept
{
    auto e = literal.find_first_of("eE");
    std::string_view mantissa = literal.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits = literal.substr(e + 1);
        bool negative = !digits.empty() && digits.front() == '-';
        if (!digits.empty() && (digits.front() == '-' || digits.front() == '+'))
            digits.remove_prefix(1);
        if (std::from_chars(digits.data(), digits.data() + digits.size(), exponent).ec != std::errc())
            return negative;
        exponent = negative ? -exponent : exponent;
    }
    auto dot = std::min(mantissa.find('.'), mantissa.size());
    auto first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos)
        return true;
    long long magnitude =
        first < dot ? static_cast<long long>(dot - first) - 1 : -static_cast<long long>(first - dot);
    return magnitude + exponent < 0;
}

class Parser {
  public:
    explicit Parser(std::string_view source) : tokens_(tokenize(source)) {}

    // One level of nesting while it lives; past the deepest, a syntax error.
    class Nested {
      public:
        explicit Nested(Parser &parser, int levels = 1) : parser_(parser), levels_(levels)
        {
            parser_.depth_ += levels_;
            if (parser_.depth_ > deepestNesting) {
                parser_.depth_ -= levels_;
                throw SyntaxError("The program is nested too deeply.", parser_.peek().range);
            }
        }
        ~Nested() { parser_.depth_ -= levels_; }
        Nested(const Nested &) = delete;
        Nested &operator=(const Nested &) = delete;

      private:
        Parser &parser_;
        int levels_;
    };

    Program run()
    {
        Program program;
        program.body = parseBlock();
        if (!at(Kind::EndOfScript))
            expected("end of script");
        return program;
    }

  private:
    // Tokens.

    const Token &peek(std::size_t ahead = 0) const noexcept
    {
        return tokens_[std::min(position_ + ahead, tokens_.size() - 1)];
    }
    bool at(Kind kind) const noexcept { return peek().kind == kind; }
    bool atWord(std::string_view word, std::size_t ahead = 0) const noexcept
    {
        return peek(ahead).kind == Kind::Word && peek(ahead).text == word;
    }
    bool atSymbol(std::string_view symbol) const noexcept
    {
        return peek().kind == Kind::Symbol && peek().text == symbol;
    }
    bool atLineEnd() const noexcept { return at(Kind::EndOfLine) || at(Kind::EndOfScript); }

    const Token &advance() noexcept
    {
        const Token &token = tokens_[position_];
        lastEnd_ = token.range.end;
        if (position_ + 1 < tokens_.size())
            ++position_;
        return token;
    }

    bool acceptWord(std::string_view word) noexcept
    {
        if (!atWord(word))
            return false;
        advance();
        return true;
    }
    bool acceptSymbol(std::string_view symbol) noexcept
    {
        if (!atSymbol(symbol))
            return false;
        advance();
        return true;
    }
    void expectWord(std::string_view word)
    {
        if (!acceptWord(word))
            expected("“" + std::string(word) + "”");
    }
    void expectSymbol(std::string_view symbol)
    {
        if (!acceptSymbol(symbol))
            expected("“" + std::string(symbol) + "”");
    }

    static std::string describe(const Token &token)
    {
        switch (token.kind) {
        case Kind::Word:
            return isReserved(token.text) ? "“" + token.spelling + "”" : "identifier";
        case Kind::Number:
            return "number";
        case Kind::String:
            return "“\"”";
        case Kind::Symbol:
        case Kind::Possessive:
            return "“" + token.text + "”";
        case Kind::EndOfLine:
            return "end of line";
        case Kind::EndOfScript:
            return "end of script";
        }
        return "unknown token";
    }

    [[noreturn]] void expected(std::string_view what) const
    {
        throw SyntaxError("Expected " + std::string(what) + " but found " + describe(peek()) + ".",
                          peek().range);
    }

    std::size_t start() const noexcept { return peek().range.start; }
    SourceRange rangeFrom(std::size_t startOffset) const noexcept { return {startOffset, lastEnd_}; }

    template <typename Node> ExpressionPtr expression(Node node, std::size_t startOffset) const
    {
        return std::make_unique<Expression>(Expression{std::move(node), rangeFrom(startOffset)});
    }

    // Application terms.

    struct TermMatch {
        const Dictionary::Term *term = nullptr;
        std::size_t length = 0;
    };

    // The longest term of the tell block's dictionary that the next words spell.
    TermMatch matchTerm() const noexcept
    {
        TermMatch best;
        if (!dictionary_)
            return best;
        for (const auto &term : dictionary_->terms) {
            std::string_view rest = term.words;
            std::size_t length = 0;
            bool matches = true;
            while (!rest.empty()) {
                auto space = rest.find(' ');
                auto word = rest.substr(0, space);
                if (!atWord(word, length)) {
                    matches = false;
                    break;
                }
                ++length;
                rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
            }
            if (matches && length > best.length)
                best = {&term, length};
        }
        return best;
    }

    void skip(std::size_t count) noexcept
    {
        for (std::size_t i = 0; i < count; ++i)
            advance();
    }

    // Statements.

    bool atBlockEnd() const noexcept
    {
        return at(Kind::EndOfScript) || atWord("end") || atWord("else") ||
               (atWord("on") && atWord("error", 1));
    }

    Block parseBlock()
    {
        Block block;
        while (true) {
            while (at(Kind::EndOfLine))
                advance();
            if (atBlockEnd())
                return block;
            block.push_back(parseStatement());
            if (!atLineEnd())
                expected("end of line");
        }
    }

    void expectLineEnd()
    {
        if (!at(Kind::EndOfLine))
            expected("end of line");
    }

    void expectEnd(std::string_view what)
    {
        expectWord("end");
        acceptWord(what);
    }

    template <typename Node> StatementPtr statement(Node node, std::size_t startOffset) const
    {
        return std::make_unique<Statement>(Statement{std::move(node), rangeFrom(startOffset)});
    }

    StatementPtr parseStatement()
    {
        Nested level(*this);
        std::size_t begin = start();
        if (acceptWord("tell"))
            return parseTell(begin);
        if (atWord("with") && atWord("timeout", 1))
            return parseTimeout(begin);
        if (acceptWord("if"))
            return parseIf(begin);
        if (acceptWord("repeat"))
            return parseRepeat(begin);
        if (acceptWord("exit")) {
            acceptWord("repeat");
            return statement(ExitRepeat{}, begin);
        }
        if (acceptWord("try"))
            return parseTry(begin);
        if (acceptWord("error")) {
            RaiseError raise;
            if (!atLineEnd() && !atWord("number"))
                raise.message = parseExpression();
            if (acceptWord("number"))
                raise.number = parseExpression();
            return statement(std::move(raise), begin);
        }
        if (acceptWord("return")) {
            Return result;
            if (!atLineEnd())
                result.value = parseExpression();
            return statement(std::move(result), begin);
        }
        if (acceptWord("set")) {
            Set set;
            set.target = parseTarget();
            expectWord("to");
            set.value = parseExpression();
            return statement(std::move(set), begin);
        }
        if (acceptWord("get"))
            return statement(Evaluate{parseExpression()}, begin);
        if (acceptWord("delay"))
            return statement(Delay{parseExpression()}, begin);
        return statement(Evaluate{parseExpression()}, begin);
    }

    StatementPtr parseTell(std::size_t begin)
    {
        expectWord("application");
        if (!at(Kind::String))
            expected("application name");
        const Token &name = advance();
        const Dictionary *dictionary = findDictionary(name.text);
        if (!dictionary)
            throw SyntaxError("Can’t find application “" + name.text + "”.", name.range);
        Tell tell{std::string(dictionary->applicationName), {}};
        const Dictionary *outer = std::exchange(dictionary_, dictionary);
        if (acceptWord("to")) {
            tell.body.push_back(parseStatement());
        } else {
            expectLineEnd();
            tell.body = parseBlock();
            expectEnd("tell");
        }
        dictionary_ = outer;
        return statement(std::move(tell), begin);
    }

    StatementPtr parseTimeout(std::size_t begin)
    {
        skip(2);
        acceptWord("of");
        WithTimeout timeout;
        timeout.seconds = parseExpression();
        if (!acceptWord("seconds"))
            expectWord("second");
        expectLineEnd();
        timeout.body = parseBlock();
        expectEnd("timeout");
        return statement(std::move(timeout), begin);
    }

    StatementPtr parseIf(std::size_t begin)
    {
        If conditional;
        auto condition = parseExpression();
        expectWord("then");
        if (!at(Kind::EndOfLine)) {
            Block single;
            single.push_back(parseStatement());
            conditional.branches.emplace_back(std::move(condition), std::move(single));
            return statement(std::move(conditional), begin);
        }
        conditional.branches.emplace_back(std::move(condition), parseBlock());
        while (acceptWord("else")) {
            if (acceptWord("if")) {
                auto next = parseExpression();
                expectWord("then");
                expectLineEnd();
                conditional.branches.emplace_back(std::move(next), parseBlock());
            } else {
                expectLineEnd();
                conditional.otherwise = parseBlock();
                break;
            }
        }
        expectEnd("if");
        return statement(std::move(conditional), begin);
    }

    std::string parseVariableName()
    {
        if (!at(Kind::Word) || isReserved(peek().text) || matchTerm().term)
            expected("variable name");
        return advance().text;
    }

    StatementPtr parseRepeat(std::size_t begin)
    {
        Repeat repeat;
        if (at(Kind::EndOfLine)) {
            repeat.kind = Repeat::Kind::Forever;
        } else if (acceptWord("while")) {
            repeat.kind = Repeat::Kind::While;
            repeat.first = parseExpression();
        } else if (acceptWord("until")) {
            repeat.kind = Repeat::Kind::Until;
            repeat.first = parseExpression();
        } else if (acceptWord("with")) {
            repeat.variable = parseVariableName();
            if (acceptWord("in")) {
                repeat.kind = Repeat::Kind::In;
                repeat.first = parseExpression();
            } else {
                expectWord("from");
                repeat.kind = Repeat::Kind::Range;
                repeat.first = parseExpression();
                expectWord("to");
                repeat.last = parseExpression();
                if (acceptWord("by"))
                    repeat.step = parseExpression();
            }
        } else {
            repeat.kind = Repeat::Kind::Times;
            repeat.first = parseExpression();
            expectWord("times");
        }
        expectLineEnd();
        repeat.body = parseBlock();
        expectEnd("repeat");
        return statement(std::move(repeat), begin);
    }

    StatementPtr parseTry(std::size_t begin)
    {
        Try attempt;
        expectLineEnd();
        attempt.body = parseBlock();
        if (acceptWord("on")) {
            expectWord("error");
            if (at(Kind::Word) && !atWord("number"))
                attempt.messageVariable = parseVariableName();
            if (acceptWord("number"))
                attempt.numberVariable = parseVariableName();
            expectLineEnd();
            attempt.handler = parseBlock();
        }
        expectWord("end");
        if (!acceptWord("try"))
            acceptWord("error");
        return statement(std::move(attempt), begin);
    }

    ExpressionPtr parseTarget()
    {
        std::size_t begin = start();
        auto target = parseReference();
        bool assignable = std::holds_alternative<Variable>(target->node) ||
                          std::holds_alternative<PropertyOf>(target->node) ||
                          std::holds_alternative<ItemOf>(target->node) ||
                          std::holds_alternative<TextItemDelimiters>(target->node);
        if (!assignable)
            throw SyntaxError("Can’t set this kind of value.", rangeFrom(begin));
        return target;
    }

    // Expressions, loosest binding first.

    ExpressionPtr parseExpression()
    {
        Nested level(*this);
        return parseOr();
    }

    // A chain of left-associative operators builds a tree one level deeper per operator.
    void chained(int &links)
    {
        ++links;
        if (depth_ + links > deepestNesting)
            throw SyntaxError("The program is nested too deeply.", peek().range);
    }

    ExpressionPtr parseOr()
    {
        std::size_t begin = start();
        auto left = parseAnd();
        int links = 0;
        while (acceptWord("or") && (chained(links), true))
            left = expression(Binary{BinaryOperator::Or, std::move(left), parseAnd()}, begin);
        return left;
    }

    ExpressionPtr parseAnd()
    {
        std::size_t begin = start();
        auto left = parseNot();
        int links = 0;
        while (acceptWord("and") && (chained(links), true))
            left = expression(Binary{BinaryOperator::And, std::move(left), parseNot()}, begin);
        return left;
    }

    ExpressionPtr parseNot()
    {
        std::size_t begin = start();
        if (acceptWord("not")) {
            Nested level(*this);
            return expression(Not{parseNot()}, begin);
        }
        return parseComparison();
    }

    std::optional<BinaryOperator> acceptComparison()
    {
        if (acceptWord("is")) {
            bool negated = acceptWord("not");
            if (acceptWord("equal")) {
                expectWord("to");
                return negated ? BinaryOperator::NotEqual : BinaryOperator::Equal;
            }
            auto orEqual = [this] {
                if (atWord("or") && atWord("equal", 1)) {
                    skip(2);
                    expectWord("to");
                    return true;
                }
                return false;
            };
            if (acceptWord("greater")) {
                expectWord("than");
                bool inclusive = orEqual();
                if (negated)
                    return inclusive ? BinaryOperator::Less : BinaryOperator::LessOrEqual;
                return inclusive ? BinaryOperator::GreaterOrEqual : BinaryOperator::Greater;
            }
            if (acceptWord("less")) {
                expectWord("than");
                bool inclusive = orEqual();
                if (negated)
                    return inclusive ? BinaryOperator::Greater : BinaryOperator::GreaterOrEqual;
                return inclusive ? BinaryOperator::LessOrEqual : BinaryOperator::Less;
            }
            return negated ? BinaryOperator::NotEqual : BinaryOperator::Equal;
        }
        if (acceptWord("equals") || acceptSymbol("="))
            return BinaryOperator::Equal;
        if (acceptSymbol("≠"))
            return BinaryOperator::NotEqual;
        if (acceptSymbol("<"))
            return BinaryOperator::Less;
        if (acceptSymbol("≤"))
            return BinaryOperator::LessOrEqual;
        if (acceptSymbol(">"))
            return BinaryOperator::Greater;
        if (acceptSymbol("≥"))
            return BinaryOperator::GreaterOrEqual;
        if (acceptWord("contains"))
            return BinaryOperator::Contains;
        if (atWord("does") && atWord("not", 1)) {
            skip(2);
            if (acceptWord("contain"))
                return BinaryOperator::DoesNotContain;
            expectWord("equal");
            return BinaryOperator::NotEqual;
        }
        return std::nullopt;
    }

    ExpressionPtr parseComparison()
    {
        std::size_t begin = start();
        auto left = parseCoercion();
        int links = 0;
        while (auto op = acceptComparison()) {
            chained(links);
            left = expression(Binary{*op, std::move(left), parseCoercion()}, begin);
        }
        return left;
    }

    ValueClass parseClassName()
    {
        if (acceptWord("text") || acceptWord("string"))
            return ValueClass::Text;
        if (atWord("unicode") && atWord("text", 1)) {
            skip(2);
            return ValueClass::Text;
        }
        if (acceptWord("integer"))
            return ValueClass::Integer;
        if (acceptWord("real"))
            return ValueClass::Real;
        if (acceptWord("number"))
            return ValueClass::Number;
        if (acceptWord("boolean"))
            return ValueClass::Boolean;
        if (acceptWord("list"))
            return ValueClass::ListValue;
        if (acceptWord("record"))
            return ValueClass::RecordValue;
        expected("class name");
    }

    ExpressionPtr parseCoercion()
    {
        std::size_t begin = start();
        auto operand = parseConcatenation();
        int links = 0;
        while (acceptWord("as") && (chained(links), true))
            operand = expression(Coercion{std::move(operand), parseClassName()}, begin);
        return operand;
    }

    ExpressionPtr parseConcatenation()
    {
        std::size_t begin = start();
        auto left = parseAdditive();
        int links = 0;
        while (acceptSymbol("&") && (chained(links), true))
            left = expression(Binary{BinaryOperator::Concatenate, std::move(left), parseAdditive()}, begin);
        return left;
    }

    ExpressionPtr parseAdditive()
    {
        std::size_t begin = start();
        auto left = parseMultiplicative();
        for (int links = 0;; chained(links)) {
            if (acceptSymbol("+"))
                left = expression(Binary{BinaryOperator::Add, std::move(left), parseMultiplicative()}, begin);
            else if (acceptSymbol("-"))
                left = expression(Binary{BinaryOperator::Subtract, std::move(left), parseMultiplicative()},
                                  begin);
            else
                return left;
        }
    }

    ExpressionPtr parseMultiplicative()
    {
        std::size_t begin = start();
        auto left = parsePower();
        for (int links = 0;; chained(links)) {
            std::optional<BinaryOperator> op;
            if (acceptSymbol("*"))
                op = BinaryOperator::Multiply;
            else if (acceptSymbol("/"))
                op = BinaryOperator::Divide;
            else if (acceptWord("div"))
                op = BinaryOperator::IntegerDivide;
            else if (acceptWord("mod"))
                op = BinaryOperator::Modulo;
            if (!op)
                return left;
            left = expression(Binary{*op, std::move(left), parsePower()}, begin);
        }
    }

    ExpressionPtr parsePower()
    {
        std::size_t begin = start();
        auto base = parseUnary();
        if (acceptSymbol("^")) {
            Nested level(*this);
            return expression(Binary{BinaryOperator::Power, std::move(base), parsePower()}, begin);
        }
        return base;
    }

    ExpressionPtr parseUnary()
    {
        std::size_t begin = start();
        Nested level(*this);
        if (acceptSymbol("-"))
            return expression(Negate{parseUnary()}, begin);
        if (acceptSymbol("+"))
            return parseUnary();
        return parseReference();
    }

    // A primary, and `of` containers for the kinds of primary that have them.
    ExpressionPtr parseReference()
    {
        Nested level(*this);
        std::size_t begin = start();
        auto primary = parsePrimary();
        auto withContainer = [&](ExpressionPtr &container) {
            if (!container && acceptWord("of"))
                container = parseReference();
        };
        if (auto property = std::get_if<PropertyOf>(&primary->node))
            withContainer(property->container);
        else if (auto element = std::get_if<ElementOf>(&primary->node))
            withContainer(element->container);
        else if (auto item = std::get_if<ItemOf>(&primary->node); item && !item->container) {
            expectWord("of");
            item->container = parseReference();
        }
        primary->range = rangeFrom(begin);
        return primary;
    }

    // Whether the next token can begin an operand (an element's key, a command's parameter).
    bool atOperandStart() const noexcept
    {
        switch (peek().kind) {
        case Kind::Number:
        case Kind::String:
            return true;
        case Kind::Symbol:
            return atSymbol("(") || atSymbol("{") || atSymbol("-");
        case Kind::Word:
            return !isReserved(peek().text) || atWord("item") || atWord("every") || atWord("true") ||
                   atWord("false") || atWord("end");
        default:
            return false;
        }
    }

    ExpressionPtr parseOperand()
    {
        Nested level(*this);
        std::size_t begin = start();
        if (acceptSymbol("-"))
            return expression(Negate{parseOperand()}, begin);
        return parsePrimary();
    }

    ExpressionPtr parseNumber()
    {
        std::size_t begin = start();
        const Token &token = advance();
        std::int64_t integer = 0;
        const char *first = token.text.data();
        const char *last = first + token.text.size();
        if (auto [end, error] = std::from_chars(first, last, integer); error == std::errc() && end == last)
            return expression(Literal{Value(integer)}, begin);
        double real = 0;
        if (std::from_chars(first, last, real).ec == std::errc::result_out_of_range) {
            if (!isTooSmall(token.text))
                throw SyntaxError("The result of a numeric operation was too large.", token.range);
            real = 0;
        }
        return expression(Literal{Value(real)}, begin);
    }

    ExpressionPtr parseBraces(std::size_t begin)
    {
        if (acceptSymbol("}"))
            return expression(ListLiteral{}, begin);
        bool isRecord = at(Kind::Word) && peek(1).kind == Kind::Symbol && peek(1).text == ":";
        if (isRecord) {
            RecordLiteral record;
            do {
                if (!at(Kind::Word))
                    expected("property label");
                std::string label = advance().text;
                expectSymbol(":");
                record.fields.emplace_back(std::move(label), parseExpression());
            } while (acceptSymbol(","));
            expectSymbol("}");
            return expression(std::move(record), begin);
        }
        ListLiteral list;
        do {
            list.items.push_back(parseExpression());
        } while (acceptSymbol(","));
        expectSymbol("}");
        return expression(std::move(list), begin);
    }

    ElementClass parseElementClass()
    {
        auto match = matchTerm();
        if (!match.term || match.term->kind != Dictionary::TermKind::ElementClass)
            expected("class name");
        skip(match.length);
        return static_cast<ElementClass>(match.term->code);
    }

    ExpressionPtr parseEvery(std::size_t begin)
    {
        Every every;
        every.elementClass = parseElementClass();
        if (acceptWord("of"))
            every.container = parseReference();
        if (acceptWord("whose")) {
            auto match = matchTerm();
            if (!match.term || match.term->kind != Dictionary::TermKind::Property)
                expected("property");
            skip(match.length);
            every.filterProperty = static_cast<Property>(match.term->code);
            auto op = acceptComparison();
            if (op != BinaryOperator::Equal && op != BinaryOperator::NotEqual)
                expected("“is”");
            every.filterNegated = op == BinaryOperator::NotEqual;
            every.filterValue = parseConcatenation();
        }
        return expression(std::move(every), begin);
    }

    // Called before the command word is read: the error marks that word.
    void requireStandardSuite() const
    {
        if (!dictionary_ || !dictionary_->hasStandardSuite)
            throw SyntaxError("Expected expression but found command name.", peek().range);
    }

    ExpressionPtr parsePrimary()
    {
        std::size_t begin = start();
        switch (peek().kind) {
        case Kind::Number:
            return parseNumber();
        case Kind::String:
            return expression(Literal{Value(advance().text)}, begin);
        case Kind::Symbol:
            if (acceptSymbol("(")) {
                auto inner = parseExpression();
                expectSymbol(")");
                inner->range = rangeFrom(begin);
                return inner;
            }
            if (acceptSymbol("{"))
                return parseBraces(begin);
            expected("expression");
        case Kind::Word:
            return parseWord(begin);
        default:
            expected("expression");
        }
    }

    ExpressionPtr parseWord(std::size_t begin)
    {
        if (acceptWord("true"))
            return expression(Literal{Value(true)}, begin);
        if (acceptWord("false"))
            return expression(Literal{Value(false)}, begin);
        if (acceptWord("missing")) {
            expectWord("value");
            return expression(Literal{Value(MissingValue{})}, begin);
        }
        if (atWord("applescript") && peek(1).kind == Kind::Possessive) {
            skip(2);
            expectWord("text");
            expectWord("item");
            expectWord("delimiters");
            return expression(TextItemDelimiters{}, begin);
        }
        if (atWord("text") && atWord("item", 1) && atWord("delimiters", 2)) {
            skip(3);
            if (acceptWord("of"))
                expectWord("applescript");
            return expression(TextItemDelimiters{}, begin);
        }
        if (acceptWord("ascii")) {
            expectWord("character");
            return expression(AsciiCharacter{parseOperand()}, begin);
        }
        if (acceptWord("count")) {
            acceptWord("of");
            return expression(Count{parseReference()}, begin);
        }
        if (acceptWord("exists"))
            return expression(Exists{parseReference()}, begin);
        if (acceptWord("every"))
            return parseEvery(begin);
        if (acceptWord("item"))
            return expression(ItemOf{parseOperand(), nullptr}, begin);
        if (atWord("end") && atWord("of", 1)) {
            advance();
            return expression(ItemOf{nullptr, nullptr}, begin);
        }
        if (atWord("make")) {
            requireStandardSuite();
            advance();
            expectWord("new");
            Make make{parseElementClass(), nullptr};
            if (acceptWord("with")) {
                expectWord("properties");
                make.properties = parseOperand();
            }
            return expression(std::move(make), begin);
        }
        if (atWord("duplicate")) {
            requireStandardSuite();
            advance();
            auto object = parseReference();
            expectWord("to");
            return expression(Duplicate{std::move(object), parseReference()}, begin);
        }
        if (atWord("delete")) {
            requireStandardSuite();
            advance();
            return expression(Delete{parseReference()}, begin);
        }
        if (auto match = matchTerm(); match.term) {
            skip(match.length);
            switch (match.term->kind) {
            case Dictionary::TermKind::Property:
                return expression(PropertyOf{static_cast<Property>(match.term->code), nullptr}, begin);
            case Dictionary::TermKind::ElementClass: {
                auto elementClass = static_cast<ElementClass>(match.term->code);
                if (!atOperandStart())
                    expected("index or name");
                return expression(ElementOf{elementClass, parseOperand(), nullptr}, begin);
            }
            case Dictionary::TermKind::Command: {
                auto command = static_cast<Command>(match.term->code);
                ExpressionPtr parameter;
                if (command == Command::Play && atOperandStart())
                    parameter = parseReference();
                return expression(CommandCall{command, std::move(parameter)}, begin);
            }
            case Dictionary::TermKind::Constant:
                return expression(ApplicationConstant{Constant{std::string(match.term->words)}}, begin);
            }
        }
        if (isReserved(peek().text))
            expected("expression");
        const Token &word = advance();
        return expression(Variable{word.text, word.spelling}, begin);
    }

    std::vector<Token> tokens_;
    std::size_t position_ = 0;
    std::size_t lastEnd_ = 0;
    const Dictionary *dictionary_ = nullptr;
    int depth_ = 0;
};

} // namespace

syntax::Program parseProgram(std::string_view source)
{
    return Parser(source).run();
}

} // namespace wheelbox::osascript
