#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wheelbox {

class RandomSource;
class ScriptRunner;
class UserDefaults;

// The temporary playlists ("Wheelbox Queue • " and 8 hexadecimal characters) through which the music
// transport plays collections: the current one's name and ID, and the name of one that a start has
// made but not yet confirmed. All three live in the user defaults, so that a playlist left behind by
// a crash or a cut-off start is deleted later. Only names of ours are ever deleted by name.
// Used on the media worker's queue only, as the transport that owns it.
class ManagedQueuePlaylists {
  public:
    static constexpr std::string_view nameKey = "veltoManagedQueueName";
    static constexpr std::string_view idKey = "veltoManagedQueueID";
    static constexpr std::string_view pendingNameKey = "veltoPendingQueueName";
    // The longest a clean-up script may take, in seconds.
    static constexpr int deleteTimeout = 8;

    // Reads the current playlist's name and ID; a missing or foreign name is replaced by a new one,
    // which is stored.
    ManagedQueuePlaylists(ScriptRunner &runner, UserDefaults &defaults, RandomSource &random);

    const std::string &currentName() const noexcept { return currentName_; }
    const std::optional<std::string> &currentID() const noexcept { return currentID_; }

    // The name for a new playlist. Deletes the playlist an earlier start left pending, then records
    // the new name as pending until finishStart or abandonStart. An old playlist that cannot be
    // deleted now never stops the start: it is tried again after it.
    std::string beginStart();
    // After a failed start: the pending playlist is deleted when it can be; else it stays recorded,
    // for the next start. Never throws.
    void abandonStart() noexcept;
    // After a start: the playlist the music app made becomes the current one and nothing is pending;
    // the playlist that was current is deleted, or recorded as pending when it cannot be, and what
    // earlier clean-ups left is tried again.
    void finishStart(std::string id, std::string name);

  private:
    std::string newName();
    void removePending();
    void deletePrevious(const std::optional<std::string> &oldID, const std::string &oldName);
    void retryLeftOver();

    ScriptRunner &runner_;
    UserDefaults &defaults_;
    RandomSource &random_;
    std::string currentName_;
    std::optional<std::string> currentID_;
    // Pending playlists whose deletion failed before a start, tried again after each start; the first
    // of them is recorded as pending whenever that slot is free.
    std::vector<std::string> leftOver_;
};

} // namespace wheelbox
