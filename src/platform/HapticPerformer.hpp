#pragma once

namespace wheelbox {

// The platform's haptic feedback: a tap on a trackpad that can give one. Main thread only.
class HapticPerformer {
  public:
    virtual ~HapticPerformer() = default;
    // The short "alignment" tap, performed at once.
    virtual void performAlignmentTap() = 0;
};

// For desktops without haptic hardware (every Linux desktop today): taps nothing.
class NoHapticPerformer final : public HapticPerformer {
  public:
    void performAlignmentTap() override {}
};

} // namespace wheelbox
