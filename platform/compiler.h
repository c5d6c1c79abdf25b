// Compiler-specific marks, kept here so that the code above the platform
// layer stays plain C++.
#pragma once

// Lets the compiler check a printf-style format (argument f) against its
// arguments (from argument a on).
#if defined(__GNUC__)
#define PLATFORM_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define PLATFORM_PRINTF_FORMAT(f, a)
#endif
