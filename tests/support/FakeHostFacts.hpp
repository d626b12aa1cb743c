#pragma once

#include "platform/HostFacts.hpp"

namespace wheelbox::test {

// A computer that tells what the test says.
class FakeHostFacts final : public HostFacts {
  public:
    std::optional<std::string> computerName() override { return name; }
    HomeVolumeSpace homeVolumeSpace() override { return space; }

    std::optional<std::string> name = "Test Computer";
    HomeVolumeSpace space{2'000'000'000'000, 1'500'000'000};
};

} // namespace wheelbox::test
