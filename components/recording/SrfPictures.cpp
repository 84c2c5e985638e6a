#include "recording/SrfPictures.h"

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace pelio::components::srf {

namespace {

// A tile is photo-like when more than this many of its (at most 256) sampled pixels have colours
// no other sample has ...
constexpr int DistinctColoursForPhoto = 96;
// ... or when more than this share of sampled pixels differ from their right neighbour by at most
// SmoothStep in every colour.
constexpr int SmoothStep = 12;
constexpr int SmoothPercentForPhoto = 35;

struct TjFree {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjFree>;

// Photo-like: the tile's sampled pixels are mostly of different colours (a photo), or many of them
// differ a little from their right neighbour (a gradient or a video frame). Anti-aliased text and
// interface graphics use a few dozen colours, and their neighbours are equal or far apart.
bool PhotoLikeTile(const PixelRows& screen, const QRect& tile) {
    std::array<std::uint32_t, 1024> seen{};  // open addressing; 0 marks an empty slot
    int distinct = 0, pairs = 0, smooth = 0;
    const int stepX = tile.width() > 16 ? 2 : 1, stepY = tile.height() > 16 ? 2 : 1;
    for (int y = tile.top(); y <= tile.bottom(); y += stepY) {
        const std::uint8_t* p = screen.Row(y, tile.left());
        for (int x = 0; x < tile.width(); x += stepX, p += 3 * stepX) {
            const std::uint32_t colour =
                0x1000000u | std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
            std::size_t slot = (colour * 2654435761u) >> 22;
            while (seen[slot] != 0 && seen[slot] != colour) slot = (slot + 1) & (seen.size() - 1);
            if (seen[slot] == 0) {
                seen[slot] = colour;
                ++distinct;
            }
            if (x + 1 < tile.width()) {
                const int d = std::max({std::abs(p[0] - p[3]), std::abs(p[1] - p[4]), std::abs(p[2] - p[5])});
                ++pairs;
                if (d > 0 && d <= SmoothStep) ++smooth;
            }
        }
    }
    return distinct > DistinctColoursForPhoto ||
           (pairs >= 16 && smooth * 100 > pairs * SmoothPercentForPhoto);
}

}  // namespace

QRegion PhotoLikePart(const PixelRows& screen, const QRegion& changed) {
    const QRect bounds = changed.boundingRect();
    if (bounds.width() < 2 * PictureTile || bounds.height() < 2 * PictureTile) return {};
    const int tx0 = bounds.left() / PictureTile, tx1 = bounds.right() / PictureTile;
    const int ty0 = bounds.top() / PictureTile, ty1 = bounds.bottom() / PictureTile;
    const int cols = tx1 - tx0 + 1, rows = ty1 - ty0 + 1;
    std::vector<char> photo(std::size_t(cols) * std::size_t(rows), 0);
    bool any = false;
    for (int ty = ty0; ty <= ty1; ++ty) {
        for (int tx = tx0; tx <= tx1; ++tx) {
            // What changed in the tile decides: the edge of a video is a sliver of its tile.
            const QRect square(tx * PictureTile, ty * PictureTile, PictureTile, PictureTile);
            const QRect tile = changed.intersected(square).boundingRect();
            if (tile.isEmpty() || !PhotoLikeTile(screen, tile)) continue;
            photo[std::size_t(ty - ty0) * std::size_t(cols) + std::size_t(tx - tx0)] = 1;
            any = true;
        }
    }
    QRegion part;
    if (!any) return part;
    auto at = [&](const std::vector<char>& map, int c, int r) {
        return c >= 0 && r >= 0 && c < cols && r < rows &&
               map[std::size_t(r) * std::size_t(cols) + std::size_t(c)];
    };
    // A tile between two photo-like ones belongs to the picture: a flat patch of a video frame would
    // otherwise cut it into many pieces.
    std::vector<char> filled = photo;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            if ((at(photo, c - 1, r) && at(photo, c + 1, r)) || (at(photo, c, r - 1) && at(photo, c, r + 1)))
                filled[std::size_t(r) * std::size_t(cols) + std::size_t(c)] = 1;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            if (!at(filled, c, r)) continue;
            // Part of a block at least two tiles wide and high: not a lone icon or a gradient bar.
            if ((at(filled, c - 1, r) || at(filled, c + 1, r)) &&
                (at(filled, c, r - 1) || at(filled, c, r + 1)))
                part += QRect((tx0 + c) * PictureTile, (ty0 + r) * PictureTile, PictureTile, PictureTile);
        }
    }
    return part.intersected(changed);
}

bool EncodePicture(const PixelRows& screen, const QRect& rect, std::vector<std::uint8_t>& out) {
    const TjHandle tj(tjInitCompress());
    if (!tj) return false;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int rc =
        tjCompress2(tj.get(), screen.Row(rect.top(), rect.left()), rect.width(), int(screen.lineBytes),
                    rect.height(), TJPF_BGR, &jpeg, &size, TJSAMP_420, PictureQuality, 0);
    const bool ok = rc == 0 && jpeg != nullptr;
    if (ok) out.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    return ok;
}

bool DecodePicture(const std::uint8_t* data, std::size_t bytes, QSize size, int pixelBytes,
                   std::vector<std::uint8_t>& out) {
    const TjHandle tj(tjInitDecompress());
    if (!tj || bytes == 0 || bytes > 0x7fffffffu) return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    auto* jpeg = const_cast<unsigned char*>(data);
    if (tjDecompressHeader3(tj.get(), jpeg, static_cast<unsigned long>(bytes), &width, &height, &subsampling,
                            &colourspace) != 0 ||
        width != size.width() || height != size.height())
        return false;
    out.resize(std::size_t(width) * std::size_t(height) * std::size_t(pixelBytes));
    return tjDecompress2(tj.get(), jpeg, static_cast<unsigned long>(bytes), out.data(), width,
                         width * pixelBytes, height, pixelBytes == 4 ? TJPF_BGRA : TJPF_BGR, 0) == 0;
}

void PutPicture(const std::vector<std::uint8_t>& pixels, std::uint8_t* screen, std::size_t lineBytes,
                int pixelBytes, const QRect& rect) {
    const std::size_t rowBytes = std::size_t(rect.width()) * std::size_t(pixelBytes);
    for (int y = 0; y < rect.height(); ++y)
        std::memcpy(screen + std::size_t(rect.top() + y) * lineBytes +
                        std::size_t(rect.left()) * std::size_t(pixelBytes),
                    pixels.data() + std::size_t(y) * rowBytes, rowBytes);
}

}  // namespace pelio::components::srf
