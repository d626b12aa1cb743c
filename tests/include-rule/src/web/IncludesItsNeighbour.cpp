#include "bridge/BridgeHost.hpp"
