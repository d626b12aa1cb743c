#pragma once

#include <ostream>
#include <string_view>

namespace wheelbox::osascript::test {

// Parameters show in ctest's test names and in gtest filters, where addresses would change from
// run to run and ':', '*', '?' and '-' mean something: keep letters, digits and spaces only.
inline void printParameter(std::string_view text, std::ostream *os)
{
    std::size_t kept = 0;
    for (char c : text) {
        if (kept == 48)
            break;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ';
        *os << (plain ? c : '_');
        ++kept;
    }
}

} // namespace wheelbox::osascript::test
