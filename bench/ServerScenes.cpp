#include "ServerScenes.h"

#include "BenchSupport.h"

#include <QProcessEnvironment>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include "BenchDisplay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace pelio::bench {

namespace {

using Clock = std::chrono::steady_clock;

// A photo-like picture: soft gradients that differ with `seed`, with noise on top, as a camera's.
XImage* Picture(Display* d, int width, int height, int seed) {
    const int screen = DefaultScreen(d);
    auto* data = static_cast<char*>(std::malloc(std::size_t(width) * std::size_t(height) * 4));
    XImage* image = XCreateImage(d, DefaultVisual(d, screen), unsigned(DefaultDepth(d, screen)), ZPixmap, 0,
                                 data, unsigned(width), unsigned(height), 32, 0);
    std::uint32_t noise = 2463534242u + std::uint32_t(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
            const int grain = int(noise & 15) - 8;
            const auto channel = [&](int value) { return unsigned(std::clamp(value + grain, 0, 255)); };
            const int r = (x * 255 / width + seed * 31) % 256, g = (y * 255 / height + seed * 17) % 256,
                      b = ((x + y) * 255 / (width + height) + seed * 53) % 256;
            XPutPixel(image, x, y, (channel(r) << 16) | (channel(g) << 8) | channel(b));
        }
    return image;
}

// Draws the marker of `sequence` in one request, so that no capture sees half of it from the X server.
void StampMarker(Display* d, Window root, GC gc, XImage* marker, std::uint32_t sequence) {
    const std::vector<std::uint32_t> pixels = MarkerPixels(sequence);
    for (int y = 0; y < kMarkerHeight; ++y)
        for (int x = 0; x < kMarkerWidth; ++x)
            XPutPixel(marker, x, y, pixels[std::size_t(y * kMarkerWidth + x)]);
    XPutImage(d, root, gc, marker, 0, 0, kSceneMarkerX, kSceneMarkerY, kMarkerWidth, kMarkerHeight);
}

// Whether a window of at least half the screen's width is mapped on `display`'s root.
bool TerminalShown(Display* d) {
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    bool shown = false;
    if (!XQueryTree(d, DefaultRootWindow(d), &rootReturn, &parent, &children, &count)) return false;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
            a.width > kScreenWidth / 2)
            shown = true;
    }
    if (children) XFree(children);
    return shown;
}

}  // namespace

SceneGenerator::SceneGenerator(const std::string& display, const std::string& scene,
                               const std::string& self) {
    if (scene == "idle") return;
    if (scene == "text" && !StartTerminal(display, self)) return;
    m_thread = std::thread([this, display, scene] { Run(display, scene); });
}

SceneGenerator::~SceneGenerator() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    EndProcess(m_terminal);  // xterm hangs up on its child, the "type" mode
}

// A terminal filling the screen but for the marker's corner (140x44 cells of 8x18 pixels: 1124x796),
// NanumGothicCoding through Xft (anti-aliased) at 12 points; its cell is given as the font's half width,
// since xterm would otherwise take the width of the font's widest (Korean) glyph for every cell.
bool SceneGenerator::StartTerminal(const std::string& display, const std::string& self) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    m_terminal.setProcessEnvironment(env);
    m_terminal.setProcessChannelMode(QProcess::MergedChannels);
    m_terminal.start(
        QStringLiteral("xterm"),
        {QStringLiteral("-u8"), QStringLiteral("-fa"),
         QStringLiteral("NanumGothicCoding:spacing=mono:charwidth=8"), QStringLiteral("-fs"),
         QStringLiteral("12"), QStringLiteral("-geometry"), QStringLiteral("140x44+0+0"),
         QStringLiteral("-bg"), QStringLiteral("white"), QStringLiteral("-fg"), QStringLiteral("black"),
         QStringLiteral("-e"), QString::fromStdString(self), QStringLiteral("type")});
    if (!m_terminal.waitForStarted(10000)) {
        m_error = "xterm did not start (" + m_terminal.errorString().toStdString() + ")";
        return false;
    }
    Display* d = OpenDisplay(display);
    bool shown = false;
    for (int attempt = 0; d && attempt < 100 && !shown && m_terminal.state() == QProcess::Running;
         ++attempt) {
        shown = TerminalShown(d);
        if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (d) XCloseDisplay(d);
    if (!shown) {
        m_error = "the xterm window did not show: " + m_terminal.readAll().trimmed().toStdString();
        EndProcess(m_terminal);
    }
    return shown;
}

void SceneGenerator::Run(const std::string& name, const std::string& scene) {
    Display* d = OpenDisplay(name);
    if (!d) std::abort();  // a scene that does not change would make every figure wrong
    const Window root = DefaultRootWindow(d);
    GC gc = XCreateGC(d, root, 0, nullptr);
    XFontStruct* font = XLoadQueryFont(d, "fixed");
    if (font) XSetFont(d, gc, font->fid);
    const int screen = DefaultScreen(d);
    XImage* marker =
        XCreateImage(d, DefaultVisual(d, screen), unsigned(DefaultDepth(d, screen)), ZPixmap, 0,
                     static_cast<char*>(std::malloc(std::size_t(kMarkerWidth) * kMarkerHeight * 4)),
                     kMarkerWidth, kMarkerHeight, 32, 0);
    // Pictures made once, then shown in turn: making them is not what is measured.
    const bool photo = scene == "photo", video = scene == "video", drag = scene == "drag",
               text = scene == "text";
    const int width = photo ? 1280 : video ? 640 : 400, height = photo ? 800 : video ? 360 : 300;
    std::vector<XImage*> pictures;
    if (photo || video || drag)
        for (int i = 0; i < (drag ? 1 : 8); ++i) pictures.push_back(Picture(d, width, height, i));
    int dragX = 0;
    int frame = 0;
    auto next = Clock::now();
    while (!m_stop) {
        if (photo || video) {
            XPutImage(d, root, gc, pictures[std::size_t(frame) % pictures.size()], 0, 0, photo ? 0 : 320,
                      photo ? 0 : 220, unsigned(width), unsigned(height));
        } else if (drag) {
            // The window moves 8 pixels to the right (back to the left edge at the end) and the
            // desktop shows where it was.
            const int from = dragX;
            dragX = dragX + 8 + width > 1280 ? 0 : dragX + 8;
            XSetForeground(d, gc, 0x3a6ea5);
            XFillRectangle(d, root, gc, from, 250, unsigned(width), unsigned(height));
            XPutImage(d, root, gc, pictures[0], 0, 0, dragX, 250, unsigned(width), unsigned(height));
        } else if (scene == "full") {
            for (int band = 0; band < 800; band += 40) {
                XSetForeground(d, gc, (unsigned(frame * 2654435761u) ^ unsigned(band * 40503)) & 0xffffff);
                XFillRectangle(d, root, gc, 0, band, 1280, 40);
                XSetForeground(d, gc, 0xffffff);
                XDrawString(d, root, gc, (frame * 7 + band) % 1200, band + 20, "full screen change", 18);
            }
        } else if (!text) {  // scroll; the text scene's terminal scrolls by itself
            pelio::bench::ScrollStep(d, root, gc, unsigned(frame));
        }
        StampMarker(d, root, gc, marker, m_times.Next());
        XSync(d, False);
        m_times.Drawn(Clock::now());
        ++frame;
        // Full-screen change runs as fast as the X server draws; the others keep their pace (the text
        // scene's marker that of the terminal's lines).
        next += std::chrono::microseconds(photo ? 100000 : video || text ? 33333 : 16667);
        if (scene != "full") std::this_thread::sleep_until(next);
    }
    for (XImage* picture : pictures) XDestroyImage(picture);
    XDestroyImage(marker);
    if (font) XFreeFont(d, font);
    XFreeGC(d, gc);
    XCloseDisplay(d);
}

int TypeKoreanLines() {
    static const char* const kSentences[] = {
        "다람쥐 헌 쳇바퀴에 타고파",
        "키스의 고유조건은 입술끼리 만나야 하고 특별한 기술은 필요치 않다",
        "원격 지원 화면 공유: 상담원이 고객의 화면을 봅니다",
        "동해 물과 백두산이 마르고 닳도록 하느님이 보우하사",
        "파일 전송 완료 (backup_2024.tar.gz, 37 MB) 확인 버튼을 누르세요",
        "네트워크 연결이 느립니다 - 2 Mbit/s, 왕복 80 ms",
        "한글 글꼴 렌더링 시험: 가나다라마바사 아자차카타파하",
    };
    const int count = int(sizeof kSentences / sizeof kSentences[0]);
    auto next = Clock::now();
    for (long line = 1;; ++line) {
        // At most about 110 of the terminal's 140 columns (a Korean syllable takes two), so no line wraps.
        const int printed = std::printf("%06ld %s | 상태 %ld.%02ld KB/s 0x%04lx Remote support\n", line,
                                        kSentences[(line * 3) % count], line * 37 % 1000, line % 100,
                                        line * 2654435761 % 65536);
        if (printed < 0 || std::fflush(stdout) != 0) return 0;  // the terminal is gone
        next += std::chrono::microseconds(1000000 / kTextLinesPerSecond);
        std::this_thread::sleep_until(next);
    }
}

}  // namespace pelio::bench
