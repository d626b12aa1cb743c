#include "Lexer.hpp"

#include "ValueOperations.hpp"

namespace wheelbox::osascript {
namespace {

constexpr std::string_view continuation = "¬";

bool isWordStart(unsigned char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}

bool isWordPart(unsigned char c) noexcept
{
    return isWordStart(c) || (c >= '0' && c <= '9');
}

bool isDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

class Lexer {
  public:
    explicit Lexer(std::string_view source) : source_(source) {}

    std::vector<Token> run()
    {
        while (at_ < source_.size()) {
            char c = source_[at_];
            if (c == ' ' || c == '\t') {
                ++at_;
            } else if (c == '\n' || c == '\r') {
                add(Token::Kind::EndOfLine, "", at_, at_ + 1);
                ++at_;
            } else if (startsWith("--") || c == '#') {
                skipLine();
            } else if (startsWith("(*")) {
                skipBlockComment();
            } else if (startsWith(continuation)) {
                skipContinuation();
            } else if (c == '"') {
                readString();
            } else if (isDigit(c) || (c == '.' && at_ + 1 < source_.size() && isDigit(source_[at_ + 1]))) {
                readNumber();
            } else if (readSymbol()) {
            } else if (isWordStart(static_cast<unsigned char>(c))) {
                readWord();
            } else {
                throw SyntaxError("A unknown token can’t go here.", {at_, at_ + 1});
            }
        }
        add(Token::Kind::EndOfScript, "", source_.size(), source_.size());
        return std::move(tokens_);
    }

  private:
    bool startsWith(std::string_view prefix) const noexcept
    {
        return source_.substr(at_).starts_with(prefix);
    }

    void add(Token::Kind kind, std::string text, std::size_t start, std::size_t end,
             std::string spelling = {})
    {
        tokens_.push_back(Token{kind, std::move(text), std::move(spelling), {start, end}});
    }

    void skipLine()
    {
        while (at_ < source_.size() && source_[at_] != '\n' && source_[at_] != '\r')
            ++at_;
    }

    void skipBlockComment()
    {
        std::size_t start = at_;
        int depth = 0;
        while (at_ < source_.size()) {
            if (startsWith("(*")) {
                ++depth;
                at_ += 2;
            } else if (startsWith("*)")) {
                at_ += 2;
                if (--depth == 0)
                    return;
            } else {
                ++at_;
            }
        }
        throw SyntaxError("Expected “*)” but found end of script.", {start, source_.size()});
    }

    // `¬` may be followed by blanks and a comment before the line break it cancels.
    void skipContinuation()
    {
        at_ += continuation.size();
        while (at_ < source_.size() && (source_[at_] == ' ' || source_[at_] == '\t'))
            ++at_;
        if (startsWith("--") || (at_ < source_.size() && source_[at_] == '#'))
            skipLine();
        if (startsWith("\r\n"))
            at_ += 2;
        else if (at_ < source_.size() && (source_[at_] == '\n' || source_[at_] == '\r'))
            ++at_;
    }

    void readString()
    {
        std::size_t start = at_++;
        std::string value;
        while (true) {
            if (at_ >= source_.size())
                throw SyntaxError("Expected “\"” but found end of script.", {start, source_.size()});
            char c = source_[at_++];
            if (c == '"')
                break;
            if (c != '\\') {
                value += c;
                continue;
            }
            if (at_ >= source_.size())
                throw SyntaxError("Expected “\"” but found end of script.", {start, source_.size()});
            char escaped = source_[at_++];
            switch (escaped) {
            case '"':
            case '\\':
                value += escaped;
                break;
            case 'n':
                value += '\n';
                break;
            case 'r':
                value += '\r';
                break;
            case 't':
                value += '\t';
                break;
            default:
                throw SyntaxError("Expected “\"” but found unknown token.", {at_ - 2, at_});
            }
        }
        add(Token::Kind::String, std::move(value), start, at_);
    }

    void readNumber()
    {
        std::size_t start = at_;
        while (at_ < source_.size() && isDigit(source_[at_]))
            ++at_;
        if (at_ + 1 < source_.size() && source_[at_] == '.' && isDigit(source_[at_ + 1])) {
            ++at_;
            while (at_ < source_.size() && isDigit(source_[at_]))
                ++at_;
        } else if (at_ < source_.size() && source_[at_] == '.' &&
                   !(at_ + 1 < source_.size() && isWordStart(static_cast<unsigned char>(source_[at_ + 1])))) {
            ++at_; // "3." is a real
        }
        if (at_ < source_.size() && (source_[at_] == 'e' || source_[at_] == 'E')) {
            std::size_t mark = at_ + 1;
            if (mark < source_.size() && (source_[mark] == '+' || source_[mark] == '-'))
                ++mark;
            if (mark < source_.size() && isDigit(source_[mark])) {
                at_ = mark;
                while (at_ < source_.size() && isDigit(source_[at_]))
                    ++at_;
            }
        }
        if (at_ < source_.size() && isWordPart(static_cast<unsigned char>(source_[at_])))
            throw SyntaxError("A identifier can’t go after this number.", {start, at_ + 1});
        add(Token::Kind::Number, std::string(source_.substr(start, at_ - start)), start, at_);
    }

    bool readSymbol()
    {
        static constexpr std::string_view symbols[] = {"≠", "≤", "≥", "<=", ">=", "/=", "(",
                                                       ")", "{", "}", ",",  ":",  "&",  "+",
                                                       "-", "*", "/", "^",  "=",  "<",  ">"};
        if (startsWith("'s") && !tokens_.empty() &&
            !(at_ + 2 < source_.size() && isWordPart(static_cast<unsigned char>(source_[at_ + 2])))) {
            add(Token::Kind::Possessive, "'s", at_, at_ + 2);
            at_ += 2;
            return true;
        }
        for (auto symbol : symbols) {
            if (startsWith(symbol)) {
                std::string text(symbol == "/=" ? "≠" : symbol == "<=" ? "≤" : symbol == ">=" ? "≥" : symbol);
                add(Token::Kind::Symbol, std::move(text), at_, at_ + symbol.size());
                at_ += symbol.size();
                return true;
            }
        }
        return false;
    }

    void readWord()
    {
        std::size_t start = at_;
        while (at_ < source_.size() && isWordPart(static_cast<unsigned char>(source_[at_])) &&
               !startsWith(continuation) && !startsWith("≠") && !startsWith("≤") && !startsWith("≥"))
            ++at_;
        auto spelling = source_.substr(start, at_ - start);
        add(Token::Kind::Word, foldCase(spelling), start, at_, std::string(spelling));
    }

    std::string_view source_;
    std::size_t at_ = 0;
    std::vector<Token> tokens_;
};

} // namespace

std::vector<Token> tokenize(std::string_view source)
{
    return Lexer(source).run();
}

} // namespace wheelbox::osascript
