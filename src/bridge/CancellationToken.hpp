#pragma once

#include <mutex>

namespace wheelbox {

// A flag the main thread raises and the media queue reads, each token under its own lock. Shared
// between the bridge and the work items that captured it.
template <typename Purpose> class CancellationToken {
  public:
    void cancel() noexcept
    {
        std::lock_guard guard(lock_);
        cancelled_ = true;
    }

    bool isCancelled() const noexcept
    {
        std::lock_guard guard(lock_);
        return cancelled_;
    }

  private:
    mutable std::mutex lock_;
    bool cancelled_ = false;
};

// One per web session: raised when the page that asked is gone.
using WebSessionToken = CancellationToken<struct WebSessionPurpose>;
// One per playback-starting request: raised when a newer playback request overtakes it.
using PlaybackStartToken = CancellationToken<struct PlaybackStartPurpose>;

} // namespace wheelbox
