#include "recording/SrfDeltaPlan.h"

#include "recording/SrfPictures.h"

#include <algorithm>

namespace pelio::components::srf {

namespace {

constexpr int MoveColumnWidth = 128;

// Moves the photo-like parts of `rects` into `pictures`, as few rectangles as the region makes
// (every JPEG image carries some 600 bytes of tables). Leaves both as they were when that would make
// more than maxRects rectangles.
void SplitPictures(const PixelRows& now, int maxRects, std::vector<QRect>& rects,
                   std::vector<QRect>& pictures) {
    QRegion changed;
    for (const QRect& r : rects) changed += r;
    const QRegion photos = PhotoLikePart(now, changed);
    if (photos.isEmpty()) return;
    std::vector<QRect> exact;
    for (const QRect& r : rects)
        for (const QRect& part : QRegion(r).subtracted(photos)) exact.push_back(part);
    if (exact.size() + std::size_t(photos.rectCount()) > std::size_t(maxRects)) return;
    for (const QRect& part : photos) pictures.push_back(part);
    rects = std::move(exact);
}

}  // namespace

DeltaPlan PlanDelta(std::uint8_t* committed, const PixelRows& now, const QRegion& dirty, int maxRects,
                    bool pictures) {
    DeltaPlan plan;
    const PixelRows before{committed, now.lineBytes, now.pixelBytes};
    std::vector<QRect> areas;
    if (dirty.rectCount() > maxRects) {
        areas.push_back(dirty.boundingRect());
    } else {
        for (const QRect& r : dirty) areas.push_back(r);
    }
    const QRect bounds = dirty.boundingRect();
    for (int x = bounds.left(); x <= bounds.right(); x += MoveColumnWidth) {
        const QRect column(x, bounds.top(), std::min(MoveColumnWidth, bounds.right() + 1 - x),
                           bounds.height());
        const std::vector<Move> found = FindVerticalMoves(before, now, column);
        plan.moves.insert(plan.moves.end(), found.begin(), found.end());
    }
    if (plan.moves.size() > std::size_t(maxRects)) plan.moves.clear();
    ApplyMoves(committed, now.lineBytes, now.pixelBytes, plan.moves);
    for (const QRect& area : areas) AppendChangedRows(before, now, area, plan.rects);
    if (plan.rects.size() > std::size_t(maxRects)) plan.rects = areas;
    if (pictures) SplitPictures(now, maxRects, plan.rects, plan.pictures);
    return plan;
}

}  // namespace pelio::components::srf
