// The entry the tool looks up after loading this module.

#include "SpotifyApplication.hpp"

extern "C" __attribute__((visibility("default"))) wheelbox::osascript::Application *
wheelboxCreateSpotifyApplication()
{
    return wheelbox::osascript::SpotifyApplication::create().release();
}
