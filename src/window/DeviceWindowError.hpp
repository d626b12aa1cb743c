#pragma once

#include <stdexcept>

namespace wheelbox {

// A broken installation: the device cannot be shown at all. The program reports it and stops.
class DeviceWindowError : public std::runtime_error {
  public:
    static DeviceWindowError missingWebInterface()
    {
        return DeviceWindowError("Missing bundled web interface.");
    }
    static DeviceWindowError noContentView()
    {
        return DeviceWindowError("Borderless window has no content view.");
    }

  private:
    using std::runtime_error::runtime_error;
};

} // namespace wheelbox
