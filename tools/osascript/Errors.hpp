#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

namespace wheelbox::osascript {

// Byte offsets into the UTF-8 program text, end exclusive (reported to the user as characters).
struct SourceRange {
    std::size_t start = 0;
    std::size_t end = 0;
};

// AppleScript's error numbers for the failures this stand-in can raise.
namespace errorNumber {
inline constexpr int userError = -2700;         // `error "text"`
inline constexpr int syntax = -2741;            // the program does not parse
inline constexpr int cannotCoerce = -1700;      // "Can’t make … into type …."
inline constexpr int cannotGet = -1728;         // "Can’t get …."
inline constexpr int notUnderstood = -1708;     // a message the target does not handle
inline constexpr int divisionByZero = -2701;    // "Can’t divide … by zero."
inline constexpr int undefinedVariable = -2753; // "The variable … is not defined."
inline constexpr int timedOut = -1712;          // "AppleEvent timed out."
inline constexpr int applicationNotRunning = -600;
inline constexpr int handlerFailed = -10000; // a command the application refused
} // namespace errorNumber

// A run-time failure: what `on error msg number n` catches and what reaches standard error.
class ExecutionError : public std::runtime_error {
  public:
    ExecutionError(std::string message, int number) : std::runtime_error(message), number_(number) {}

    int number() const noexcept { return number_; }
    const std::optional<SourceRange> &range() const noexcept { return range_; }
    // The innermost statement that failed claims the error; outer ones leave it alone.
    void claimRange(SourceRange range) noexcept
    {
        if (!range_)
            range_ = range;
    }

  private:
    int number_;
    std::optional<SourceRange> range_;
};

// A failure inside an application, in its own words; the interpreter adds "X got an error: ".
class ApplicationError : public std::runtime_error {
  public:
    ApplicationError(std::string message, int number)
        : std::runtime_error(std::move(message)), number_(number)
    {}

    int number() const noexcept { return number_; }

  private:
    int number_;
};

// The program text is not in the language this stand-in speaks.
class SyntaxError : public std::runtime_error {
  public:
    SyntaxError(std::string message, SourceRange range)
        : std::runtime_error(std::move(message)), range_(range)
    {}

    SourceRange range() const noexcept { return range_; }

  private:
    SourceRange range_;
};

} // namespace wheelbox::osascript
