#include "platform/Artwork.hpp"

#include "model/PersistentID.hpp"

namespace wheelbox {
namespace {

struct SizeText {
    ArtworkSize size;
    std::string_view pixels;
};
constexpr SizeText sizes[] = {{ArtworkSize::cover, "168"}, {ArtworkSize::row, "64"}};
static_assert(static_cast<int>(ArtworkSize::cover) == 168 && static_cast<int>(ArtworkSize::row) == 64);

} // namespace

std::string formatArtworkName(const ArtworkName &name)
{
    return formatPersistentID(name.key) + "-" + std::to_string(static_cast<int>(name.size));
}

std::optional<ArtworkName> parseArtworkName(std::string_view text) noexcept
{
    constexpr std::size_t keyLength = 16;
    if (text.size() <= keyLength + 1 || text[keyLength] != '-')
        return std::nullopt;
    auto key = parsePersistentID(text.substr(0, keyLength));
    if (!key)
        return std::nullopt;
    const auto pixels = text.substr(keyLength + 1);
    for (const auto &size : sizes) {
        if (pixels == size.pixels)
            return ArtworkName{*key, size.size};
    }
    return std::nullopt;
}

std::string artworkAddress(const ArtworkName &name)
{
    std::string address(artworkAddressPrefix);
    address += formatArtworkName(name);
    return address;
}

} // namespace wheelbox
