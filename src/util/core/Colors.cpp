#include "util/core/Colors.h"

#include <algorithm>
#include <cmath>

namespace pelio::util {

namespace {

// Rounds to nearest, halves to even, and clamps to a channel value.
int RoundChannel(double value) {
    const double rounded = std::nearbyint(std::clamp(value, 0.0, 255.0));
    return static_cast<int>(rounded);
}

}  // namespace

ColorParts ColorChannels(OleColor color) {
    return ColorParts{static_cast<int>(color & 0xFFu), static_cast<int>((color >> 8) & 0xFFu),
                      static_cast<int>((color >> 16) & 0xFFu)};
}

OleColor ColorFromChannels(int red, int green, int blue) {
    auto c = [](int v) { return static_cast<OleColor>(std::clamp(v, 0, 255)); };
    return c(red) | (c(green) << 8) | (c(blue) << 16);
}

OleColor BlendColors(OleColor a, OleColor b, double lightenFactor) {
    if (a == b) return a;
    const ColorParts pa = ColorChannels(a);
    const ColorParts pb = ColorChannels(b);
    int channels[3] = {RoundChannel((pa.red + pb.red) * 0.5), RoundChannel((pa.green + pb.green) * 0.5),
                       RoundChannel((pa.blue + pb.blue) * 0.5)};
    if (lightenFactor != 0 && std::isfinite(lightenFactor))
        for (int& c : channels) c = RoundChannel(lightenFactor * (255 - c) + c);
    return ColorFromChannels(channels[0], channels[1], channels[2]);
}

QString ColorToHtml(OleColor color) {
    switch (color) {
        case kSystemWindow:
            return QStringLiteral("white");
        case kSystemWindowText:
        case kSystemButtonText:
            return QStringLiteral("black");
        case kSystemButtonFace:
        case kSystemScrollBar:
            return QStringLiteral("silver");
        default:
            break;
    }
    const ColorParts p = ColorChannels(color);
    return QStringLiteral("#%1%2%3")
        .arg(p.red, 2, 16, QLatin1Char('0'))
        .arg(p.green, 2, 16, QLatin1Char('0'))
        .arg(p.blue, 2, 16, QLatin1Char('0'))
        .toUpper();
}

}  // namespace pelio::util
