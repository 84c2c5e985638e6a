#include "LatencyMarker.h"

#include <algorithm>
#include <cmath>

namespace pelio::bench {

namespace {

std::uint32_t Check(std::uint32_t sequence) {
    // A 12-bit hash that differs in many bits for neighbouring numbers and is never zero-word for 0.
    return ((sequence * 2654435761u) >> 20 ^ 0xa5c) & 0xfff;
}

}  // namespace

std::uint32_t MarkerWord(std::uint32_t sequence) {
    sequence &= kMarkerSequenceMask;
    return sequence | Check(sequence) << 20;
}

bool MarkerCellWhite(std::uint32_t sequence, int column, int row) {
    return (MarkerWord(sequence) >> (row * kMarkerColumns + column) & 1) != 0;
}

std::vector<std::uint32_t> MarkerPixels(std::uint32_t sequence) {
    std::vector<std::uint32_t> pixels(std::size_t(kMarkerWidth) * kMarkerHeight);
    for (int y = 0; y < kMarkerHeight; ++y)
        for (int x = 0; x < kMarkerWidth; ++x)
            pixels[std::size_t(y) * kMarkerWidth + std::size_t(x)] =
                MarkerCellWhite(sequence, x / kMarkerCell, y / kMarkerCell) ? 0xffffff : 0x000000;
    return pixels;
}

std::optional<std::uint32_t> ReadMarker(const std::function<int(int x, int y)>& luminance) {
    std::uint32_t word = 0;
    for (int row = 0; row < kMarkerRows; ++row)
        for (int column = 0; column < kMarkerColumns; ++column) {
            // The middle 4x4 pixels of the cell, away from the ringing at its edges.
            int sum = 0;
            const int x0 = column * kMarkerCell + kMarkerCell / 2 - 2,
                      y0 = row * kMarkerCell + kMarkerCell / 2 - 2;
            for (int y = y0; y < y0 + 4; ++y)
                for (int x = x0; x < x0 + 4; ++x) sum += luminance(x, y);
            if (sum > 16 * 128) word |= 1u << (row * kMarkerColumns + column);
        }
    const std::uint32_t sequence = word & kMarkerSequenceMask;
    if (MarkerWord(sequence) != word) return std::nullopt;
    return sequence;
}

std::uint32_t MarkerTimes::Next() const {
    std::lock_guard lock(m_mutex);
    return std::uint32_t(m_drawn.size() + 1);
}

void MarkerTimes::Drawn(Clock::time_point when) {
    std::lock_guard lock(m_mutex);
    m_drawn.push_back(when);
}

std::optional<std::pair<std::uint32_t, MarkerTimes::Clock::time_point>> MarkerTimes::Find(
    std::uint32_t read) const {
    std::lock_guard lock(m_mutex);
    const std::uint32_t latest = std::uint32_t(m_drawn.size());
    if (latest == 0) return std::nullopt;
    // The latest number drawn whose low 20 bits are `read`.
    const std::uint32_t back = (latest - read) & kMarkerSequenceMask;
    if (back >= latest) return std::nullopt;
    const std::uint32_t sequence = latest - back;
    return std::make_pair(sequence, m_drawn[sequence - 1]);
}

bool LatencyLog::Shown(std::optional<std::uint32_t> read, MarkerTimes::Clock::time_point now) {
    if (!read || !m_times) return false;
    const auto found = m_times->Find(*read);
    if (!found || found->first <= m_last) return false;
    m_last = found->first;
    if (m_counting) {
        ++m_frames;
        m_ms.push_back(std::chrono::duration<double, std::milli>(now - found->second).count());
    }
    return true;
}

double LatencyLog::Quantile(double q) const {
    if (m_ms.empty()) return -1;
    std::vector<double> sorted = m_ms;
    std::sort(sorted.begin(), sorted.end());
    // The nearest-rank quantile.
    const double rank = std::ceil(q * double(sorted.size()));
    return sorted[std::size_t(std::clamp(rank, 1.0, double(sorted.size()))) - 1];
}

}  // namespace pelio::bench
