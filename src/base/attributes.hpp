// Compiler attributes behind portable names: GCC and Clang spell them in the gnu namespace,
// MSVC has its own spelling or none, and an unknown attribute would be a warning.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define CORVANE_ALWAYS_INLINE [[gnu::always_inline]]
#define CORVANE_COLD [[gnu::cold, gnu::noinline]]
#elif defined(_MSC_VER)
#define CORVANE_ALWAYS_INLINE [[msvc::forceinline]]
#define CORVANE_COLD [[msvc::noinline]]
#else
#define CORVANE_ALWAYS_INLINE
#define CORVANE_COLD
#endif
