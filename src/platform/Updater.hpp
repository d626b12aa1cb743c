#pragma once

namespace wheelbox {

// The program's software update, behind "Check for Updates…". Made and started at launch; the
// check runs when the user asks and reports to the user by itself. Main thread only.
class Updater {
  public:
    virtual ~Updater() = default;
    virtual void checkForUpdates() = 0;
};

} // namespace wheelbox
