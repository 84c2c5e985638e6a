#pragma once

#include <QString>
#include <QtGlobal>

// Colours as the settings file and the pages store them: 32-bit values laid out 0x00BBGGRR (red in
// the low byte); 0x80000000 + index names a system (theme) colour.
namespace pelio::util {

using OleColor = quint32;

inline constexpr OleColor kSystemScrollBar = 0x80000000u;
inline constexpr OleColor kSystemWindow = 0x80000005u;
inline constexpr OleColor kSystemWindowText = 0x80000008u;
inline constexpr OleColor kSystemButtonFace = 0x8000000Fu;
inline constexpr OleColor kSystemButtonText = 0x80000012u;
inline constexpr OleColor kWhite = 0x00FFFFFFu;

struct ColorParts {
    int red = 0;
    int green = 0;
    int blue = 0;
};

// The red, green and blue channels (0..255) of a 0x00BBGGRR colour.
ColorParts ColorChannels(OleColor color);

// The colour built from three channels, each clamped to 0..255.
OleColor ColorFromChannels(int red, int green, int blue);

// The average of two colours, each channel rounded to nearest with halves to the even neighbour (0
// and 255 give 128); with a non-zero factor each channel then moves that fraction of the way to 255,
// rounded the same way. Equal colours come back unchanged; a factor that is not a finite number is
// ignored.
OleColor BlendColors(OleColor a, OleColor b, double lightenFactor);

// The colour as an HTML colour: "#RRGGBB" in upper case, or "white", "black" or "silver" for the
// window background, window and button text, and button face and scroll bar system colours.
QString ColorToHtml(OleColor color);

}  // namespace pelio::util
