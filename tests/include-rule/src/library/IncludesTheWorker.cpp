#include "worker/MediaWorker.hpp"
#include "model/MediaItem.hpp"
#include "library/LibraryLists.hpp"
