// The memory of the screen a link decodes into (RGB32, 0x00RRGGBB, rows of width * 4 bytes), and the
// two drawing operations in it that the link does itself instead of LibVNCClient, whose own copy and
// fill store pixel by pixel.
#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>

namespace pelio::components {

// A w x h RGB32 image in a new System V shared-memory segment (its id in *segment), already marked
// for removal: the segment lives while this process or an X server maps it, and the image's memory
// stays where it is while the image is not shared. Null when no segment can be made.
QImage SharedScreenImage(int w, int h, int* segment);

// Within a screen of `size` at `pixels`: copies `from` to `to` (the areas may overlap), or fills
// `area` with colour. An area not wholly on the screen is ignored, as the library does.
void CopyScreenArea(std::uint8_t* pixels, QSize size, const QRect& from, QPoint to);
void FillScreenArea(std::uint8_t* pixels, QSize size, const QRect& area, std::uint32_t colour);

}  // namespace pelio::components
