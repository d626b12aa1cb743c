#pragma once

#include <exception>
#include <string>

namespace wheelbox {

// A firmware request the media worker cannot take as it came. what() is the text the device shows.
class WorkerError : public std::exception {
  public:
    enum class Kind { missingParameter, invalidParameter, unknownMethod };

    static WorkerError missingParameter(std::string name)
    {
        return {Kind::missingParameter, std::move(name)};
    }
    static WorkerError invalidParameter(std::string name)
    {
        return {Kind::invalidParameter, std::move(name)};
    }
    static WorkerError unknownMethod(std::string method) { return {Kind::unknownMethod, std::move(method)}; }

    Kind kind() const noexcept { return kind_; }
    // The parameter or method name.
    const std::string &name() const noexcept { return name_; }
    const std::string &description() const noexcept { return description_; }
    const char *what() const noexcept override { return description_.c_str(); }

    bool operator==(const WorkerError &other) const noexcept
    {
        return kind_ == other.kind_ && name_ == other.name_;
    }

  private:
    WorkerError(Kind kind, std::string name)
        : kind_(kind), name_(std::move(name)), description_(describe(kind_) + name_)
    {}

    static std::string describe(Kind kind)
    {
        switch (kind) {
        case Kind::missingParameter:
            return "Missing parameter: ";
        case Kind::invalidParameter:
            return "Invalid parameter: ";
        case Kind::unknownMethod:
            break;
        }
        return "Unknown native method: ";
    }

    Kind kind_;
    std::string name_;
    std::string description_;
};

} // namespace wheelbox
