#pragma once

#include "platform/Clock.hpp"
#include "platform/UserDefaults.hpp"

#include <boost/json/object.hpp>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace wheelbox {

// The user defaults in one JSON object, "defaults.json", of key -> bool, number or string. Read once
// at construction. Changes are written together, writeDelay after the first of them, on a thread of
// the store's own, and at once by flush() and by the destructor, so a slider that changes a setting
// many times a second costs one write. Each write replaces the whole file atomically (a temporary
// file in the same folder, fsync, rename, fsync of the folder), so a crash leaves the old file or
// the new one. A file that cannot be parsed is moved aside ("defaults.json.corrupt-<time>") and
// reported, never overwritten; when it cannot even be moved the store keeps to memory. A file that
// cannot be read (no permission, an I/O error, no descriptor left) is left as it is: the store
// starts from the defaults, says so once and keeps to memory. A folder that cannot be written keeps
// the values in memory and is reported once. Thread-safe.
class FileUserDefaults final : public InMemoryUserDefaults {
  public:
    // Where problems are reported; standard error unless a test listens.
    using Reporter = std::function<void(std::string_view message)>;

    static constexpr std::string_view fileName = "defaults.json";
    // The most a crash can lose of what changed.
    static constexpr std::chrono::milliseconds writeDelay{500};

    // $XDG_CONFIG_HOME/wheelbox, else ~/.config/wheelbox.
    static std::filesystem::path defaultFolder();

    explicit FileUserDefaults(std::filesystem::path folder = defaultFolder(),
                              const Clock &clock = Clock::system(), Reporter report = {},
                              std::chrono::milliseconds delay = writeDelay);
    // Writes what has not been written yet.
    ~FileUserDefaults() override;
    FileUserDefaults(const FileUserDefaults &) = delete;
    FileUserDefaults &operator=(const FileUserDefaults &) = delete;

    const std::filesystem::path &file() const noexcept { return file_; }

    // Writes what has changed now, on the calling thread.
    void flush();

  protected:
    void changed() override;

  private:
    void load(const Clock &clock);
    void moveAside(const Clock &clock, std::string_view why);
    std::string serialized(const std::map<std::string, DefaultsValue, std::less<>> &values);
    void write(const std::string &text);
    void writeLoop(std::stop_token stop);

    std::filesystem::path folder_;
    std::filesystem::path file_;
    Reporter report_;
    std::chrono::milliseconds delay_;

    // Guards the next write's due time; the writer thread waits on `wake_`.
    std::mutex pendingLock_;
    std::condition_variable_any wake_;
    std::optional<std::chrono::steady_clock::time_point> due_;
    // Started by the first change: a store that is only read starts no thread.
    std::jthread writer_;

    std::mutex writeLock_;
    // Entries of the file this store cannot hold (arrays, objects, null): written back as they were.
    boost::json::object foreign_;
    // False when the file on disk must not be replaced (it could be neither read nor moved aside).
    bool persists_ = true;
    bool loading_ = false;
    bool reportedWriteFailure_ = false;
    // Keys whose value the file cannot hold, reported once each.
    std::set<std::string, std::less<>> unsavedReported_;
};

} // namespace wheelbox
