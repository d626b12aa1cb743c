#pragma once

#include "lib/mpd/MpdConnection.hpp"
