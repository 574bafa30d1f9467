// Visibility of the library's public interface: everything else stays hidden.
#pragma once

#if defined(TESSAL_BUILDING_LIBRARY)
#define TESSAL_API __attribute__((visibility("default")))
#else
#define TESSAL_API
#endif
