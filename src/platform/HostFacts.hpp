#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace wheelbox {

// Room on the volume that holds the user's home folder, in bytes; each figure is absent when it
// cannot be read.
struct HomeVolumeSpace {
    std::optional<std::uint64_t> capacity;
    // What the user may still write.
    std::optional<std::uint64_t> available;
};

// Facts about the computer the device belongs to, for its about screen. Each call asks afresh.
// Used from the media worker's queue.
class HostFacts {
  public:
    virtual ~HostFacts() = default;

    // The computer's name as its user calls it ("Ada's Laptop"), as valid UTF-8; nothing when
    // the system tells none.
    virtual std::optional<std::string> computerName() = 0;

    virtual HomeVolumeSpace homeVolumeSpace() = 0;
};

} // namespace wheelbox
