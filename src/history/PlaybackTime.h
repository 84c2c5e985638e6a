#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

// How the history viewer shows playing time and speed, without widgets.
namespace pelio::history {

// A time of a recording: "m:ss" under an hour ("0:05", "12:34"), "h:mm:ss" from an hour on
// ("1:02:03"). Seconds are cut, not rounded; a negative time shows as "0:00".
QString FormatPlaybackTime(qint64 ms);

// The position and the length of a recording: "12:34 / 1:02:03", each formatted on its own.
QString PlaybackTimeText(qint64 position, qint64 length);

// The speeds the viewer offers, slowest first, and the one it starts with.
inline constexpr std::array<double, 5> kPlaybackSpeeds = {0.5, 1, 2, 4, 8};
inline constexpr int kDefaultSpeedIndex = 1;

// A speed as the viewer labels it: "0.5x", "1x", "8x".
QString SpeedText(double speed);

}  // namespace pelio::history
