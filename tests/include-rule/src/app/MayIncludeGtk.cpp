#include <gtk/gtk.h>
