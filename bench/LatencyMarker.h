// The marker that the benchmarks stamp on the screen with every change, to measure how long a change
// takes to reach a viewer: a 128x64 block of 8x4 black or white 16-pixel cells that spells a 32-bit
// word, a 20-bit sequence number and a 12-bit check of it. Black and white are the colours farthest
// apart and cells of 16 pixels keep them apart through lossy JPEG at low quality, wherever the
// encoder's 8x8 blocks fall; the check makes a marker that a viewer shows half old and half new read as
// none rather than as a wrong number.
//
// MarkerTimes records when each number was drawn (from the generator's thread) and answers the viewer's
// thread when it reads a number back.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace pelio::bench {

constexpr int kMarkerCell = 16, kMarkerColumns = 8, kMarkerRows = 4;
constexpr int kMarkerWidth = kMarkerCell * kMarkerColumns, kMarkerHeight = kMarkerCell * kMarkerRows;
constexpr std::uint32_t kMarkerSequenceMask = (1u << 20) - 1;

// The word for sequence number `sequence` (taken modulo 2^20).
std::uint32_t MarkerWord(std::uint32_t sequence);
// Whether the cell at column, row is white in the marker for `sequence`.
bool MarkerCellWhite(std::uint32_t sequence, int column, int row);
// The marker for `sequence` as 0xRRGGBB pixels, kMarkerWidth x kMarkerHeight, row by row.
std::vector<std::uint32_t> MarkerPixels(std::uint32_t sequence);

// The sequence number that the marker spells, reading luminance(x, y) (0..255, x and y from the
// marker's top left); none when the cells do not spell a word whose check holds.
std::optional<std::uint32_t> ReadMarker(const std::function<int(int x, int y)>& luminance);

// When each sequence number (1, 2, ...) was drawn; thread-safe.
class MarkerTimes {
  public:
    using Clock = std::chrono::steady_clock;
    // The next sequence number to draw.
    std::uint32_t Next() const;
    // Records that the marker of the number Next() gave is on the screen now.
    void Drawn(Clock::time_point when);
    // When the number read back from a marker (modulo 2^20) was drawn, as the latest drawn number with
    // those low bits; none when no such number was drawn.
    std::optional<std::pair<std::uint32_t, Clock::time_point>> Find(std::uint32_t read) const;

  private:
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_drawn;  // index: sequence number - 1
};

// Latencies of the changes that a viewer showed: each newly shown number's delay after it was drawn.
class LatencyLog {
  public:
    explicit LatencyLog(const MarkerTimes* times) : m_times(times) {}
    // A marker read back at `now` (none: no marker or a torn one); true when it showed a new number.
    bool Shown(std::optional<std::uint32_t> read, MarkerTimes::Clock::time_point now);
    // Starts counting from now on (before, numbers are followed but not counted).
    void StartCounting() { m_counting = true, m_ms.clear(), m_frames = 0; }
    long Frames() const { return m_frames; }
    // The latency in ms at fraction q (0.5: median, 0.95); -1 when none was measured.
    double Quantile(double q) const;

  private:
    const MarkerTimes* m_times;
    std::uint32_t m_last = 0;
    bool m_counting = false;
    long m_frames = 0;
    std::vector<double> m_ms;
};

}  // namespace pelio::bench
