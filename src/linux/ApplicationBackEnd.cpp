#include "linux/ApplicationBackEnd.hpp"

#include "linux/LinuxMediaBackend.hpp"
#include "linux/MpdLibraryGate.hpp"
#include "linux/MpdLibrarySource.hpp"

namespace wheelbox {

std::unique_ptr<MediaBackend> makeApplicationBackEnd(ApplicationBackEndParts parts)
{
    auto makeLibrarySource = [address = parts.mpdAddress, status = parts.mpdStatus, quitting = parts.quitting,
                              folder = parts.ownMusicFolder,
                              albums = parts.albumLocations]() -> std::unique_ptr<LibrarySource> {
        auto source = std::make_unique<MpdLibrarySource>(address);
        if (albums)
            source->recordAlbumLocations(albums);
        return std::make_unique<MpdLibraryGate>(
            std::move(source), address, status,
            MpdLibraryGate::Settings{.quitting = quitting, .ownMusicFolder = folder});
    };
    return makeLinuxMediaBackend({.defaults = parts.defaults,
                                  .mpdAddress = std::move(parts.mpdAddress),
                                  .makeLibrarySource = std::move(makeLibrarySource),
                                  .artwork = parts.artwork});
}

} // namespace wheelbox
