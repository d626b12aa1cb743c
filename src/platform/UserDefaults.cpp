#include "platform/UserDefaults.hpp"

namespace wheelbox {
namespace {

template <typename T> std::optional<T> typed(const std::optional<DefaultsValue> &value)
{
    if (!value)
        return std::nullopt;
    if (const T *held = std::get_if<T>(&*value))
        return *held;
    return std::nullopt;
}

} // namespace

std::optional<std::string> UserDefaults::string(std::string_view key) const
{
    return typed<std::string>(value(key));
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const
{
    return typed<bool>(value(key));
}

std::optional<double> UserDefaults::number(std::string_view key) const
{
    return typed<double>(value(key));
}

std::optional<DefaultsValue> InMemoryUserDefaults::value(std::string_view key) const
{
    std::lock_guard guard(lock_);
    if (auto found = stored_.find(key); found != stored_.end())
        return found->second;
    if (auto found = registered_.find(key); found != registered_.end())
        return found->second;
    return std::nullopt;
}

void InMemoryUserDefaults::set(std::string_view key, DefaultsValue value)
{
    {
        std::lock_guard guard(lock_);
        stored_.insert_or_assign(std::string(key), std::move(value));
    }
    changed();
}

void InMemoryUserDefaults::remove(std::string_view key)
{
    {
        std::lock_guard guard(lock_);
        auto found = stored_.find(key);
        if (found == stored_.end())
            return;
        stored_.erase(found);
    }
    changed();
}

void InMemoryUserDefaults::registerDefaults(const std::map<std::string, DefaultsValue, std::less<>> &defaults)
{
    std::lock_guard guard(lock_);
    for (const auto &[key, value] : defaults)
        registered_.insert_or_assign(key, value);
}

std::map<std::string, DefaultsValue, std::less<>> InMemoryUserDefaults::stored() const
{
    std::lock_guard guard(lock_);
    return stored_;
}

} // namespace wheelbox
