#include "platform/RandomSource.hpp"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace wheelbox {
namespace {

class SystemRandomSource final : public RandomSource {
  public:
    std::uint64_t next() override
    {
        std::uint64_t value = 0;
        auto *bytes = reinterpret_cast<unsigned char *>(&value);
        std::size_t filled = 0;
        while (filled < sizeof value) {
            ssize_t got = getrandom(bytes + filled, sizeof value - filled, 0);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw std::system_error(errno, std::system_category(), "getrandom");
            }
            filled += static_cast<std::size_t>(got);
        }
        return value;
    }
};

} // namespace

std::uint64_t RandomSource::below(std::uint64_t bound)
{
    if (bound == 0)
        return 0;
    // Draws that fall in the incomplete last block of `bound` values are redrawn, so every
    // remainder is equally likely.
    const std::uint64_t limit =
        std::numeric_limits<std::uint64_t>::max() - std::numeric_limits<std::uint64_t>::max() % bound;
    for (;;) {
        std::uint64_t value = next();
        if (value < limit)
            return value % bound;
    }
}

std::string RandomSource::uuid()
{
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        std::uint64_t value = next();
        for (std::size_t j = 0; j < 8; ++j)
            bytes[i + j] = static_cast<std::uint8_t>(value >> (8 * j));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

RandomSource &RandomSource::system()
{
    static SystemRandomSource source;
    return source;
}

std::uint64_t SeededRandomSource::next()
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

} // namespace wheelbox
