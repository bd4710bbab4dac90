// The version of the library actually loaded, which a program compiled
// against an older header may want to know.
#include "korvan_framework_lib.h"

extern "C" int kvn_get_version(void) { return KVN_VERSION; }
