// What a delta frame stores for the changes since the frame before: moved rows, exact rectangles and
// JPEG pictures (layout in SrfFormat.h).
#pragma once

#include "recording/SrfMoves.h"

#include <QRegion>

#include <vector>

namespace pelio::components::srf {

struct DeltaPlan {
    std::vector<Move> moves;      // applied first, in this order
    std::vector<QRect> rects;     // exact pixels, after the moves
    std::vector<QRect> pictures;  // photo-like areas, as JPEG
};

// Plans the frame that turns `committed` (the screen as the last frame left it, 3 bytes B, G, R per
// pixel, as wide as `now`) into `now` inside `dirty`, and applies the plan's moves to `committed`.
// Moves are looked for in 128-pixel columns across everything that changed: a scrolled window leaves
// a ragged changed area (short lines leave tiles unchanged), and its columns scroll alike. The rows
// that still differ after the moves become rectangles (the changed areas as they are when that would
// make more than maxRects), and their photo-like parts pictures when `pictures` is set.
DeltaPlan PlanDelta(std::uint8_t* committed, const PixelRows& now, const QRegion& dirty, int maxRects,
                    bool pictures);

}  // namespace pelio::components::srf
