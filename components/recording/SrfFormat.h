// The ".srf" screen recording format: constants and the little-endian helpers shared by the writer
// and the reader.
//
// Layout
// ------
// A recording is a 64-byte file header followed by chunks that are only ever appended. All numbers
// are little-endian.
//
// File header (offset 0, 64 bytes):
//   0  8  magic "PELIOSRF"
//   8  2  format version (2; version 1 files are read as well)
//  10  2  header size (64)
//  12  4  flags: bit 0 "finished" (the index chunk and the fields below are valid)
//  16  8  creation time, milliseconds since 1970-01-01 UTC: the wall-clock time of frame time 0
//  24  8  file offset of the index chunk (0 until finished)
//  32  4  length of the recording in milliseconds (0 until finished)
//  36  4  number of frames (0 until finished)
//  40 20  reserved, zero
//  60  4  CRC-32 of bytes 0..59
// The writer writes the header once when it starts (flags 0) and rewrites it in place as its very
// last step, after the index is on disk. Everything else is append-only.
//
// Chunk (16-byte chunk header, then the payload):
//   0  4  tag: "KEYF" key frame, "DELT" delta frame, "INDX" index
//   4  4  payload size in bytes
//   8  4  time in milliseconds since the start of the recording (frames); 0 for the index
//  12  4  CRC-32 over bytes 0..11 of the chunk header followed by the payload
// Frame times never decrease from one frame to the next.
//
// Frame payload (key frames and delta frames alike), version 2:
//   u16 screen width, u16 screen height           (1..MaxScreenSide each, MaxScreenPixels in all)
//   u8  cursor flags: bit 0 visible, bit 1 a new cursor shape follows
//   i16 cursor x, i16 cursor y                    (top left of the hot spot, screen coordinates)
//   if bit 1: u16 shape width, u16 shape height (1..MaxCursorSide), u16 hot x, u16 hot y (inside)
//   u16 number of moves, then per move u16 x, y, width, height, source y (inside the screen)
//   u16 number of rectangles, then per rectangle u16 x, y, width, height (inside the screen)
//   u16 number of pictures, then per picture u16 x, y, width, height (inside the screen), u32 size
//   u32 size of the uncompressed pixel data
//   u32 size of the zstd frame
//   a zstd frame holding the pixel data: for each rectangle in order its pixels row by row as
//   3 bytes B, G, R; then, with bit 1, the cursor shape row by row as 4 bytes B, G, R, A
//   (alpha not premultiplied)
//   the pictures' data, one after the other: each a JPEG image of its picture's size.
// A frame is applied in that order: the moves one after the other (each copies the rows
// source y..source y+height-1 of its columns x..x+width-1 to rows y..y+height-1, reading the screen
// as the moves before it left it), then the rectangles' pixels, then the pictures. Rectangles and
// pictures of one frame do not overlap. Moves carry scrolled text and windows dragged up or down;
// pictures carry photo-like areas (video, photos, gradients) at JPEG quality, while text and flat
// interface areas stay exact in the rectangles.
// In a delta frame the zstd frame is compressed against a prefix (zstd's "raw content" prefix,
// ZSTD_CCtx_refPrefix) taken from the screen after the moves, 3 bytes B, G, R per pixel: the rows of
// every move's destination in order, then the pixels of every rectangle in order. Text that scrolled
// holds the glyphs new lines repeat, and a rectangle repainted unchanged costs a few bytes. The zstd
// window covers the prefix and the data (at most 2^MaxWindowLog bytes). A key frame has no moves and
// no pictures, and its zstd frame no prefix.
// Version 1 (still read): no move, picture or zstd-frame size fields, the zstd frame runs to the end
// of the payload, and no prefix.
// A key frame covers the whole screen with one rectangle and carries the cursor shape; it needs
// nothing before it. A delta frame changes the screen left by the frame before it and must have the
// same screen size. The first frame and the first frame after a change of screen size are key frames.
//
// Bounds
// ------
// A screen is at most 8192 pixels a side and 8192 x 4320 pixels in all: the largest displays made
// (8192 x 4320, 7680 x 4320) and desktops of up to four 4K displays (7680 x 4320 as two by two,
// 7680 x 2160 side by side) fit; what is larger is no real screen, only a file asking for memory. The
// reader refuses a file whose first frame declares a larger screen, and treats a later frame that does
// as damaged.
// Seeking decodes from the key frame before the target. The writer writes a key frame at least every
// 5 seconds, and before the delta frames since the last key frame would number more than 1000 or
// change more than 2^30 pixels (moves, rectangles, pictures and cursor shapes counted together). A seek
// therefore decodes at most one key frame and 2^30 pixels in at most 1000 frames, about a second on one core
// whatever the file holds; the reader treats a delta frame beyond either bound as damaged. Recordings
// made before these bounds keep within them: with a key frame every 5 seconds at 15 frames a second or
// less they hold at most 75 delta frames between key frames, under 630 million pixels even on a 4K
// screen that changes whole in every frame.
//
// Index payload (written once, when the recording is finished):
//   u32 frame count, u32 length in milliseconds,
//   then per frame u64 chunk offset, u32 time, u32 flags (bit 0 key frame).
//
// Crash safety and "being written"
// --------------------------------
// The writer holds an exclusive flock() on the file for as long as it writes. A reader that finds the
// "finished" flag clear and the lock taken refuses the file: it is still being written. When the flag
// is clear and nobody holds the lock, the writer died; the reader then scans the chunks from the start
// and plays every frame up to the last one whose chunk is whole and whose checksum matches. A finished
// file whose index is damaged is scanned the same way.
#pragma once

#include <cstdint>
#include <cstring>

namespace pelio::components::srf {

inline constexpr char Magic[8] = {'P', 'E', 'L', 'I', 'O', 'S', 'R', 'F'};
inline constexpr std::uint16_t Version = 2;
inline constexpr std::uint16_t OldestVersion = 1;
inline constexpr int FileHeaderSize = 64;
inline constexpr int ChunkHeaderSize = 16;
inline constexpr std::uint32_t FlagFinished = 1;

inline constexpr std::uint32_t MakeTag(char a, char b, char c, char d) {
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}
inline constexpr std::uint32_t TagKeyFrame = MakeTag('K', 'E', 'Y', 'F');
inline constexpr std::uint32_t TagDeltaFrame = MakeTag('D', 'E', 'L', 'T');
inline constexpr std::uint32_t TagIndex = MakeTag('I', 'N', 'D', 'X');

inline constexpr std::uint8_t CursorVisible = 1;
inline constexpr std::uint8_t CursorShapeFollows = 2;

// Limits that keep a damaged file from asking for absurd amounts of memory or work (see "Bounds").
inline constexpr int MaxScreenSide = 8192;
inline constexpr std::int64_t MaxScreenPixels = 8192 * 4320;
inline constexpr int MaxKeyFrameIntervalMs = 5000;
inline constexpr int MaxDeltaFrames = 1000;
inline constexpr std::int64_t MaxDeltaPixels = std::int64_t(1) << 30;
inline constexpr int MaxCursorSide = 256;
inline constexpr int MaxRects = 65535;
inline constexpr std::uint32_t MaxChunkPayload = 256u * 1024 * 1024;
inline constexpr int IndexEntrySize = 16;
// A delta frame's prefix and data together are at most two screens of 3 bytes per pixel.
inline constexpr int MaxWindowLog = 28;
static_assert(MaxScreenPixels * 3 * 2 <= std::int64_t(1) << MaxWindowLog);

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
inline std::uint16_t GetU16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline std::uint64_t GetU64(const std::uint8_t* p) {
    return std::uint64_t(GetU32(p)) | std::uint64_t(GetU32(p + 4)) << 32;
}

// True for a screen size inside the bounds.
inline constexpr bool ValidScreenSize(int width, int height) {
    return width >= 1 && height >= 1 && width <= MaxScreenSide && height <= MaxScreenSide &&
           std::int64_t(width) * height <= MaxScreenPixels;
}

// CRC-32 (the zlib polynomial) of a chunk: its first 12 header bytes, then the payload.
std::uint32_t ChunkCrc(const std::uint8_t* header12, const std::uint8_t* payload, std::size_t size);
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size);

}  // namespace pelio::components::srf
