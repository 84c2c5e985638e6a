// Moved areas between two screens: what a scrolled text or a window dragged up or down leaves on the
// screen, found so that a recording stores such a change as "rows y..y+h came from rows s..s+h".
#pragma once

#include <QRect>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelio::components::srf {

// A rectangle whose rows are copied from the rows starting at sourceY, in the same columns.
struct Move {
    QRect dest;
    int sourceY = 0;
};

// A screen held as rows of pixels, lineBytes apart, pixelBytes bytes per pixel.
struct PixelRows {
    const std::uint8_t* data = nullptr;
    std::size_t lineBytes = 0;
    int pixelBytes = 3;
    const std::uint8_t* Row(int y, int x = 0) const {
        return data + std::size_t(y) * lineBytes + std::size_t(x) * std::size_t(pixelBytes);
    }
};

// Looks inside `area` for a vertical shift of its content from `before` to `after` (both of the same
// size): returns the runs of at least MinMoveRows rows of `after` that equal the rows of `before`
// shifted by the one shift most rows agree on, sources inside `area`. Empty when nothing moved.
inline constexpr int MinMoveRows = 4;
std::vector<Move> FindVerticalMoves(const PixelRows& before, const PixelRows& after, const QRect& area);

// Applies moves one after the other to a screen (each reads the screen as the moves before it left
// it), copying the rows of each in the order that keeps its own source intact.
// With `saved`, each move's destination is kept there first, so that UndoMoves can put it back.
void ApplyMoves(std::uint8_t* data, std::size_t lineBytes, int pixelBytes, const std::vector<Move>& moves,
                std::vector<std::uint8_t>* saved = nullptr);
void UndoMoves(std::uint8_t* data, std::size_t lineBytes, int pixelBytes, const std::vector<Move>& moves,
               const std::vector<std::uint8_t>& saved);

// Appends to `out` the runs of rows of `area` that differ between the two screens, each as a
// rectangle as wide as `area`.
void AppendChangedRows(const PixelRows& before, const PixelRows& after, const QRect& area,
                       std::vector<QRect>& out);

// The prefix a delta frame's pixels are compressed against, from the screen after the frame's moves:
// the rows of every move's destination (text that scrolled holds the glyphs that new lines repeat),
// then the pixels every rectangle shows before its new pixels, in the layout of the frame's pixels.
void AppendPrefix(const PixelRows& screen, const std::vector<Move>& moves, const std::vector<QRect>& rects,
                  std::vector<std::uint8_t>& out);

}  // namespace pelio::components::srf
