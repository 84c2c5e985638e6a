// Side-by-side figures for the viewer component: our viewer (VncViewerComponent in a window of its
// own) and TigerVNC's vncviewer are each shown the same 1280x800 Xvfb screen through the same VNC server
// (x11vnc, then TigerVNC's x0vncserver) while a generator changes it:
//   full    the whole screen changes as fast as the X server draws (the most updates a viewer shows)
//   scroll  a text-like area scrolls by one line and gets a new line, 60 times a second
// Every frame of the generator also paints a marker block in a new colour. Each viewer runs in a process
// of its own on a second Xvfb of the same size, its window at the top left at full size; an update
// counts as shown when the marker on the viewer's display has changed after the display was drawn on
// (XDamage). For each it prints the updates shown per second and the viewer's CPU time (from /proc)
// per update and in percent of one core. Both viewers use their default encodings and no password.
//
//   pelio-viewer-bench [SECONDS [ROUNDS [SERVER [SCENARIO]]]]
//       SECONDS per measurement (default 5) after 2 s of warm-up; the viewers take turns for ROUNDS
//       rounds (default 3) and the medians are printed; SERVER (x11vnc, x0vncserver) and SCENARIO
//       (full, scroll) run only that one.
#include "BenchSupport.h"
#include "viewer/VncViewerComponent.h"

#include <QApplication>
#include <QProcess>
#include <QTcpSocket>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <sys/select.h>
#include "BenchDisplay.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 1280, kHeight = 800;
constexpr int kMarkerX = 1216, kMarkerY = 0, kMarkerSize = 64;

// Changes the screen on a thread of its own until destroyed.
class Generator {
  public:
    Generator(const std::string& display, const std::string& scenario)
        : m_thread([this, display, scenario] { Run(display, scenario); }) {}
    ~Generator() {
        m_stop = true;
        m_thread.join();
    }

  private:
    void Run(const std::string& name, const std::string& scenario) {
        Display* d = pelio::bench::OpenDisplay(name);
        if (!d) std::abort();  // a scene that does not change would make every figure wrong
        const Window root = DefaultRootWindow(d);
        GC gc = XCreateGC(d, root, 0, nullptr);
        if (XFontStruct* font = XLoadQueryFont(d, "fixed")) XSetFont(d, gc, font->fid);
        XSetForeground(d, gc, 0x202020);
        XFillRectangle(d, root, gc, 0, 0, kWidth, kHeight);
        auto next = Clock::now();
        for (unsigned frame = 1; !m_stop; ++frame) {
            if (scenario == "full") {
                for (int band = 0; band < kHeight; band += 40) {
                    XSetForeground(d, gc, (frame * 2654435761u ^ unsigned(band * 40503)) & 0xffffff);
                    XFillRectangle(d, root, gc, 0, band, kWidth, 40);
                    XSetForeground(d, gc, 0xffffff);
                    XDrawString(d, root, gc, int(frame * 7 + unsigned(band)) % 1200, band + 20,
                                "full screen change", 18);
                }
            } else {
                pelio::bench::ScrollStep(d, root, gc, frame);
            }
            // Far-apart colours, so that lossy encodings keep them apart.
            XSetForeground(d, gc, (frame & 1 ? 0xff0000 : 0x0000ff) ^ ((frame * 0x3f) & 0x00ff00));
            XFillRectangle(d, root, gc, kMarkerX, kMarkerY, kMarkerSize, kMarkerSize);
            XSync(d, False);
            next += std::chrono::microseconds(16667);
            if (scenario != "full") std::this_thread::sleep_until(next);
        }
        XFreeGC(d, gc);
        XCloseDisplay(d);
    }
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Counts the updates shown on a viewer's display: drawings after which the marker has a new colour.
class ShownCounter {
  public:
    explicit ShownCounter(const std::string& display) : m_d(pelio::bench::OpenDisplay(display)) {
        int error = 0;
        if (!m_d) std::printf("counter: cannot open %s\n", display.c_str());
        if (!m_d || !XDamageQueryExtension(m_d, &m_damageEvent, &error)) return;
        m_damage = XDamageCreate(m_d, DefaultRootWindow(m_d), XDamageReportNonEmpty);
        XSync(m_d, False);
    }
    ~ShownCounter() {
        if (m_damage) XDamageDestroy(m_d, m_damage);
        if (m_d) XCloseDisplay(m_d);
    }
    bool ok() const { return m_damage != 0; }

    // Watches for `seconds`; the number of updates shown.
    long Count(double seconds) {
        long shown = 0;
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        const int fd = ConnectionNumber(m_d);
        while (Clock::now() < end) {
            if (!XPending(m_d)) {
                fd_set set;
                FD_ZERO(&set);
                FD_SET(fd, &set);
                timeval timeout{0, 20000};
                select(fd + 1, &set, nullptr, nullptr, &timeout);
                continue;
            }
            XEvent ev;
            XNextEvent(m_d, &ev);
            if (ev.type != m_damageEvent + XDamageNotify) continue;
            XDamageSubtract(m_d, m_damage, None, None);
            const unsigned long marker = Marker();
            if (marker != m_last) ++shown;
            m_last = marker;
        }
        return shown;
    }

    unsigned long Marker() {
        XImage* image = XGetImage(m_d, DefaultRootWindow(m_d), kMarkerX + kMarkerSize / 2,
                                  kMarkerY + kMarkerSize / 2, 1, 1, AllPlanes, ZPixmap);
        if (!image) return 0;
        const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
        XDestroyImage(image);
        return pixel;
    }

  private:
    Display* m_d;
    int m_damageEvent = 0;
    Damage m_damage = 0;
    unsigned long m_last = 0;
};

bool Accepts(int port) {
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, quint16(port));
    return probe.waitForConnected(200);
}

struct Result {
    double ups = 0, cpuPerUpdateMs = 0, cpuPercent = 0;
};

const char* const kViewers[2] = {"ours", "vncviewer"};

// Each figure's median over the rounds.
Result Median(std::vector<Result> results) {
    auto median = [&](double Result::*field) {
        std::sort(results.begin(), results.end(),
                  [&](const Result& a, const Result& b) { return a.*field < b.*field; });
        return results[results.size() / 2].*field;
    };
    return {median(&Result::ups), median(&Result::cpuPerUpdateMs), median(&Result::cpuPercent)};
}

Result Measure(const std::string& viewer, const std::string& viewerDisplay, int port, double seconds,
               const char* self) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(viewerDisplay));
    process.setProcessEnvironment(env);
    if (viewer == "ours")
        process.start(QString::fromLocal8Bit(self), {QStringLiteral("view"), QString::number(port)});
    else
        process.start(QStringLiteral("vncviewer"),
                      {QStringLiteral("-SecurityTypes=None"), QStringLiteral("-Log=*:stderr:0"),
                       QStringLiteral("127.0.0.1::%1").arg(port)});
    Result r;
    ShownCounter counter(viewerDisplay);
    if (!process.waitForStarted(10000) || !counter.ok()) {
        std::printf("%s: %s; damage reports on %s: %s\n", viewer.c_str(),
                    process.errorString().toLocal8Bit().constData(), viewerDisplay.c_str(),
                    counter.ok() ? "yes" : "no");
        pelio::bench::EndProcess(process);
        return r;
    }
    counter.Count(2.0);  // warm-up: connecting, the first full screen
    const double cpuStart = pelio::bench::CpuSeconds(process.processId());
    const auto t0 = Clock::now();
    const long shown = counter.Count(seconds);
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = pelio::bench::CpuSeconds(process.processId()) - cpuStart;
    pelio::bench::EndProcess(process);
    r.ups = double(shown) / elapsed;
    r.cpuPercent = 100.0 * cpu / elapsed;
    r.cpuPerUpdateMs = shown > 0 ? 1000.0 * cpu / double(shown) : 0;
    return r;
}

// "view PORT": our viewer at full size in a window at the top left of $DISPLAY, until terminated.
int View(int argc, char** argv) {
    QApplication app(argc, argv);
    pelio::components::VncViewerComponent viewer;
    viewer.setWindowFlag(Qt::FramelessWindowHint);
    viewer.setGeometry(0, 0, kWidth, kHeight);
    viewer.show();
    viewer.Connect(QStringLiteral("127.0.0.1"), std::atoi(argv[2]), QString());
    QObject::connect(&viewer, &pelio::components::ViewerComponent::ViewClosed, &app, &QApplication::quit);
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "view") == 0) return View(argc, argv);
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const QString screen = QStringLiteral("%1x%2x24").arg(kWidth).arg(kHeight);
    pelio::bench::PrivateXvfb agentX(screen), viewerX(screen);
    if (!agentX.ok() || !viewerX.ok()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    const std::string agent = agentX.name().toStdString(), viewerDisplay = viewerX.name().toStdString();
    std::printf(
        "1280x800 Xvfb %s served to viewers on %s; medians of %d rounds of %.0f s after 2 s of warm-up\n",
        agent.c_str(), viewerDisplay.c_str(), rounds, seconds);
    std::printf("%-12s %-8s %-10s %10s %14s %8s\n", "server", "scenario", "viewer", "updates/s",
                "CPU ms/update", "CPU %");
    const std::string onlyServer = argc > 3 ? argv[3] : "", onlyScenario = argc > 4 ? argv[4] : "";
    for (const char* server : {"x11vnc", "x0vncserver"}) {
        if (!onlyServer.empty() && onlyServer != server) continue;
        for (const char* scenario : {"full", "scroll"}) {
            if (!onlyScenario.empty() && onlyScenario != scenario) continue;
            Generator generator(agent, scenario);
            // A server per scenario, so that both viewers meet it in the same state.
            QProcess serverProcess;
            serverProcess.setProcessChannelMode(QProcess::MergedChannels);
            const int port = pelio::bench::FreePort();
            const QString display = QString::fromStdString(agent);
            if (std::strcmp(server, "x11vnc") == 0)
                serverProcess.start(
                    QStringLiteral("x11vnc"),
                    {QStringLiteral("-display"), display, QStringLiteral("-rfbport"), QString::number(port),
                     QStringLiteral("-localhost"), QStringLiteral("-shared"), QStringLiteral("-forever"),
                     QStringLiteral("-nopw"), QStringLiteral("-quiet")});
            else
                serverProcess.start(
                    QStringLiteral("X0tigervnc"),
                    {QStringLiteral("-display"), display, QStringLiteral("-rfbport"), QString::number(port),
                     QStringLiteral("-SecurityTypes"), QStringLiteral("None"), QStringLiteral("-localhost")});
            if (!pelio::bench::Until([&] { return Accepts(port); }, 30000)) {
                std::printf("%-12s did not start: %s\n", server, serverProcess.readAll().constData());
                continue;
            }
            // The viewers take turns, so that both meet the same disturbances of a shared machine.
            std::vector<Result> results[2];
            for (int round = 0; round < rounds; ++round)
                for (int v = 0; v < 2; ++v)
                    results[v].push_back(Measure(kViewers[v], viewerDisplay, port, seconds, argv[0]));
            for (int v = 0; v < 2; ++v) {
                const Result r = Median(results[v]);
                std::printf("%-12s %-8s %-10s %10.1f %14.2f %8.1f\n", server, scenario, kViewers[v], r.ups,
                            r.cpuPerUpdateMs, r.cpuPercent);
            }
            std::fflush(stdout);
            pelio::bench::EndProcess(serverProcess);
        }
    }
    return 0;
}
