// Compiler-specific annotations, so that the sources name no GNU extension directly.
#pragma once

#if defined(__GNUC__)
// Objects initialised at load in this order across files (lower first), before the host's own.
#define TESSAL_INIT_PRIORITY(n) __attribute__((init_priority(n)))
// A printf-like function whose format argument the compiler checks.
#define TESSAL_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
// Other compilers initialise in link order: an MSVC build lists the files that use this in the
// order of their priorities and marks them `#pragma init_seg(lib)`.
#define TESSAL_INIT_PRIORITY(n)
#define TESSAL_PRINTF_FORMAT(formatIndex, firstArgument)
#endif
