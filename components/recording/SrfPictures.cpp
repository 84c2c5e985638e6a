#include "recording/SrfPictures.h"

// libjpeg's own interface, not TurboJPEG's: LibVNCClient, which the program also links, exports
// TurboJPEG functions of its own with the same names, and the dynamic linker would bind ours to them.
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pelio::components::srf {

namespace {

// A tile is photo-like when more than this many of its (at most 256) sampled pixels have colours
// no other sample has ...
constexpr int DistinctColoursForPhoto = 96;
// ... or when more than this share of sampled pixels differ from their right neighbour by at most
// SmoothStep in every colour.
constexpr int SmoothStep = 12;
constexpr int SmoothPercentForPhoto = 35;

// libjpeg reports errors, and here warnings too (damaged data), by jumping back to the call.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void JumpOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void JumpOnWarning(j_common_ptr info, int level) {
    if (level < 0) std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void Quiet(j_common_ptr) {}

void SetUp(JpegErrors& errors) {
    jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JumpOnError;
    errors.manager.emit_message = JumpOnWarning;
    errors.manager.output_message = Quiet;
}

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

// The libjpeg calls below sit in functions without objects to destroy: an error jumps out of them.
bool EncodePicture(const PixelRows& screen, const QRect& rect, std::vector<std::uint8_t>& out) {
    jpeg_compress_struct info;
    JpegErrors errors;
    SetUp(errors);
    info.err = &errors.manager;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(rect.width());
    info.image_height = JDIMENSION(rect.height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);  // YCbCr with 4:2:0 subsampling
    jpeg_set_quality(&info, PictureQuality, TRUE);
    info.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(screen.Row(rect.top() + int(info.next_scanline), rect.left()));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    out.assign(buffer, buffer + size);
    std::free(buffer);
    return true;
}

bool DecodePicture(const std::uint8_t* data, std::size_t bytes, QSize size, int pixelBytes,
                   std::vector<std::uint8_t>& out) {
    if (bytes == 0 || bytes > ULONG_MAX || size.isEmpty()) return false;
    out.resize(std::size_t(size.width()) * std::size_t(size.height()) * std::size_t(pixelBytes));
    jpeg_decompress_struct info;
    JpegErrors errors;
    SetUp(errors);
    info.err = &errors.manager;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(bytes));
    // Only what the writer makes: one scan (a progressive image costs many passes), of the size given.
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || jpeg_has_multiple_scans(&info) ||
        info.image_width != JDIMENSION(size.width()) || info.image_height != JDIMENSION(size.height())) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = pixelBytes == 4 ? JCS_EXT_BGRA : JCS_EXT_BGR;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    const std::size_t rowBytes = std::size_t(size.width()) * std::size_t(pixelBytes);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.data() + std::size_t(info.output_scanline) * rowBytes;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
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
