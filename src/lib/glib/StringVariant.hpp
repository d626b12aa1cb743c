#pragma once

#include <glib.h>

#include <string>

namespace wheelbox::glib {

// A floating GVariant string ("s") holding `text` without copying it: the variant's bytes are the
// string's own, freed with the last reference. A GVariant string is UTF-8 without NUL; text that
// is not is repaired (each bad byte, NUL included, becomes U+FFFD) rather than given to GLib as is.
GVariant *takeStringVariant(std::string text);

} // namespace wheelbox::glib
