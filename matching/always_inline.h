// DACTYRA_ALWAYS_INLINE: the matcher's kernels ask for their small helpers
// to be inlined even where the compiler's cost model would not, since a call
// per cell or per pair would cost more than the work it does.
#pragma once

#if defined(__GNUC__)
#define DACTYRA_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define DACTYRA_ALWAYS_INLINE inline
#endif
