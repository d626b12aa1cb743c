#pragma once

#include "bridge/BridgeHost.hpp"

#include <string_view>

namespace wheelbox {

// The origin of a message posted by the page at `pageURL`: its scheme and host as WebKit names
// them (WebKit hands over canonical, lower-case URLs), without user information or port. Text that
// is no absolute URL has neither, so the bridge's origin check refuses it.
MessageOrigin messageOriginOfPage(std::string_view pageURL);

} // namespace wheelbox
