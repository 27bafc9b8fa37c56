#include "engine/Resampler.h"

#include "engine/Clones.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace tonvero {

namespace {

constexpr float kFractionScale = 1.0f / 4294967296.0f;

// The sinc kernel: taps -7..8 around the sample at or before the position,
// one row of coefficients per 1/1024 of a sample.
constexpr int kSincBefore = 7;
constexpr int kSincAfter = 8;
constexpr int kSincTaps = kSincBefore + 1 + kSincAfter;
constexpr int kSincPhaseBits = 10;
constexpr int kSincPhases = 1 << kSincPhaseBits;

struct SincTable {
    alignas(64) float rows[kSincPhases][kSincTaps];
};

double besselI0(double x) {
    double sum = 1, term = 1;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2 * k)) * (x / (2 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

SincTable makeSincTable() {
    SincTable table{};
    // Cut off a little under the Nyquist frequency, Kaiser window with beta 8:
    // stop-band rejection above 80 dB.
    constexpr double kCutoff = 0.94;
    constexpr double kBeta = 8.0;
    constexpr double kHalfWidth = kSincAfter;
    const double kPi = std::acos(-1.0);
    for (int p = 0; p < kSincPhases; ++p) {
        const double x = static_cast<double>(p) / kSincPhases;
        double row[kSincTaps];
        double sum = 0;
        for (int t = -kSincBefore; t <= kSincAfter; ++t) {
            const double d = t - x;  // distance from the position to the tap
            const double u = d / kHalfWidth;
            const double window = std::fabs(u) >= 1 ? 0 : besselI0(kBeta * std::sqrt(1 - u * u)) / besselI0(kBeta);
            const double arg = kPi * kCutoff * d;
            const double sinc = std::fabs(arg) < 1e-12 ? 1 : std::sin(arg) / arg;
            row[t + kSincBefore] = kCutoff * sinc * window;
            sum += row[t + kSincBefore];
        }
        // Unity gain at every phase, so a constant stays constant.
        for (int k = 0; k < kSincTaps; ++k) table.rows[p][k] = static_cast<float>(row[k] / sum);
    }
    return table;
}

const SincTable& sincTable() {
    static const SincTable table = makeSincTable();
    return table;
}

struct Nearest {
    static constexpr int kBefore = 0, kAfter = 0;
    float operator()(const int16_t* s, uint32_t) const { return s[0]; }
};

struct Linear {
    static constexpr int kBefore = 0, kAfter = 1;
    float operator()(const int16_t* s, uint32_t fraction) const {
        const float t = static_cast<float>(fraction) * kFractionScale;
        const float a = s[0];
        return a + (static_cast<float>(s[1]) - a) * t;
    }
};

struct Cubic {
    static constexpr int kBefore = 1, kAfter = 2;
    float operator()(const int16_t* s, uint32_t fraction) const {
        const float t = static_cast<float>(fraction) * kFractionScale;
        const float p0 = s[-1], p1 = s[0], p2 = s[1], p3 = s[2];
        return p1 + 0.5f * t *
                        ((p2 - p0) + t * ((2.0f * p0 - 5.0f * p1 + 4.0f * p2 - p3) + t * (3.0f * (p1 - p2) + p3 - p0)));
    }
};

struct Sinc {
    static constexpr int kBefore = kSincBefore, kAfter = kSincAfter;
    const SincTable* table;
    float operator()(const int16_t* s, uint32_t fraction) const {
        const float* c = table->rows[fraction >> (32 - kSincPhaseBits)];
        const int16_t* first = s - kSincBefore;
        float sum = 0;
        for (int k = 0; k < kSincTaps; ++k) sum += static_cast<float>(first[k]) * c[k];
        return sum;
    }
};

// Reads `count` frames straight from the samples, every tap inside them:
// the position's integer part indexes `s`, its fraction chooses the point.
template <class Kernel>
uint64_t straightRun(const Kernel& kernel, const int16_t* s, uint64_t pos, uint64_t step, float* out, uint32_t count) {
    for (uint32_t j = 0; j < count; ++j) {
        out[j] = kernel(s + (pos >> 32), static_cast<uint32_t>(pos));
        pos += step;
    }
    return pos;
}

#if defined(__SSE2__)
// Four frames at a time: the taps of each frame loaded together, turned
// into one vector per tap position, the arithmetic done on four lanes.

// Signed 16-bit lanes 0..3 of `v` as four floats.
inline __m128 lowToFloat(__m128i v) { return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16)); }
// Lanes 4..7.
inline __m128 highToFloat(__m128i v) { return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16)); }

#if defined(__x86_64__) && defined(__GNUC__)
#define TONVERO_WIDE_VECTORS 1
// Samples i-1 .. i+2 around position `q`; two such loads as one vector's halves.
inline __m128i cubicTaps(const int16_t* s, uint64_t q) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + (q >> 32) - 1));
}
__attribute__((target("avx2"))) inline __m256i halves(__m128i lo, __m128i hi) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// Eight frames at a time on a processor with AVX2: each 128-bit half does
// what the four-frame loop below does, lane for lane and operation for
// operation (no fused multiply-add), so both give the same bits. `count` is
// a multiple of 8.
__attribute__((target("avx2"))) uint64_t cubicEights(const int16_t* s, uint64_t pos, uint64_t step, float* out,
                                                     uint32_t count) {
    const __m256 half = _mm256_set1_ps(0.5f), two = _mm256_set1_ps(2.0f), three = _mm256_set1_ps(3.0f),
                 four = _mm256_set1_ps(4.0f), five = _mm256_set1_ps(5.0f);
    const __m256 fractionScale = _mm256_set1_ps(1.0f / 16777216.0f);
    // A position's low 32 bits (its fraction) step on by the step's low 32
    // bits, wrapping: the carry only ever goes into the integer part.
    const auto lowStep = static_cast<int32_t>(static_cast<uint32_t>(step));
    const __m256i lanes = _mm256_mullo_epi32(_mm256_set1_epi32(lowStep), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256i advance = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(8 * step)));
    __m256i low = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(pos))), lanes);
    for (uint32_t j = 0; j < count; j += 8) {
        // Samples i-1 .. i+2 of frames 0..3 in the low half, of 4..7 in the high.
        const __m256i a = halves(cubicTaps(s, pos), cubicTaps(s, pos + 4 * step));
        const __m256i b = halves(cubicTaps(s, pos + step), cubicTaps(s, pos + 5 * step));
        const __m256i c = halves(cubicTaps(s, pos + 2 * step), cubicTaps(s, pos + 6 * step));
        const __m256i d = halves(cubicTaps(s, pos + 3 * step), cubicTaps(s, pos + 7 * step));
        pos += 8 * step;
        const __m256i ab = _mm256_unpacklo_epi16(a, b);
        const __m256i cd = _mm256_unpacklo_epi16(c, d);
        const __m256i taps01 = _mm256_unpacklo_epi32(ab, cd);
        const __m256i taps23 = _mm256_unpackhi_epi32(ab, cd);
        const __m256 p0 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_unpacklo_epi16(taps01, taps01), 16));
        const __m256 p1 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_unpackhi_epi16(taps01, taps01), 16));
        const __m256 p2 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_unpacklo_epi16(taps23, taps23), 16));
        const __m256 p3 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_unpackhi_epi16(taps23, taps23), 16));
        const __m256 t = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(low, 8)), fractionScale);
        low = _mm256_add_epi32(low, advance);
        const __m256 x = _mm256_sub_ps(p2, p0);
        const __m256 y = _mm256_sub_ps(_mm256_add_ps(_mm256_mul_ps(two, p0), _mm256_mul_ps(four, p2)),
                                       _mm256_add_ps(_mm256_mul_ps(five, p1), p3));
        const __m256 z = _mm256_add_ps(_mm256_mul_ps(three, _mm256_sub_ps(p1, p2)), _mm256_sub_ps(p3, p0));
        const __m256 r = _mm256_add_ps(x, _mm256_mul_ps(t, _mm256_add_ps(y, _mm256_mul_ps(t, z))));
        _mm256_storeu_ps(out + j, _mm256_add_ps(p1, _mm256_mul_ps(_mm256_mul_ps(half, t), r)));
    }
    return pos;
}

#endif

std::atomic<bool> wideVectorsAllowed{true};

template <>
uint64_t straightRun<Cubic>(const Cubic& kernel, const int16_t* s, uint64_t pos, uint64_t step, float* out,
                            uint32_t count) {
    uint32_t j = 0;
#if defined(TONVERO_WIDE_VECTORS)
    if (count >= 8 && wideVectorsAllowed.load(std::memory_order_relaxed) && kProcessorHasAvx2) {
        j = count & ~7u;
        pos = cubicEights(s, pos, step, out, j);
    }
#endif
    const __m128 half = _mm_set1_ps(0.5f), two = _mm_set1_ps(2.0f), three = _mm_set1_ps(3.0f), four = _mm_set1_ps(4.0f),
                 five = _mm_set1_ps(5.0f);
    // The four positions also in vector lanes, 64 bits each, for their fractions.
    __m128i near = _mm_set_epi64x(static_cast<int64_t>(pos + step), static_cast<int64_t>(pos));
    __m128i far = _mm_set_epi64x(static_cast<int64_t>(pos + 3 * step), static_cast<int64_t>(pos + 2 * step));
    const __m128i advance = _mm_set1_epi64x(static_cast<int64_t>(4 * step));
    const __m128 fractionScale = _mm_set1_ps(1.0f / 16777216.0f);
    for (; j + 4 <= count; j += 4) {
        const uint64_t q0 = pos, q1 = pos + step, q2 = pos + 2 * step, q3 = pos + 3 * step;
        pos += 4 * step;
        // The low 32 bits of each position: its fraction.
        const __m128i low =
            _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(near), _mm_castsi128_ps(far), _MM_SHUFFLE(2, 0, 2, 0)));
        near = _mm_add_epi64(near, advance);
        far = _mm_add_epi64(far, advance);
        // Samples i-1 .. i+2 of each frame: 4 x 16 bits each.
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + (q0 >> 32) - 1));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + (q1 >> 32) - 1));
        const __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + (q2 >> 32) - 1));
        const __m128i d = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + (q3 >> 32) - 1));
        const __m128i ab = _mm_unpacklo_epi16(a, b);        // a0 b0 a1 b1 a2 b2 a3 b3
        const __m128i cd = _mm_unpacklo_epi16(c, d);        // c0 d0 c1 d1 ...
        const __m128i taps01 = _mm_unpacklo_epi32(ab, cd);  // a0 b0 c0 d0 a1 b1 c1 d1
        const __m128i taps23 = _mm_unpackhi_epi32(ab, cd);  // a2 b2 c2 d2 a3 b3 c3 d3
        const __m128 p0 = lowToFloat(taps01), p1 = highToFloat(taps01);
        const __m128 p2 = lowToFloat(taps23), p3 = highToFloat(taps23);
        const __m128 t = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(low, 8)), fractionScale);
        const __m128 x = _mm_sub_ps(p2, p0);
        const __m128 y =
            _mm_sub_ps(_mm_add_ps(_mm_mul_ps(two, p0), _mm_mul_ps(four, p2)), _mm_add_ps(_mm_mul_ps(five, p1), p3));
        const __m128 z = _mm_add_ps(_mm_mul_ps(three, _mm_sub_ps(p1, p2)), _mm_sub_ps(p3, p0));
        const __m128 r = _mm_add_ps(x, _mm_mul_ps(t, _mm_add_ps(y, _mm_mul_ps(t, z))));
        _mm_storeu_ps(out + j, _mm_add_ps(p1, _mm_mul_ps(_mm_mul_ps(half, t), r)));
    }
    for (; j < count; ++j) {
        out[j] = kernel(s + (pos >> 32), static_cast<uint32_t>(pos));
        pos += step;
    }
    return pos;
}

// One frame's 16 taps times its coefficient row, left as four partial sums.
inline __m128 sincPartial(const int16_t* first, const float* c) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 8));
    __m128 sum = _mm_mul_ps(lowToFloat(lo), _mm_load_ps(c));
    sum = _mm_add_ps(sum, _mm_mul_ps(highToFloat(lo), _mm_load_ps(c + 4)));
    sum = _mm_add_ps(sum, _mm_mul_ps(lowToFloat(hi), _mm_load_ps(c + 8)));
    return _mm_add_ps(sum, _mm_mul_ps(highToFloat(hi), _mm_load_ps(c + 12)));
}

template <>
uint64_t straightRun<Sinc>(const Sinc& kernel, const int16_t* s, uint64_t pos, uint64_t step, float* out,
                           uint32_t count) {
    uint32_t j = 0;
    for (; j + 4 <= count; j += 4) {
        __m128 sums[4];
        for (int k = 0; k < 4; ++k) {
            const float* c = kernel.table->rows[static_cast<uint32_t>(pos) >> (32 - kSincPhaseBits)];
            sums[k] = sincPartial(s + (pos >> 32) - kSincBefore, c);
            pos += step;
        }
        // Each frame's four partial sums added across: a transpose, then three adds.
        _MM_TRANSPOSE4_PS(sums[0], sums[1], sums[2], sums[3]);
        _mm_storeu_ps(out + j, _mm_add_ps(_mm_add_ps(sums[0], sums[1]), _mm_add_ps(sums[2], sums[3])));
    }
    for (; j < count; ++j) {
        out[j] = kernel(s + (pos >> 32), static_cast<uint32_t>(pos));
        pos += step;
    }
    return pos;
}
#endif

// Sample `j` as the voice hears it: inside its loop once it loops, silence
// outside the Wave.
int16_t sampleAt(const StudioVoice& v, int64_t j) {
    if (v.looped) {
        const int64_t length = v.loopEnd - v.loopBegin + 1;
        if (j > v.loopEnd) {
            j -= length;  // nearly always enough
            if (j > v.loopEnd) j = v.loopBegin + (j - v.loopBegin) % length;
        } else if (j < v.loopBegin && v.wrapped) {
            j += length;
            if (j < v.loopBegin) j = v.loopEnd - (v.loopBegin - 1 - j) % length;
        }
    }
    if (j < 0 || j >= v.sampleCount) return 0;
    return v.samples[j];
}

// The position `i` reads through the loop's edge copy: -1 when its taps do
// not all lie there. Once the voice has wrapped, a position near the loop's
// start reads as the same position one or more loops on.
template <class Kernel>
int64_t edgeIndex(const StudioVoice& v, int64_t i) {
    constexpr int64_t kEdge = StudioVoice::kLoopEdge;
    const int64_t base = v.loopEnd + 1 - kEdge;  // the index loopEdge[0] holds
    const int64_t low = base + Kernel::kBefore;
    const int64_t high = v.loopEnd + kEdge - Kernel::kAfter;
    if (i < low && v.wrapped) {
        const int64_t length = v.loopEnd - v.loopBegin + 1;
        i += (low - i + length - 1) / length * length;
    }
    return i >= low && i <= high ? i - base : -1;
}

template <class Kernel>
uint32_t run(StudioVoice& v, float* out, uint32_t frames, const Kernel& kernel) {
    constexpr int kBefore = Kernel::kBefore;
    constexpr int kAfter = Kernel::kAfter;
    const int16_t* s = v.samples;
    uint64_t pos = v.position;
    const uint64_t step = v.step;
    uint32_t k = 0;
    while (k < frames) {
        const int64_t i = static_cast<int64_t>(pos >> 32);
        // The positions whose taps all lie on samples that can be read straight.
        int64_t low = kBefore;
        int64_t high = v.sampleCount - 1 - kAfter;
        if (v.looped) {
            if (i > v.loopEnd) {
                // Round the loop, keeping the fraction.
                const uint64_t begin = static_cast<uint64_t>(v.loopBegin) << 32;
                const uint64_t length = static_cast<uint64_t>(v.loopEnd - v.loopBegin + 1) << 32;
                pos = begin + (pos - begin) % length;
                v.wrapped = true;
                continue;
            }
            if (v.wrapped) low = v.loopBegin + kBefore;
            high = v.loopEnd - kAfter;
        } else if (i >= v.sampleCount) {
            std::memset(out + k, 0, sizeof(float) * (frames - k));
            v.position = pos;
            return k;
        }
        if (i >= low && i <= high) {
            uint32_t count = frames - k;
            // Mostly the whole chunk fits; else as many frames as stay below `high`.
            if (step > 0 && static_cast<int64_t>((pos + step * (count - 1)) >> 32) > high) {
                const uint64_t limit = static_cast<uint64_t>(high + 1) << 32;
                const uint64_t fit = (limit - pos - 1) / step + 1;
                if (fit < count) count = static_cast<uint32_t>(fit);
            }
            pos = straightRun(kernel, s, pos, step, out + k, count);
            k += count;
        } else if (const int64_t edge = v.looped ? edgeIndex<Kernel>(v, i) : -1; edge >= 0) {
            // Straight through the edge copy, as far as its taps reach, then
            // back to the Wave's own numbering (a short loop comes round
            // within the copy, so this runs many frames at a time).
            const uint64_t shift = static_cast<uint64_t>(i - edge) << 32;  // Wave position of loopEdge[0]
            uint64_t local = pos - shift;
            const int64_t last = 2 * StudioVoice::kLoopEdge - 1 - kAfter;
            uint32_t count = frames - k;
            if (step > 0 && static_cast<int64_t>((local + step * (count - 1)) >> 32) > last) {
                const uint64_t limit = static_cast<uint64_t>(last + 1) << 32;
                count = static_cast<uint32_t>(std::min<uint64_t>(count, (limit - local - 1) / step + 1));
            }
            local = straightRun(kernel, v.loopEdge, local, step, out + k, count);
            pos = local + shift;
            k += count;
        } else {
            int16_t taps[static_cast<size_t>(kBefore + 1 + kAfter)];
            for (int t = -kBefore; t <= kAfter; ++t) taps[static_cast<size_t>(t + kBefore)] = sampleAt(v, i + t);
            out[k++] = kernel(taps + kBefore, static_cast<uint32_t>(pos));
            pos += step;
        }
    }
    v.position = pos;
    return frames;
}

}  // namespace

void prepareResampler() { (void)sincTable(); }

bool allowWideVectors(bool allow) noexcept { return wideVectorsAllowed.exchange(allow); }

void prepareLoopEdge(StudioVoice& voice) noexcept {
    if (!voice.looped) return;
    // Read as a voice that has come round its loop reads past the loop's end.
    StudioVoice wrapped = voice;
    wrapped.wrapped = true;
    const int64_t base = voice.loopEnd + 1 - StudioVoice::kLoopEdge;
    for (int k = 0; k < 2 * StudioVoice::kLoopEdge; ++k) {
        const int64_t j = base + k;
        voice.loopEdge[k] = j <= voice.loopEnd ? (j >= 0 ? voice.samples[j] : 0) : sampleAt(wrapped, j);
    }
}

uint32_t resampleVoice(StudioVoice& voice, Interpolation interpolation, float* out, uint32_t frames) noexcept {
    switch (interpolation) {
    case Interpolation::Nearest: return run(voice, out, frames, Nearest{});
    case Interpolation::Linear: return run(voice, out, frames, Linear{});
    case Interpolation::Sinc: return run(voice, out, frames, Sinc{&sincTable()});
    case Interpolation::Cubic: break;
    }
    return run(voice, out, frames, Cubic{});
}

}  // namespace tonvero
