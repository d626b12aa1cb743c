#include "library/LibraryLists.hpp"
#include "model/MediaItem.hpp"
#include "worker/MediaWorker.hpp"
