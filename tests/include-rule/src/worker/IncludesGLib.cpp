#include <glib.h>
