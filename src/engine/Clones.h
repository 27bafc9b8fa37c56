#pragma once
// TONVERO_CLONED before a function's definition has GCC build it twice, for
// the processor's plain vectors and for AVX2, and pick one when the program
// starts. Only for loops whose every output value comes from the same
// operations in the same order either way (no fused multiply-add, nothing
// summed in a different order), so the two give the same bits.

// Not under ThreadSanitizer: the loader runs the choosing code before the
// sanitizer has started, and the instrumented code then crashes.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define TONVERO_CLONED [[gnu::target_clones("avx2", "default")]]
#else
#define TONVERO_CLONED
#endif

namespace tonvero {

// Whether the processor runs AVX2, found once as the program starts (so no
// audio thread is ever first to ask), for code that chooses its own path.
extern const bool kProcessorHasAvx2;

}  // namespace tonvero
