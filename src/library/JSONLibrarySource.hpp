#pragma once

#include "platform/LibrarySource.hpp"

#include <filesystem>
#include <string>

namespace wheelbox {

// A library described in JSON, for tests, benchmarks and demos:
//   {"songs": [{"id": "A1", "kind": "song", "title": "…", "artist": "…",
//               "album": {"id": "B1", "title": "…", "disc": 1, "artist": "…"}, "genre": "…",
//               "track": 3, "duration": 215.4}],
//    "playlists": [{"id": "C1", "name": "…", "visible": true, "primary": false,
//                   "distinguished": "none", "kind": "regular", "items": [0, 2, 2]}],
//    "error": "…"}
// Ids are hexadecimal (up to 16 digits); playlist items are positions in "songs". Every key but
// "id" and "title" of a song may be left out. With "error", opening fails with that text.
class JSONLibrarySource final : public LibrarySource {
  public:
    explicit JSONLibrarySource(std::string json) : json_(std::move(json)) {}
    static JSONLibrarySource fromFile(const std::filesystem::path &path);

    // Throws LibrarySourceError on an "error" entry or malformed JSON.
    LibraryContents open() override;

  private:
    std::string json_;
};

} // namespace wheelbox
