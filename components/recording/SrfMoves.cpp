#include "recording/SrfMoves.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace pelio::components::srf {

namespace {

// A hash of a row from up to 16 eight-byte words spread over it: cheap enough to take for every row
// of a changed area; equal rows give equal hashes, and candidates are compared in full afterwards.
std::uint64_t SampledRowHash(const std::uint8_t* row, std::size_t bytes) {
    std::uint64_t h = 0x9e3779b97f4a7c15ull ^ bytes;
    if (bytes < 8) {
        for (std::size_t i = 0; i < bytes; ++i) h = (h ^ row[i]) * 0x100000001b3ull;
        return h;
    }
    const std::size_t words = bytes / 8;
    const std::size_t step = std::max<std::size_t>(1, words / 16);
    for (std::size_t i = 0; i < words; i += step) {
        std::uint64_t w;
        std::memcpy(&w, row + i * 8, 8);
        h = (h ^ w) * 0x100000001b3ull;
        h ^= h >> 29;
    }
    std::uint64_t last;
    std::memcpy(&last, row + bytes - 8, 8);
    return (h ^ last) * 0x100000001b3ull;
}

// A row of one colour matches every other such row: it says nothing about where content moved.
bool Uniform(const std::uint8_t* row, std::size_t bytes, int pixelBytes) {
    // Equal to itself shifted by one pixel: every pixel is the first one.
    const std::size_t pb = std::size_t(pixelBytes);
    return bytes <= pb || std::memcmp(row, row + pb, bytes - pb) == 0;
}

}  // namespace

std::vector<Move> FindVerticalMoves(const PixelRows& before, const PixelRows& after, const QRect& area) {
    std::vector<Move> moves;
    if (area.height() < 2 * MinMoveRows || area.width() < 8) return moves;
    const std::size_t bytes = std::size_t(area.width()) * std::size_t(after.pixelBytes);

    std::unordered_map<std::uint64_t, int> oldRows;  // hash -> a row of `before` (-1: several)
    oldRows.reserve(std::size_t(area.height()) * 2);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const std::uint8_t* row = before.Row(y, area.left());
        if (Uniform(row, bytes, before.pixelBytes)) continue;
        const auto [it, inserted] = oldRows.emplace(SampledRowHash(row, bytes), y);
        if (!inserted) it->second = -1;
    }
    if (oldRows.empty()) return moves;

    // Every new row that equals exactly one old row votes for the shift between them.
    std::unordered_map<int, int> votes;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const std::uint8_t* row = after.Row(y, area.left());
        const auto it = oldRows.find(SampledRowHash(row, bytes));
        if (it == oldRows.end() || it->second < 0 || it->second == y) continue;
        if (std::memcmp(row, before.Row(it->second, area.left()), bytes) == 0) ++votes[it->second - y];
    }
    int shift = 0, best = 0;
    for (const auto& [s, n] : votes)
        if (n > best || (n == best && std::abs(s) < std::abs(shift))) shift = s, best = n;
    if (best < MinMoveRows) return moves;

    // The runs of rows whose whole content equals the shifted old rows.
    const int first = std::max(area.top(), area.top() - shift);
    const int last = std::min(area.bottom(), area.bottom() - shift);
    int runStart = -1;
    auto close = [&](int end) {
        if (runStart >= 0 && end - runStart >= MinMoveRows)
            moves.push_back({QRect(area.left(), runStart, area.width(), end - runStart), runStart + shift});
        runStart = -1;
    };
    for (int y = first; y <= last; ++y) {
        if (std::memcmp(after.Row(y, area.left()), before.Row(y + shift, area.left()), bytes) == 0) {
            if (runStart < 0) runStart = y;
        } else {
            close(y);
        }
    }
    close(last + 1);
    // Applied one after the other, the runs must not overwrite a later run's source: with content
    // moving up (sources below) the top run goes first, with content moving down the bottom one.
    if (shift < 0) std::reverse(moves.begin(), moves.end());
    return moves;
}

void ApplyMoves(std::uint8_t* data, std::size_t lineBytes, int pixelBytes, const std::vector<Move>& moves,
                std::vector<std::uint8_t>* saved) {
    if (saved) saved->clear();
    for (const Move& m : moves) {
        const std::size_t offset = std::size_t(m.dest.left()) * std::size_t(pixelBytes);
        const std::size_t bytes = std::size_t(m.dest.width()) * std::size_t(pixelBytes);
        const int shift = m.sourceY - m.dest.top();
        if (saved) {
            for (int y = m.dest.top(); y <= m.dest.bottom(); ++y) {
                const std::uint8_t* row = data + std::size_t(y) * lineBytes + offset;
                saved->insert(saved->end(), row, row + bytes);
            }
        }
        auto copy = [&](int y) {
            std::memmove(data + std::size_t(y) * lineBytes + offset,
                         data + std::size_t(y + shift) * lineBytes + offset, bytes);
        };
        if (shift > 0) {
            for (int y = m.dest.top(); y <= m.dest.bottom(); ++y) copy(y);
        } else if (shift < 0) {
            for (int y = m.dest.bottom(); y >= m.dest.top(); --y) copy(y);
        }
    }
}

void UndoMoves(std::uint8_t* data, std::size_t lineBytes, int pixelBytes, const std::vector<Move>& moves,
               const std::vector<std::uint8_t>& saved) {
    std::size_t end = saved.size();
    for (auto m = moves.rbegin(); m != moves.rend(); ++m) {
        const std::size_t bytes = std::size_t(m->dest.width()) * std::size_t(pixelBytes);
        end -= bytes * std::size_t(m->dest.height());
        const std::uint8_t* from = saved.data() + end;
        for (int y = m->dest.top(); y <= m->dest.bottom(); ++y, from += bytes)
            std::memcpy(
                data + std::size_t(y) * lineBytes + std::size_t(m->dest.left()) * std::size_t(pixelBytes),
                from, bytes);
    }
}

void AppendChangedRows(const PixelRows& before, const PixelRows& after, const QRect& area,
                       std::vector<QRect>& out) {
    const std::size_t bytes = std::size_t(area.width()) * std::size_t(after.pixelBytes);
    int runStart = -1;
    for (int y = area.top(); y <= area.bottom() + 1; ++y) {
        const bool differs = y <= area.bottom() &&
                             std::memcmp(after.Row(y, area.left()), before.Row(y, area.left()), bytes) != 0;
        if (differs && runStart < 0) {
            runStart = y;
        } else if (!differs && runStart >= 0) {
            out.emplace_back(area.left(), runStart, area.width(), y - runStart);
            runStart = -1;
        }
    }
}

void AppendPrefix(const PixelRows& screen, const std::vector<Move>& moves, const std::vector<QRect>& rects,
                  std::vector<std::uint8_t>& out) {
    std::size_t size = out.size();
    for (const Move& m : moves) size += std::size_t(m.dest.width()) * std::size_t(m.dest.height()) * 3;
    for (const QRect& r : rects) size += std::size_t(r.width()) * std::size_t(r.height()) * 3;
    std::size_t at = out.size();
    out.resize(size);
    auto append = [&](const QRect& r) {
        const std::size_t n = std::size_t(r.width()) * 3;
        for (int y = r.top(); y <= r.bottom(); ++y, at += n) {
            const std::uint8_t* row = screen.Row(y, r.left());
            std::uint8_t* q = out.data() + at;
            if (screen.pixelBytes == 3) {
                std::memcpy(q, row, n);
            } else {
                for (int x = 0; x < r.width(); ++x, row += screen.pixelBytes, q += 3) {
                    q[0] = row[0];
                    q[1] = row[1];
                    q[2] = row[2];
                }
            }
        }
    };
    for (const Move& m : moves) append(m.dest);
    for (const QRect& r : rects) append(r);
}

}  // namespace pelio::components::srf
