#include "linux/MpdServerStatus.hpp"

namespace wheelbox {

void MpdServerStatus::setAvailable()
{
    std::lock_guard guard(lock_);
    reading_ = {};
}

void MpdServerStatus::setUnavailable(std::string reason, bool recovering)
{
    std::lock_guard guard(lock_);
    reading_ = {std::move(reason), recovering};
}

MpdServerStatus::Reading MpdServerStatus::read() const
{
    std::lock_guard guard(lock_);
    return reading_;
}

} // namespace wheelbox
