#pragma once

#include "library/JSONLibrarySource.hpp"
#include "library/MusicLibraryProvider.hpp"
#include "model/PersistentID.hpp"
#include "support/ManualClock.hpp"

#include <optional>
#include <string>
#include <vector>

namespace wheelbox::test {

// A JSON library that can change between reads and counts them, and says whether it changed as
// it is told to.
class ChangingLibrarySource final : public LibrarySource {
  public:
    explicit ChangingLibrarySource(std::string json) : json_(std::move(json)) {}

    // What the next open() reads, as if the library changed on disk.
    void setJSON(std::string json) { json_ = std::move(json); }
    // What isUnchangedSinceLastOpen() answers from now on.
    void setUnchanged(bool unchanged) { unchanged_ = unchanged; }
    void setWhereMusicGoes(std::optional<std::string> text) { whereMusicGoes_ = std::move(text); }
    int openCount() const noexcept { return openCount_; }
    int checkCount() const noexcept { return checkCount_; }

    LibraryContents open() override
    {
        ++openCount_;
        return JSONLibrarySource(json_).open();
    }
    std::optional<std::string> whereMusicGoes() const override { return whereMusicGoes_; }

    bool isUnchangedSinceLastOpen() noexcept override
    {
        ++checkCount_;
        return unchanged_;
    }

  private:
    std::string json_;
    bool unchanged_ = false;
    std::optional<std::string> whereMusicGoes_;
    int openCount_ = 0;
    int checkCount_ = 0;
};

// "B1" -> "00000000000000B1", as the fixture's short ids appear in lists.
inline std::string hex(const std::string &shortID)
{
    return formatPersistentID(std::stoull(shortID, nullptr, 16));
}

inline std::vector<std::string> idsOf(const MediaList &list)
{
    std::vector<std::string> ids;
    for (const auto &item : list.items)
        ids.push_back(item.id);
    return ids;
}

inline std::vector<std::string> titlesOf(const MediaList &list)
{
    std::vector<std::string> titles;
    for (const auto &item : list.items)
        titles.push_back(item.title);
    return titles;
}

// Song rows as their fixture short ids ("01", "0B"), to keep expectations readable.
inline std::vector<std::string> songsOf(const MediaList &list)
{
    std::vector<std::string> ids;
    for (const auto &item : list.items) {
        auto id = item.id.substr(item.id.find(':') + 1);
        auto value = std::stoull(id, nullptr, 16);
        char shortID[8];
        std::snprintf(shortID, sizeof shortID, "%02llX", static_cast<unsigned long long>(value));
        ids.emplace_back(shortID);
    }
    return ids;
}

// The fixture library of tests/library/fixtures/library.json, sorted in the root locale.
struct FixtureLibrary {
    ManualClock clock;
    JSONLibrarySource source = JSONLibrarySource::fromFile(WHEELBOX_LIBRARY_FIXTURE);
    MusicLibraryProvider provider{source, clock, ""};
};

} // namespace wheelbox::test
