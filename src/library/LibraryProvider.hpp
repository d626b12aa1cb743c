#pragma once

#include "model/MediaList.hpp"

#include <string>
#include <string_view>

namespace wheelbox {

// A source of browsable lists. Its id is the first component of every path it answers.
class LibraryProvider {
  public:
    virtual ~LibraryProvider() = default;

    virtual const std::string &id() const noexcept = 0;

    // The list behind a path. Throws LibraryError.
    virtual MediaList list(std::string_view path) = 0;
};

} // namespace wheelbox
