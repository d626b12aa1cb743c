#include <string>
#include <webkit2/webkit2.h>
