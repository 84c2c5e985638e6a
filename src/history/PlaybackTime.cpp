#include "history/PlaybackTime.h"

namespace pelio::history {

QString FormatPlaybackTime(qint64 ms) {
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds / 60 % 60;
    const QString secondsText = QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (hours == 0) return QString::number(minutes) + u':' + secondsText;
    return QString::number(hours) + u':' + QStringLiteral("%1").arg(minutes, 2, 10, QLatin1Char('0')) + u':' +
           secondsText;
}

QString PlaybackTimeText(qint64 position, qint64 length) {
    return FormatPlaybackTime(position) + QStringLiteral(" / ") + FormatPlaybackTime(length);
}

QString SpeedText(double speed) {
    return QString::number(speed) + u'x';
}

}  // namespace pelio::history
