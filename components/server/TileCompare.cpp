#include "server/TileCompare.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelio::components::tiles {

bool Differ(const std::uint32_t* a, const std::uint32_t* b, int count) {
    int i = 0;
#if defined(__SSE2__)
    // 16 pixels (64 bytes) a step: four XORs ORed together, one test.
    for (; i + 16 <= count; i += 16) {
        const auto* pa = reinterpret_cast<const __m128i*>(a + i);
        const auto* pb = reinterpret_cast<const __m128i*>(b + i);
        const __m128i x0 = _mm_xor_si128(_mm_loadu_si128(pa), _mm_loadu_si128(pb));
        const __m128i x1 = _mm_xor_si128(_mm_loadu_si128(pa + 1), _mm_loadu_si128(pb + 1));
        const __m128i x2 = _mm_xor_si128(_mm_loadu_si128(pa + 2), _mm_loadu_si128(pb + 2));
        const __m128i x3 = _mm_xor_si128(_mm_loadu_si128(pa + 3), _mm_loadu_si128(pb + 3));
        const __m128i any = _mm_or_si128(_mm_or_si128(x0, x1), _mm_or_si128(x2, x3));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xffff) return true;
    }
    for (; i + 4 <= count; i += 4) {
        const __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_setzero_si128())) != 0xffff) return true;
    }
#else
    // Two pixels a word, eight words a step.
    for (; i + 16 <= count; i += 16) {
        std::uint64_t any = 0;
        for (int k = 0; k < 16; k += 2) {
            std::uint64_t wa, wb;
            std::memcpy(&wa, a + i + k, 8);
            std::memcpy(&wb, b + i + k, 8);
            any |= wa ^ wb;
        }
        if (any) return true;
    }
#endif
    for (; i < count; ++i)
        if (a[i] != b[i]) return true;
    return false;
}

void MergeRow(const std::uint32_t* src, std::uint32_t* dest, int x, int width, char* marks) {
    const int first = x / Size;
    // Only what differs is written (a compare reads, a copy also writes); differing parts next to each
    // other are copied in one go.
    int copyFrom = -1;
    const auto flush = [&](int to) {
        if (copyFrom < 0) return;
        std::memcpy(dest + copyFrom, src + (copyFrom - x), std::size_t(to - copyFrom) * 4);
        copyFrom = -1;
    };
    const int end = x + width;
    for (int x0 = x; x0 < end;) {
        const int tile = x0 / Size;
        const int x1 = std::min(end, (tile + 1) * Size);
        char& mark = marks[tile - first];
        if (Differ(dest + x0, src + (x0 - x), x1 - x0)) {
            mark = 1;
            if (copyFrom < 0) copyFrom = x0;
        } else {
            flush(x0);
        }
        x0 = x1;
    }
    flush(end);
}

}  // namespace pelio::components::tiles
