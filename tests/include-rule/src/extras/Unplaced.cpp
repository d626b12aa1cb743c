#include "model/MediaItem.hpp"
