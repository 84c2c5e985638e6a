// Photo-like areas of a recording: pictures, video and gradients change many pixels in colours that
// repeat little, and cost a lossless recording many times what they cost as JPEG. A delta frame
// stores such areas as JPEG "pictures"; text and flat interface areas stay exact.
#pragma once

#include "recording/SrfMoves.h"

#include <QRect>
#include <QRegion>
#include <QSize>

#include <cstdint>
#include <vector>

namespace pelio::components::srf {

// The side of the screen-aligned square tiles that are classified.
inline constexpr int PictureTile = 32;
// JPEG quality of pictures.
inline constexpr int PictureQuality = 80;

// The photo-like part of `changed` on a screen of 3 bytes B, G, R per pixel: the screen-aligned
// tiles touching it whose pixels are mostly of different colours or step smoothly from one to the
// next (a tile between two such counts too), kept only where they form a block at least two tiles
// wide and high, so that a lone icon or a gradient title bar stays exact.
QRegion PhotoLikePart(const PixelRows& screen, const QRegion& changed);

// Compresses `rect` of a screen of 3 bytes B, G, R per pixel as a JPEG image; false on failure.
bool EncodePicture(const PixelRows& screen, const QRect& rect, std::vector<std::uint8_t>& out);

// Decodes a JPEG image of exactly `size` pixels into `out` (rows of size.width() pixels, 3 bytes
// B, G, R per pixel, or 4 bytes B, G, R, A with pixelBytes 4). False when the data is not such an
// image.
bool DecodePicture(const std::uint8_t* data, std::size_t bytes, QSize size, int pixelBytes,
                   std::vector<std::uint8_t>& out);

// Copies pixels decoded by DecodePicture into `rect` of a screen of the same pixel size.
void PutPicture(const std::vector<std::uint8_t>& pixels, std::uint8_t* screen, std::size_t lineBytes,
                int pixelBytes, const QRect& rect);

}  // namespace pelio::components::srf
