#pragma once

#include "platform/RunningApplications.hpp"

#include <atomic>
#include <string_view>

namespace wheelbox::test {

// Players that run when the test says so.
class FakeRunningApplications final : public RunningApplications {
  public:
    bool isRunning(std::string_view bundleIdentifier) override
    {
        if (bundleIdentifier == musicAppBundleIdentifier)
            return musicRuns;
        if (bundleIdentifier == spotifyBundleIdentifier)
            return spotifyRuns;
        return false;
    }

    std::atomic<bool> musicRuns = true;
    std::atomic<bool> spotifyRuns = false;
};

} // namespace wheelbox::test
