// The version this library was built as, for hosts to check at run time.
#include "tessal/version.h"

extern "C" const char* tessal_version(void) { return TESSAL_VERSION_STRING; }
