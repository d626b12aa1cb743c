#include <gio/gio.h>
