// Visibility of the library's public interface: everything else stays hidden.
#pragma once

#if defined(_WIN32)
#if defined(TESSAL_BUILDING_LIBRARY)
#define TESSAL_API __declspec(dllexport)
#else
#define TESSAL_API __declspec(dllimport)
#endif
#elif defined(TESSAL_BUILDING_LIBRARY)
#define TESSAL_API __attribute__((visibility("default")))
#else
#define TESSAL_API
#endif
