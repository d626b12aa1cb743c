#pragma once

#include "bridge/BridgeHost.hpp"

#include <string_view>

namespace wheelbox {

// The origin a message from a page at `uri` comes from: its scheme and host, both lower-cased,
// without user information or port ("velto://app/index.html" is velto, app). A URI without an
// authority ("about:blank") has an empty host; text that is no URI has neither.
MessageOrigin messageOriginOfURI(std::string_view uri, bool isMainFrame = true);

} // namespace wheelbox
