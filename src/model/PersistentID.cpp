#include "model/PersistentID.hpp"

#include <array>

namespace wheelbox {

std::string formatPersistentID(std::uint64_t id)
{
    static constexpr std::array<char, 16> digits{'0', '1', '2', '3', '4', '5', '6', '7',
                                                 '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string text(16, '0');
    for (int position = 15; position >= 0; --position) {
        text[static_cast<std::size_t>(position)] = digits[id & 0xF];
        id >>= 4;
    }
    return text;
}

std::optional<std::uint64_t> parsePersistentID(std::string_view text) noexcept
{
    if (text.size() != 16)
        return std::nullopt;
    std::uint64_t id = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        id = (id << 4) | digit;
    }
    return id;
}

} // namespace wheelbox
