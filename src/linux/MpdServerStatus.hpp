#pragma once

#include <mutex>
#include <optional>
#include <string>

namespace wheelbox {

// Whether the program's own MPD is there, and why not: written by its supervisor on the main thread,
// read by the library gate on the media worker's queue. Thread-safe.
class MpdServerStatus {
  public:
    struct Reading {
        // Why MPD cannot be reached now, in the user's words; nothing while it runs.
        std::optional<std::string> unavailable;
        // True while the program is bringing MPD back, so a wait may see it answer again.
        bool recovering = false;
    };

    void setAvailable();
    void setUnavailable(std::string reason, bool recovering);
    Reading read() const;

  private:
    mutable std::mutex lock_;
    Reading reading_;
};

} // namespace wheelbox
