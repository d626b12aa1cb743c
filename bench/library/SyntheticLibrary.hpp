#pragma once

#include "platform/LibrarySource.hpp"

namespace wheelbox::bench {

struct SyntheticLibraryShape {
    int songs = 100'000;
    int albums = 8'000;
    int artists = 3'000;
    int genres = 300;
    int playlists = 500;
};

// A library the size of a large personal collection, the same on every run: titles and names in
// many scripts (accents, decomposed forms, Cyrillic, Greek, CJK, numbers), albums split over discs,
// compilations without artist, padded names and playlists of varying length.
LibraryContents makeSyntheticLibrary(const SyntheticLibraryShape &shape = {});

// Serves one fixed library from memory, so timing measures the provider and not a parser.
class InMemoryLibrarySource final : public LibrarySource {
  public:
    explicit InMemoryLibrarySource(LibraryContents contents) : contents_(std::move(contents)) {}
    LibraryContents open() override { return contents_; }

  private:
    LibraryContents contents_;
};

} // namespace wheelbox::bench
