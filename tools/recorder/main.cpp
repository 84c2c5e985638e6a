// pelio-recgen: writes a ".srf" recording of a generated desktop, so that playback can be tried and
// shown without a live session.
//
//   pelio-recgen OUT.srf [--seconds N] [--fps N] [--size WxH] [--key-interval MS] [--realtime] [--abandon]
//   pelio-recgen OUT.srf --display [NAME] ...   records the X display (e.g. an Xvfb) instead, in real time
//   pelio-recgen OUT.srf --from OLD.srf          rewrites a recording in the current format (and prints
//                                                its size and the writer's CPU time)
//
// --realtime paces the frames by the clock (the file is "being written" meanwhile; interrupting the
// program leaves a recording whose writer died). --abandon stops without finishing the file.
#include "DesktopScene.h"
#include "Transcode.h"
#include "recording/SrfWriter.h"
#include "server/X11Capture.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <cstdio>
#include <vector>

using pelio::components::SrfWriter;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a recording of a generated desktop."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("the .srf file to write"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("length"),
                                           QStringLiteral("N"), QStringLiteral("60"));
    const QCommandLineOption fpsOption(QStringLiteral("fps"), QStringLiteral("frames per second"),
                                       QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("screen size"),
                                        QStringLiteral("WxH"), QStringLiteral("1280x800"));
    const QCommandLineOption keyOption(QStringLiteral("key-interval"),
                                       QStringLiteral("ms between key frames"), QStringLiteral("MS"),
                                       QStringLiteral("5000"));
    const QCommandLineOption realtimeOption(QStringLiteral("realtime"),
                                            QStringLiteral("pace frames by the clock"));
    const QCommandLineOption abandonOption(QStringLiteral("abandon"),
                                           QStringLiteral("leave the file unfinished"));
    const QCommandLineOption displayOption(QStringLiteral("display"), QStringLiteral("record this X display"),
                                           QStringLiteral("NAME"));
    const QCommandLineOption fromOption(QStringLiteral("from"), QStringLiteral("rewrite this recording"),
                                        QStringLiteral("OLD"));
    parser.addOptions({secondsOption, fpsOption, sizeOption, keyOption, realtimeOption, abandonOption,
                       displayOption, fromOption});
    parser.process(app);
    if (parser.positionalArguments().size() != 1) parser.showHelp(2);

    const int seconds = parser.value(secondsOption).toInt();
    const int fps = parser.value(fpsOption).toInt();
    const QStringList wh = parser.value(sizeOption).split(QLatin1Char('x'));
    const QSize size = wh.size() == 2 ? QSize(wh[0].toInt(), wh[1].toInt()) : QSize();
    if (seconds < 0 || fps < 1 || fps > 100 || size.width() < 320 || size.height() < 200) {
        std::fprintf(stderr, "pelio-recgen: bad --seconds, --fps or --size\n");
        return 2;
    }

    if (parser.isSet(fromOption)) {
        SrfWriter::Options options;
        options.keyFrameIntervalMs = parser.value(keyOption).toInt();
        const QString path = parser.positionalArguments().constFirst();
        const auto r = pelio::recorder::Transcode(parser.value(fromOption), path, options);
        if (!r.ok) {
            std::fprintf(stderr, "pelio-recgen: cannot rewrite %s as %s\n",
                         qPrintable(parser.value(fromOption)), qPrintable(path));
            return 1;
        }
        const double minutes = double(std::max<std::int64_t>(r.lengthMs, 1)) / 60000;
        std::printf("%s: %d frames, %lld bytes, %.2f MB/min, writer CPU %.2f s = %.1f %% of a core\n",
                    qPrintable(path), r.frames, static_cast<long long>(r.bytes),
                    double(r.bytes) / 1e6 / minutes, r.writerCpuSeconds,
                    100 * r.writerCpuSeconds / (minutes * 60));
        return 0;
    }

    // Recording a display: whole-screen grabs compared with the previous one in tiles, the same
    // capture the screen server uses, cursor image included.
    pelio::components::X11Capture capture;
    const bool fromDisplay = parser.isSet(displayOption);
    if (fromDisplay && !capture.Open(parser.value(displayOption).toStdString(), false)) {
        std::fprintf(stderr, "pelio-recgen: cannot grab the X display (24-bit depth needed)\n");
        return 1;
    }
    std::vector<std::uint32_t> pixels(
        fromDisplay ? std::size_t(capture.Size().width()) * std::size_t(capture.Size().height()) : 0);
    const int stride = capture.Size().width() * 4;

    SrfWriter::Options options;
    options.keyFrameIntervalMs = parser.value(keyOption).toInt();
    SrfWriter writer(options);
    const QString path = parser.positionalArguments().constFirst();
    if (!writer.Open(path, fromDisplay ? capture.Size() : size)) {
        std::fprintf(stderr, "pelio-recgen: cannot create %s\n", qPrintable(path));
        return 1;
    }
    pelio::recorder::DesktopScene scene(size);
    QImage cursorShape;
    QPoint cursorHot;
    if (fromDisplay && capture.CursorImage(cursorShape, cursorHot))
        writer.SetCursorShape(cursorShape, cursorHot);
    else
        writer.SetCursorShape(scene.CursorShape(), scene.CursorHotSpot());
    QElapsedTimer clock;
    clock.start();
    const std::int64_t frames = std::int64_t(seconds) * fps;
    for (std::int64_t frame = 0; frame < frames; ++frame) {
        const std::int64_t timeMs = frame * 1000 / fps;
        if (parser.isSet(realtimeOption) || fromDisplay) {
            const std::int64_t wait = timeMs - clock.elapsed();
            if (wait > 0) QThread::msleep(std::uint64_t(wait));
        }
        if (fromDisplay) {
            pelio::components::X11Capture::Events events;
            capture.ProcessEvents(events);
            if (events.cursorChanged && capture.CursorImage(cursorShape, cursorHot))
                writer.SetCursorShape(cursorShape, cursorHot);
            QRegion changed = capture.Sweep(pixels.data(), stride);
            if (frame == 0) changed = QRect(QPoint(0, 0), capture.Size());  // the first frame is whole
            for (const QRect& r : changed)
                writer.UpdateRect(r, pixels.data() + std::ptrdiff_t(r.y()) * capture.Size().width() + r.x(),
                                  stride);
            writer.SetCursorPosition(capture.Pointer() - cursorHot);
        } else {
            for (const QRect& r : scene.Step(frame, fps)) writer.UpdateRectFromScreen(scene.Screen(), r);
            writer.SetCursorPosition(scene.CursorPosition());
        }
        if (!writer.CommitFrame(timeMs)) {
            std::fprintf(stderr, "pelio-recgen: write failed at frame %lld\n", static_cast<long long>(frame));
            return 1;
        }
    }
    const std::int64_t bytes = writer.BytesWritten();
    const int written = writer.FrameCount();
    if (parser.isSet(abandonOption)) {
        writer.Abandon();
    } else if (!writer.Finish(std::int64_t(seconds) * 1000)) {
        std::fprintf(stderr, "pelio-recgen: cannot finish %s\n", qPrintable(path));
        return 1;
    }
    std::printf("%s: %d frames, %lld bytes, %.1f s\n", qPrintable(path), written,
                static_cast<long long>(bytes), double(clock.elapsed()) / 1000.0);
    return 0;
}
