// The comparison of a grab with the served screen, row by row, in 32 x 32 tiles: the capture's hot
// loop, kept apart from X so that it can be tested in every position. Plain C++ with SSE2 where the
// compiler targets x86-64.
#pragma once

#include <cstdint>

namespace pelio::components::tiles {

constexpr int Size = 32;  // the tile's width and height in pixels

// True when the `count` pixels at a and b differ anywhere. Reads 64 bytes a step and stops at the
// first step that differs.
bool Differ(const std::uint32_t* a, const std::uint32_t* b, int count);

// One row of a grab: `src` holds `width` pixels of screen columns x .. x + width - 1, `dest` the
// whole screen row. For each tile on the screen's 32-pixel grid that the row crosses, the part of the
// row in it is compared and, when it differs, copied into dest and the tile's mark set (marks set by
// earlier rows stay). marks[0] is the tile of column x.
void MergeRow(const std::uint32_t* src, std::uint32_t* dest, int x, int width, char* marks);

}  // namespace pelio::components::tiles
