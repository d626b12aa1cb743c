#include "library/ManagedQueueName.hpp"

#include "lib/icu/Unicode.hpp"

namespace wheelbox {

bool isManagedQueueName(std::string_view name)
{
    if (!name.starts_with(managedQueueNamePrefix) && !name.starts_with(legacyManagedQueueNamePrefix))
        return false;
    // 40 characters take at least 40 bytes, so short names need no counting.
    return name.size() <= 40 || icu::characterCount(name) <= 40;
}

} // namespace wheelbox
