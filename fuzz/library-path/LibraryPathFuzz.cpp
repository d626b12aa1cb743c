// Library paths as the firmware sends them, over a small fixed library whose names need every
// kind of token, and path tokens on their own.
#include "FuzzCheck.hpp"
#include "lib/icu/Unicode.hpp"
#include "library/JSONLibrarySource.hpp"
#include "library/LibraryError.hpp"
#include "library/MusicLibraryProvider.hpp"
#include "library/PathToken.hpp"
#include "model/PersistentID.hpp"
#include "support/ManualClock.hpp"

#include <cstdint>
#include <string_view>

namespace {

using namespace wheelbox;

// Names with slashes, pluses, combining marks, a NUL, nothing but blanks; a repeated song; an untitled
// album; playlists that hold repeats and a song dropped as a repeat.
constexpr std::string_view libraryJSON = R"({
  "songs": [
    {"id": "A1", "title": "Thunder", "artist": "AC/DC", "album": {"id": "B1", "title": "Live"}, "track": 2, "genre": "Hard Rock"},
    {"id": "A2", "title": "Back", "artist": "AC/DC", "album": {"id": "B1", "title": "Live"}, "track": 1, "genre": "Hard Rock"},
    {"id": "A3", "title": "Sur le pont", "artist": "Ce\u0301line", "album": {"id": "B2", "title": "D’Avignon", "disc": 2}, "genre": "R&B/Soul"},
    {"id": "A4", "title": "Pont", "artist": "C\u00e9line", "album": {"id": "B2", "title": "D’Avignon", "disc": 1}, "genre": "R&B/Soul"},
    {"id": "A5", "title": "Nul", "artist": "a\u0000b", "album": {"id": "FFFFFFFFFFFFFFFF", "title": "Max"}, "genre": "+/?"},
    {"id": "A6", "title": "Blank", "artist": "   ", "album": {"id": "B3", "title": "  "}},
    {"id": "A7", "title": "🎵 Song", "artist": "🎵", "album": {"id": "0", "title": "Zero"}, "genre": "🎵"},
    {"id": "A1", "title": "Again", "artist": "Other", "album": {"id": "B4", "title": "Other"}},
    {"id": "A8", "title": "Talk", "kind": "podcast", "album": {"id": "B5", "title": "Talk"}}
  ],
  "playlists": [
    {"id": "C1", "name": "Mix/Tape", "items": [0, 2, 7, 0]},
    {"id": "C2", "name": "", "items": [4]},
    {"id": "C3", "name": "Folder", "kind": "folder", "items": [1]},
    {"id": "C4", "name": "Wheelbox Queue • 1A2B3C4D", "items": [0]}
  ]
})";

MusicLibraryProvider &provider()
{
    static test::ManualClock clock;
    static JSONLibrarySource source{std::string(libraryJSON)};
    static MusicLibraryProvider library(source, clock, "");
    return library;
}

bool isTrackRow(const MediaItem &item)
{
    constexpr std::string_view prefix = "music-track:";
    return item.id.starts_with(prefix);
}

// Every list and row the library makes from a path it accepted.
void checkList(std::string_view path, const MediaList &list, int depth)
{
    WHEELBOX_FUZZ_CHECK(list.id == path);
    WHEELBOX_FUZZ_CHECK(wheelbox::icu::isValidUTF8(list.title));
    auto ids = provider().trackIDs(path);
    std::size_t tracks = 0;
    for (const auto &item : list.items) {
        WHEELBOX_FUZZ_CHECK(wheelbox::icu::isValidUTF8(item.title));
        if (isTrackRow(item)) {
            auto hex = std::string_view(item.id).substr(std::string_view("music-track:").size());
            auto id = parsePersistentID(hex);
            WHEELBOX_FUZZ_CHECK(id && formatPersistentID(*id) == hex);
            WHEELBOX_FUZZ_CHECK(tracks < ids.size() && ids[tracks] == hex);
            ++tracks;
            continue;
        }
        // A row the library gives out is a path it opens, to the title the row shows.
        WHEELBOX_FUZZ_CHECK(item.id.starts_with("music/"));
        if (depth > 0) {
            auto child = provider().list(item.id);
            checkList(item.id, child, depth - 1);
        }
    }
    WHEELBOX_FUZZ_CHECK(tracks == ids.size());
}

void checkToken(std::string_view text)
{
    // Every name has one token and comes back from it...
    auto token = encodePathToken(text);
    auto back = decodePathToken(token);
    WHEELBOX_FUZZ_CHECK(back.has_value() == wheelbox::icu::isValidUTF8(text));
    WHEELBOX_FUZZ_CHECK(!back || *back == text);
    WHEELBOX_FUZZ_CHECK(token.find_first_of("/+=") == std::string::npos);
    // ...and every token that decodes is the one its name encodes to.
    if (auto name = decodePathToken(text))
        WHEELBOX_FUZZ_CHECK(encodePathToken(*name) == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view path(reinterpret_cast<const char *>(data), size);
    checkToken(path);
    try {
        auto list = provider().list(path);
        checkList(path, list, 1);
    } catch (const LibraryError &error) {
        WHEELBOX_FUZZ_CHECK(error.kind() == LibraryError::Kind::unknownPath);
        // A path that names no list plays nothing either.
        try {
            provider().trackIDs(path);
            WHEELBOX_FUZZ_CHECK(false);
        } catch (const LibraryError &) {
        }
    }
    return 0;
}
