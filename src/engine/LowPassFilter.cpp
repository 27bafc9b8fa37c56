#include "engine/LowPassFilter.h"

#include "engine/Clones.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TONVERO_WIDE_VECTORS 1
#endif

namespace tonvero {

void LowPassFilter::set(double cutoffHz, double resonanceDb, int32_t rate) noexcept {
    if (rate <= 0) return;
    cutoffHz = std::clamp(cutoffHz, 5.0, 0.45 * rate);
    resonanceDb = std::clamp(resonanceDb, 0.0, 96.0);
    if (cutoffHz == cutoff_ && resonanceDb == resonance_) return;
    cutoff_ = cutoffHz;
    resonance_ = resonanceDb;
    // A peak of R dB above the gain at 0 Hz; none at all (R = 0) is the
    // Butterworth Q of 1/sqrt(2), 3 dB down at the cutoff.
    const double q = std::max(std::sqrt(0.5), std::pow(10.0, (resonanceDb - 3.0103) / 20.0));
    halfOverQ_ = static_cast<float>(0.5 / q);
    radiansPerHz_ = static_cast<float>(2.0 * 3.14159265358979323846 / rate);
    highest_ = static_cast<float>(0.45 * rate);
    update(static_cast<float>(cutoffHz));
}

void LowPassFilter::setCutoff(float cutoffHz) noexcept {
    if (radiansPerHz_ <= 0) return;
    update(std::clamp(cutoffHz, 5.0f, highest_));
}

void LowPassFilter::update(float cutoffHz) noexcept {
    const float w = radiansPerHz_ * cutoffHz;
    const float cosw = std::cos(w);
    const float alpha = std::sin(w) * halfOverQ_;
    const float scale = 1.0f / (1.0f + alpha);
    b0_ = (1.0f - cosw) * 0.5f * scale;
    b1_ = (1.0f - cosw) * scale;
    b2_ = b0_;
    a1_ = -2.0f * cosw * scale;
    a2_ = (1.0f - alpha) * scale;
}

void LowPassFilter::process(float* samples, uint32_t frames) noexcept {
    // Transposed direct form II.
    float z1 = z1_, z2 = z2_;
    for (uint32_t k = 0; k < frames; ++k) {
        const float x = samples[k];
        const float y = b0_ * x + z1;
        z1 = b1_ * x - a1_ * y + z2;
        z2 = b2_ * x - a2_ * y;
        samples[k] = y;
    }
    z1_ = z1;
    z2_ = z2;
}

#if defined(__SSE__)
namespace {

// Four filters side by side, one to a vector lane.
struct FourFilters {
    __m128 b0, b1, b2, a1, a2, z1, z2;

    explicit FourFilters(const float (*c)[7]) {
        b0 = _mm_set_ps(c[3][0], c[2][0], c[1][0], c[0][0]);
        b1 = _mm_set_ps(c[3][1], c[2][1], c[1][1], c[0][1]);
        b2 = _mm_set_ps(c[3][2], c[2][2], c[1][2], c[0][2]);
        a1 = _mm_set_ps(c[3][3], c[2][3], c[1][3], c[0][3]);
        a2 = _mm_set_ps(c[3][4], c[2][4], c[1][4], c[0][4]);
        z1 = _mm_set_ps(c[3][5], c[2][5], c[1][5], c[0][5]);
        z2 = _mm_set_ps(c[3][6], c[2][6], c[1][6], c[0][6]);
    }
    __m128 step(__m128 x) {
        const __m128 y = _mm_add_ps(_mm_mul_ps(b0, x), z1);
        z1 = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(b1, x), _mm_mul_ps(a1, y)), z2);
        z2 = _mm_sub_ps(_mm_mul_ps(b2, x), _mm_mul_ps(a2, y));
        return y;
    }
};

// Frames n..n+3 of buffers b[0..3], turned from one buffer a vector into
// one frame a vector (buffer k in lane k), and back.
inline void loadFour(float* const* b, uint32_t n, __m128 (&r)[4]) {
    for (int k = 0; k < 4; ++k) r[k] = _mm_loadu_ps(b[k] + n);
    _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);
}
inline void storeFour(float* const* b, uint32_t n, __m128 (&r)[4]) {
    _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);
    for (int k = 0; k < 4; ++k) _mm_storeu_ps(b[k] + n, r[k]);
}

// Filters buffers b[0..3] over `frames` frames, four frames at a time.
void filterFour(FourFilters& f, float* const* b, uint32_t frames) {
    uint32_t n = 0;
    for (; n + 4 <= frames; n += 4) {
        __m128 r[4];
        loadFour(b, n, r);
        for (__m128& x : r) x = f.step(x);
        storeFour(b, n, r);
    }
    for (; n < frames; ++n) {
        alignas(16) float y[4];
        _mm_store_ps(y, f.step(_mm_set_ps(b[3][n], b[2][n], b[1][n], b[0][n])));
        for (int k = 0; k < 4; ++k) b[k][n] = y[k];
    }
}

// The same for two sets of four at once: two feedback chains in flight, so
// the processor has the second to work on while the first waits.
void filterEight(FourFilters& f, FourFilters& g, float* const* b, uint32_t frames) {
    uint32_t n = 0;
    for (; n + 4 <= frames; n += 4) {
        __m128 r[4], q[4];
        loadFour(b, n, r);
        loadFour(b + 4, n, q);
        for (int k = 0; k < 4; ++k) {
            r[k] = f.step(r[k]);
            q[k] = g.step(q[k]);
        }
        storeFour(b, n, r);
        storeFour(b + 4, n, q);
    }
    if (n < frames) {
        float* const tail[4] = {b[0] + n, b[1] + n, b[2] + n, b[3] + n};
        float* const tail2[4] = {b[4] + n, b[5] + n, b[6] + n, b[7] + n};
        filterFour(f, tail, frames - n);
        filterFour(g, tail2, frames - n);
    }
}

#if defined(TONVERO_WIDE_VECTORS)
// Eight filters side by side on a processor with AVX2: lanes 0..3 are what
// four filters in FourFilters are, operation for operation, so both give the
// same bits.
struct EightFilters {
    __m256 b0, b1, b2, a1, a2, z1, z2;

    __attribute__((target("avx2"))) explicit EightFilters(const float (*c)[7]) {
        b0 = _mm256_setr_ps(c[0][0], c[1][0], c[2][0], c[3][0], c[4][0], c[5][0], c[6][0], c[7][0]);
        b1 = _mm256_setr_ps(c[0][1], c[1][1], c[2][1], c[3][1], c[4][1], c[5][1], c[6][1], c[7][1]);
        b2 = _mm256_setr_ps(c[0][2], c[1][2], c[2][2], c[3][2], c[4][2], c[5][2], c[6][2], c[7][2]);
        a1 = _mm256_setr_ps(c[0][3], c[1][3], c[2][3], c[3][3], c[4][3], c[5][3], c[6][3], c[7][3]);
        a2 = _mm256_setr_ps(c[0][4], c[1][4], c[2][4], c[3][4], c[4][4], c[5][4], c[6][4], c[7][4]);
        z1 = _mm256_setr_ps(c[0][5], c[1][5], c[2][5], c[3][5], c[4][5], c[5][5], c[6][5], c[7][5]);
        z2 = _mm256_setr_ps(c[0][6], c[1][6], c[2][6], c[3][6], c[4][6], c[5][6], c[6][6], c[7][6]);
    }
    __attribute__((target("avx2"))) __m256 step(__m256 x) {
        const __m256 y = _mm256_add_ps(_mm256_mul_ps(b0, x), z1);
        z1 = _mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(b1, x), _mm256_mul_ps(a1, y)), z2);
        z2 = _mm256_sub_ps(_mm256_mul_ps(b2, x), _mm256_mul_ps(a2, y));
        return y;
    }
};

// Frames n..n+3 of buffers b[0..7] as four vectors of one frame each
// (buffer k in lane k), and back.
__attribute__((target("avx2"))) inline void loadFrames(float* const* b, uint32_t n, __m256 (&r)[4]) {
    __m128 lo[4], hi[4];
    loadFour(b, n, lo);
    loadFour(b + 4, n, hi);
    for (int k = 0; k < 4; ++k) r[k] = _mm256_insertf128_ps(_mm256_castps128_ps256(lo[k]), hi[k], 1);
}

__attribute__((target("avx2"))) inline void storeFrames(float* const* b, uint32_t n, const __m256 (&r)[4]) {
    __m128 lo[4], hi[4];
    for (int k = 0; k < 4; ++k) {
        lo[k] = _mm256_castps256_ps128(r[k]);
        hi[k] = _mm256_extractf128_ps(r[k], 1);
    }
    storeFour(b, n, lo);
    storeFour(b + 4, n, hi);
}

// Sixteen filters, their coefficients and state in `c` (b0 b1 b2 a1 a2 z1
// z2 each), over buffers b[0..15]: two sets of eight with their feedback
// chains in flight together. `frames` is a multiple of 4. The state is
// written back into `c`.
__attribute__((target("avx2"))) void filterSixteen(float (*c)[7], float* const* b, uint32_t frames) {
    EightFilters f(c), g(c + 8);
    for (uint32_t n = 0; n + 4 <= frames; n += 4) {
        __m256 r[4], q[4];
        loadFrames(b, n, r);
        loadFrames(b + 8, n, q);
        for (int k = 0; k < 4; ++k) {
            r[k] = f.step(r[k]);
            q[k] = g.step(q[k]);
        }
        storeFrames(b, n, r);
        storeFrames(b + 8, n, q);
    }
    alignas(32) float z1[16], z2[16];
    _mm256_store_ps(z1, f.z1);
    _mm256_store_ps(z1 + 8, g.z1);
    _mm256_store_ps(z2, f.z2);
    _mm256_store_ps(z2 + 8, g.z2);
    for (int k = 0; k < 16; ++k) {
        c[k][5] = z1[k];
        c[k][6] = z2[k];
    }
}

#endif

}  // namespace
#endif

void LowPassFilter::processBatch(LowPassFilter* const* filters, float* const* buffers, uint32_t frames,
                                 uint32_t count) noexcept {
    uint32_t k = 0;
#if defined(__SSE__)
    // Four filters' coefficients and state into lanes, and the state back.
    auto load = [filters](uint32_t first) {
        float c[4][7];
        for (uint32_t lane = 0; lane < 4; ++lane) {
            const LowPassFilter& f = *filters[first + lane];
            const float values[7] = {f.b0_, f.b1_, f.b2_, f.a1_, f.a2_, f.z1_, f.z2_};
            std::copy(values, values + 7, c[lane]);
        }
        return FourFilters(c);
    };
    auto keep = [filters](const FourFilters& four, uint32_t first) {
        alignas(16) float z1[4], z2[4];
        _mm_store_ps(z1, four.z1);
        _mm_store_ps(z2, four.z2);
        for (uint32_t lane = 0; lane < 4; ++lane) {
            filters[first + lane]->z1_ = z1[lane];
            filters[first + lane]->z2_ = z2[lane];
        }
    };
#if defined(TONVERO_WIDE_VECTORS)
    if (count >= 16 && frames % 4 == 0 && kProcessorHasAvx2) {
        for (; k + 16 <= count; k += 16) {
            float c[16][7];
            for (uint32_t lane = 0; lane < 16; ++lane) {
                const LowPassFilter& f = *filters[k + lane];
                const float values[7] = {f.b0_, f.b1_, f.b2_, f.a1_, f.a2_, f.z1_, f.z2_};
                std::copy(values, values + 7, c[lane]);
            }
            filterSixteen(c, buffers + k, frames);
            for (uint32_t lane = 0; lane < 16; ++lane) {
                filters[k + lane]->z1_ = c[lane][5];
                filters[k + lane]->z2_ = c[lane][6];
            }
        }
    }
#endif
    for (; k + 8 <= count; k += 8) {
        FourFilters first = load(k), second = load(k + 4);
        filterEight(first, second, buffers + k, frames);
        keep(first, k);
        keep(second, k + 4);
    }
    for (; k + 4 <= count; k += 4) {
        FourFilters four = load(k);
        filterFour(four, buffers + k, frames);
        keep(four, k);
    }
#endif
    for (; k < count; ++k) filters[k]->process(buffers[k], frames);
}

}  // namespace tonvero
