#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace wheelbox::osascript {

class Application;
class Value;

// `missing value`.
struct MissingValue {
    bool operator==(const MissingValue &) const = default;
};

// An application's enumerated constant (`playing`, `stopped`, `one`, ...), by its AppleScript name.
struct Constant {
    std::string name;
    bool operator==(const Constant &) const = default;
};

// An object inside an application: a track, a playlist. Each application defines its own kinds
// and is the only one that looks inside them.
class ObjectReference {
  public:
    virtual ~ObjectReference() = default;
    virtual Application &application() const noexcept = 0;
    // How AppleScript would show the reference: `user playlist "Road Trip"`.
    virtual std::string describe() const = 0;
    virtual bool sameObject(const ObjectReference &other) const = 0;
};

// Lists are shared, as in AppleScript: `set end of L to x` changes every variable holding L.
using List = std::vector<Value>;
using ListPtr = std::shared_ptr<List>;
using Record = std::vector<std::pair<std::string, Value>>;
using RecordPtr = std::shared_ptr<Record>;
using ObjectPtr = std::shared_ptr<ObjectReference>;

// Lists and records nest as deeply as a script makes them (`set L to {L}` in a loop). Freeing one
// frees what it holds one at a time instead of recursing, so no depth can exhaust the stack.
ListPtr makeList(List items);
RecordPtr makeRecord(Record fields);

// AppleScript classes the language itself knows, for `as` and for error texts.
enum class ValueClass { Text, Integer, Real, Number, Boolean, ListValue, RecordValue };

class Value {
  public:
    using Storage = std::variant<MissingValue, bool, std::int64_t, double, std::string, ListPtr, RecordPtr,
                                 Constant, ObjectPtr>;

    Value() = default;
    Value(MissingValue) {}
    Value(bool value) : storage_(value) {}
    Value(std::int64_t value);
    Value(int value) : Value(static_cast<std::int64_t>(value)) {}
    Value(double value) : storage_(value) {}
    Value(std::string value) : storage_(std::move(value)) {}
    Value(const char *value) : storage_(std::string(value)) {}
    Value(std::string_view value) : storage_(std::string(value)) {}
    Value(ListPtr value) : storage_(std::move(value)) {}
    Value(RecordPtr value) : storage_(std::move(value)) {}
    Value(Constant value) : storage_(std::move(value)) {}
    Value(ObjectPtr value) : storage_(std::move(value)) {}

    static Value list(List items = {}) { return Value(makeList(std::move(items))); }

    const Storage &storage() const noexcept { return storage_; }
    template <typename T> bool is() const noexcept { return std::holds_alternative<T>(storage_); }
    template <typename T> const T &as() const { return std::get<T>(storage_); }
    template <typename T> const T *getIf() const noexcept { return std::get_if<T>(&storage_); }
    bool isNumber() const noexcept { return is<std::int64_t>() || is<double>(); }

  private:
    Storage storage_;
};

// Empty by default; given here, where Value is complete, since clang builds the default where it is
// declared.
ListPtr makeList(List items = {});
RecordPtr makeRecord(Record fields = {});

// AppleScript integers hold 30 bits; anything wider is a real.
inline constexpr std::int64_t largestInteger = 536870911;
inline constexpr std::int64_t smallestInteger = -536870912;

} // namespace wheelbox::osascript
