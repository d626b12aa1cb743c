#include "lib/icu/Unicode.hpp"
#include "model/glibc-notes.hpp"
// #include <glib.h> is only a comment
