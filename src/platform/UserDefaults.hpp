#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace wheelbox {

// A stored setting: the user's choices ("deviceSize", "glareAmount") and the program's own records
// ("veltoDeviceSerial", "veltoManagedQueueName", the window frame).
using DefaultsValue = std::variant<bool, double, std::string>;

// The user's settings, keyed by name. A key that was never stored reads as its registered default,
// if one was registered; registered defaults live in memory only and are never written out.
// Every implementation is thread-safe: the main thread and the media worker's queue both use it.
class UserDefaults {
  public:
    virtual ~UserDefaults() = default;

    // The stored value, else the registered default, else nothing.
    virtual std::optional<DefaultsValue> value(std::string_view key) const = 0;
    virtual void set(std::string_view key, DefaultsValue value) = 0;
    virtual void remove(std::string_view key) = 0;
    // Adds to (and replaces entries of) the registered defaults.
    virtual void registerDefaults(const std::map<std::string, DefaultsValue, std::less<>> &defaults) = 0;

    // Typed reads: a value of another type reads as absent.
    std::optional<std::string> string(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<double> number(std::string_view key) const;

    void setString(std::string_view key, std::string value) { set(key, std::move(value)); }
    void setBool(std::string_view key, bool value) { set(key, value); }
    void setNumber(std::string_view key, double value) { set(key, value); }
};

// Settings held in memory only: for tests, and the base of stores that persist them elsewhere.
class InMemoryUserDefaults : public UserDefaults {
  public:
    InMemoryUserDefaults() = default;
    explicit InMemoryUserDefaults(std::map<std::string, DefaultsValue, std::less<>> stored)
        : stored_(std::move(stored))
    {}

    std::optional<DefaultsValue> value(std::string_view key) const override;
    void set(std::string_view key, DefaultsValue value) override;
    void remove(std::string_view key) override;
    void registerDefaults(const std::map<std::string, DefaultsValue, std::less<>> &defaults) override;

    // The stored values alone, without the registered defaults.
    std::map<std::string, DefaultsValue, std::less<>> stored() const;

  protected:
    // Called after every change, with the lock released; a persisting store writes here.
    virtual void changed() {}

  private:
    mutable std::mutex lock_;
    std::map<std::string, DefaultsValue, std::less<>> stored_;
    std::map<std::string, DefaultsValue, std::less<>> registered_;
};

} // namespace wheelbox
