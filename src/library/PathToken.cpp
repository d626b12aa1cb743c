#include "library/PathToken.hpp"

#include "lib/icu/Unicode.hpp"

#include <array>
#include <cstdint>

namespace wheelbox {
namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::array<std::int8_t, 256> makeDecodeTable()
{
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto decodeTable = makeDecodeTable();

} // namespace

std::string encodePathToken(std::string_view name)
{
    std::string token;
    token.reserve((name.size() * 4 + 2) / 3);
    std::size_t i = 0;
    auto byte = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(name[at]));
    };
    for (; i + 3 <= name.size(); i += 3) {
        auto bits = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        token += alphabet[bits >> 18 & 63];
        token += alphabet[bits >> 12 & 63];
        token += alphabet[bits >> 6 & 63];
        token += alphabet[bits & 63];
    }
    if (auto rest = name.size() - i; rest == 1) {
        auto bits = byte(i) << 16;
        token += alphabet[bits >> 18 & 63];
        token += alphabet[bits >> 12 & 63];
    } else if (rest == 2) {
        auto bits = byte(i) << 16 | byte(i + 1) << 8;
        token += alphabet[bits >> 18 & 63];
        token += alphabet[bits >> 12 & 63];
        token += alphabet[bits >> 6 & 63];
    }
    return token;
}

std::optional<std::string> decodePathToken(std::string_view token)
{
    // One leftover character cannot hold a whole byte.
    if (token.size() % 4 == 1)
        return std::nullopt;
    std::string bytes;
    bytes.reserve(token.size() * 3 / 4);
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (char c : token) {
        auto value = decodeTable[static_cast<unsigned char>(c)];
        if (value < 0)
            return std::nullopt;
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes += static_cast<char>(bits >> bitCount & 0xFF);
        }
    }
    // Padding bits must be zero, so that every name has exactly one token.
    if ((bits & ((1U << bitCount) - 1)) != 0)
        return std::nullopt;
    if (!icu::isValidUTF8(bytes))
        return std::nullopt;
    return bytes;
}

} // namespace wheelbox
