#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

// Covers read straight from disk: beside the songs of a local music folder, and at the file:
// address a player gives for what it plays.
namespace wheelbox {

// The picture beside a song in the music folder MPD reads: the first of cover.*, folder.* and
// front.* (any letter case; jpg, jpeg, png, gif, bmp or webp) in the song's folder, else in its
// album's folder when the song sits in a disc folder ("CD 1"). Nothing when there is none, when it
// is over `largest` bytes, or when `songURI` is not a plain path below the folder (absolute, a "."
// or ".." part, an empty part, NUL).
std::optional<std::vector<std::byte>> readFolderArtwork(const std::filesystem::path &musicFolder,
                                                        std::string_view songURI, std::size_t largest);

// The file a "file:" address names, when it is a regular file of at most `largest` bytes inside
// one of `allowed` (links resolved first, so none leads out). Anything else is nothing: another
// scheme, a remote host, a device, a FIFO, a file elsewhere.
std::optional<std::vector<std::byte>> readArtworkFile(std::string_view fileAddress,
                                                      const std::vector<std::filesystem::path> &allowed,
                                                      std::size_t largest);

// Where a player's file: artwork may lie: the user's home, cache and runtime folders, /tmp and
// /var/tmp, and the music folder when there is one.
std::vector<std::filesystem::path>
artworkFileFolders(const std::optional<std::filesystem::path> &musicFolder);

} // namespace wheelbox
