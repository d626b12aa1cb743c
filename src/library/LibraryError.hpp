#pragma once

#include <exception>
#include <string>

namespace wheelbox {

// A library request that cannot be answered. The description is what the user reads.
class LibraryError : public std::exception {
  public:
    enum class Kind { unknownPath };

    static LibraryError unknownPath(std::string path)
    {
        return LibraryError(Kind::unknownPath, std::move(path));
    }

    Kind kind() const noexcept { return kind_; }
    const std::string &path() const noexcept { return path_; }
    const std::string &description() const noexcept { return description_; }
    const char *what() const noexcept override { return description_.c_str(); }

    bool operator==(const LibraryError &other) const noexcept
    {
        return kind_ == other.kind_ && path_ == other.path_;
    }

  private:
    LibraryError(Kind kind, std::string path)
        : kind_(kind), path_(std::move(path)), description_("Unknown library path: " + path_)
    {}

    Kind kind_;
    std::string path_;
    std::string description_;
};

} // namespace wheelbox
