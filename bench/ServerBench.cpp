// Side-by-side figures for the remote-control server: the same loopback LibVNCClient viewer (default
// encodings: tight with JPEG) is served the same 1280x800 Xvfb screen by our server component, by
// x11vnc and by TigerVNC's x0vncserver, while a generator changes the screen:
//   full    the whole screen changes as fast as the X server draws (the maximum update rate)
//   scroll  a text-like area scrolls by one line and gets a new line, 60 times a second
//   photo   a photo-like picture (gradients and noise) over the whole screen, 10 new ones a second
//   video   a 640x360 video-like region (moving gradients and noise), 30 frames a second
//   drag    a 400x300 window with a picture in it dragged across the screen, 60 steps a second
//   idle    nothing changes
// x0vncserver is started as its server binary (X0tigervnc), since the wrapper script detaches it.
// For each server and scenario it prints the screen updates per second that reached the viewer, the
// server's CPU time (from /proc) per update and in percent of one core, the megapixels per second the
// updates carried, the kilobytes per second on the viewer's socket (TCP's count; over TLS the plain
// bytes) and the CPU time per megapixel. Servers cut a change into updates differently, so the
// megapixel figures compare them better than updates do. Our server runs in a
// child process of this program ("host" mode) so that its CPU is measured like the others'.
// Our server is measured over a plain link ("ours"), over a TLS 1.3 link ("ours+tls": an agent key
// made for the run in a temporary directory, the component given its pin, the viewer's side ending
// TLS with secure::TlsTunnel::Accept in this process) and plain while recording ("ours+rec"). A
// last table sets the TLS link beside the plain one for each scenario: the ratios of updates per
// second (target: at least 0.95 times plain) and of CPU per update (target: at most 1.10 times
// plain), the CPU being the server's process alone, its TLS thread included.
//
// The figures of one run are noisy on a shared machine; ROUNDS above 1 measures the plain and the
// TLS link that many times in turns, and the last table then takes the median of each.
//
// With "weak", every viewer reaches its server through a weak link made in this program
// (bench/WeakLink.h: 2 Mbit/s each way, 80 ms round trip) instead of straight over loopback.
//
//   pelio-server-bench [SECONDS] [ROUNDS] [weak]   (default 5 seconds per measurement, 1 round)
#include "BenchSupport.h"
#include "WeakLink.h"
#include "secure/AgentKey.h"
#include "secure/TlsTunnel.h"
#include "server/VncServerComponent.h"

#include <QCoreApplication>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <arpa/inet.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include "BenchDisplay.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <rfb/rfbclient.h>

namespace {

using Clock = std::chrono::steady_clock;

void Silent(const char*, ...) {}

using pelio::bench::CpuSeconds;

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

// Changes the screen on a thread of its own until stopped.
class Generator {
  public:
    Generator(const std::string& display, const std::string& scenario) {
        if (scenario == "idle") return;
        m_thread = std::thread([this, display, scenario] { Run(display, scenario); });
    }
    ~Generator() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }

  private:
    void Run(const std::string& name, const std::string& scenario) {
        Display* d = pelio::bench::OpenDisplay(name);
        if (!d) std::abort();  // a scene that does not change would make every figure wrong
        const Window root = DefaultRootWindow(d);
        GC gc = XCreateGC(d, root, 0, nullptr);
        XFontStruct* font = XLoadQueryFont(d, "fixed");
        if (font) XSetFont(d, gc, font->fid);
        // Pictures made once, then shown in turn: making them is not what is measured.
        const bool photo = scenario == "photo", video = scenario == "video", drag = scenario == "drag";
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
            } else if (scenario == "full") {
                for (int band = 0; band < 800; band += 40) {
                    XSetForeground(d, gc,
                                   (unsigned(frame * 2654435761u) ^ unsigned(band * 40503)) & 0xffffff);
                    XFillRectangle(d, root, gc, 0, band, 1280, 40);
                    XSetForeground(d, gc, 0xffffff);
                    XDrawString(d, root, gc, (frame * 7 + band) % 1200, band + 20, "full screen change", 18);
                }
            } else {
                XCopyArea(d, root, root, gc, 0, 116, 1000, 600, 0, 100);
                XSetForeground(d, gc, 0xffffff);
                XFillRectangle(d, root, gc, 0, 700, 1000, 16);
                XSetForeground(d, gc, 0);
                const std::string line =
                    "line " + std::to_string(frame) + " the quick brown fox jumps over the lazy dog";
                XDrawString(d, root, gc, 4, 712, line.c_str(), int(line.size()));
            }
            XSync(d, False);
            ++frame;
            // Full-screen change runs as fast as the X server draws; the others keep their pace.
            next += std::chrono::microseconds(photo ? 100000 : video ? 33333 : 16667);
            if (scenario != "full") std::this_thread::sleep_until(next);
        }
        for (XImage* picture : pictures) XDestroyImage(picture);
        XFreeGC(d, gc);
        XCloseDisplay(d);
    }
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::atomic<long> g_updates{0};
std::atomic<long long> g_pixels{0};
void Finished(rfbClient*) {
    ++g_updates;
}
void Got(rfbClient*, int, int, int w, int h) {
    g_pixels += (long long)w * h;
}

// Runs the viewer on an accepted or connected socket for `seconds`; returns updates counted then and
// adds the pixels they carried to `pixels`. onEnd runs while the socket is still open.
long RunViewer(int fd, double seconds, double warmup, const std::function<void()>& onStart,
               const std::function<void()>& onEnd, long long& pixels) {
    rfbClient* client = rfbGetClient(8, 3, 4);
    client->sock = fd;
    client->listenSpecified = TRUE;
    client->FinishedFrameBufferUpdate = Finished;
    client->GotFrameBufferUpdate = Got;
    if (!rfbInitClient(client, nullptr, nullptr)) return -1;
    const auto start = Clock::now();
    bool counting = false;
    long base = 0;
    long long pixelBase = 0;
    while (Clock::now() - start < std::chrono::duration<double>(warmup + seconds)) {
        if (!counting && Clock::now() - start >= std::chrono::duration<double>(warmup)) {
            counting = true;
            base = g_updates;
            pixelBase = g_pixels;
            onStart();
        }
        const int n = client->buffered > 0 ? 1 : WaitForMessage(client, 50000);
        if (n < 0 || (n > 0 && !HandleRFBServerMessage(client))) break;
    }
    const long counted = g_updates - base;
    pixels = g_pixels - pixelBase;
    onEnd();
    free(client->frameBuffer);
    client->frameBuffer = nullptr;
    rfbClientCleanup(client);
    return counted;
}

int ConnectTo(int port) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the server is starting
    }
    return -1;
}

// Connects to a server that listens on `port` once it is up, through the port that `through` gives
// for it (a weak link's, which takes its connection at once and would drop it if the server were not
// there yet).
int ConnectThrough(int port, const std::function<int(int)>& through) {
    const int probe = ConnectTo(port);
    if (probe < 0) return -1;
    const int relayed = through(port);
    if (relayed == port) return probe;
    close(probe);
    return relayed > 0 ? ConnectTo(relayed) : -1;
}

struct Result {
    double ups = 0, cpuPerUpdateMs = 0, cpuPercent = 0;
    double megapixelsPerSecond = 0, kilobytesPerSecond = 0, cpuMsPerMegapixel = 0;
};

// Bytes the viewer's socket has received: TCP's own count.
std::uint64_t TcpBytesReceived(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 ? info.tcpi_bytes_received : 0;
}

namespace secure = pelio::components::secure;

// `key` is the agent key that the viewer's side presents for "ours+tls".
// With `weak`, the viewer's link runs through a WeakLink of that shape.
Result Measure(const std::string& server, const std::string& display, const std::string& scenario,
               double seconds, const char* self, const secure::AgentKey& key, const QTemporaryDir& work,
               const pelio::bench::WeakLink::Shape* weak) {
    Generator generator(display, scenario);
    QProcess process;
    const int port = pelio::bench::FreePort();
    int fd = -1;
    std::unique_ptr<pelio::bench::WeakLink> link;  // outlives the viewer's socket
    // The port to reach `target` at: the link's when the link is weak.
    const auto through = [&](int target) {
        if (!weak) return target;
        link = std::make_unique<pelio::bench::WeakLink>(*weak);
        return link->Start(target) ? link->Port() : 0;
    };
    std::unique_ptr<secure::TlsTunnel> tunnel;  // outlives the viewer, which reads its plain end
    if (server == "ours" || server == "ours+rec" || server == "ours+tls") {
        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener, 1);
        socklen_t len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        // The recording goes into this program's temporary folder, which goes with it whatever way the
        // host ends.
        QStringList arguments{"host", QString::fromStdString(display),
                              QString::number(through(ntohs(a.sin_port))),
                              server == "ours+rec" ? work.filePath(QStringLiteral("ours.srf")) : "-"};
        if (server == "ours+tls") arguments << key.GetPin().ToString();
        process.start(QString::fromLocal8Bit(self), arguments);
        fd = accept(listener, nullptr, nullptr);
        close(listener);
        if (server == "ours+tls" && fd >= 0) {
            secure::TlsTunnel::Failure failure{};  // Xlib defines None
            tunnel = secure::TlsTunnel::Accept(fd, key, {}, &failure);
            fd = tunnel ? tunnel->TakePlainFd() : -1;
            if (!tunnel) std::fprintf(stderr, "no TLS link: %s\n", secure::TlsTunnel::FailureText(failure));
        }
    } else if (server == "x11vnc") {
        process.start("x11vnc",
                      {"-display", QString::fromStdString(display), "-rfbport", QString::number(port),
                       "-localhost", "-shared", "-forever", "-nopw", "-quiet"});
        fd = ConnectThrough(port, through);
    } else {
        // The server binary itself: the x0vncserver wrapper script detaches it, which would hide its CPU.
        process.start("X0tigervnc", {"-display", QString::fromStdString(display), "-rfbport",
                                     QString::number(port), "-SecurityTypes", "None", "-localhost"});
        fd = ConnectThrough(port, through);
    }
    process.waitForStarted();
    Result r;
    if (fd < 0) {
        pelio::bench::EndProcess(process);
        return r;
    }
    double cpuStart = 0;
    const auto t0 = std::make_shared<Clock::time_point>();
    // The bytes on the wire: over TLS the tunnel's plain bytes (the records add a few percent).
    const auto bytesNow = [&]() -> std::uint64_t {
        std::uint64_t delivered = 0, taken = 0;
        if (tunnel) return tunnel->ReadCounters(fd, delivered, taken) ? delivered : 0;
        return TcpBytesReceived(fd);
    };
    std::uint64_t bytesStart = 0, bytesEnd = 0;
    long long pixels = 0;
    const long updates = RunViewer(
        fd, seconds, 1.0,
        [&] {
            cpuStart = CpuSeconds(process.processId());
            bytesStart = bytesNow();
            *t0 = Clock::now();
        },
        [&] { bytesEnd = bytesNow(); }, pixels);
    const double cpu = CpuSeconds(process.processId()) - cpuStart;
    const double elapsed = std::chrono::duration<double>(Clock::now() - *t0).count();
    r.megapixelsPerSecond = double(pixels) / 1e6 / elapsed;
    r.kilobytesPerSecond = double(bytesEnd - bytesStart) / 1e3 / elapsed;
    r.cpuMsPerMegapixel = pixels > 0 ? 1000.0 * cpu / (double(pixels) / 1e6) : 0;
    pelio::bench::EndProcess(process);
    QFile::remove(work.filePath(QStringLiteral("ours.srf")));
    r.ups = double(updates) / elapsed;
    r.cpuPercent = 100.0 * cpu / elapsed;
    r.cpuPerUpdateMs = updates > 0 ? 1000.0 * cpu / double(updates) : 0;
    return r;
}

// host DISPLAY PORT RECORDING|- [PIN]: our server on DISPLAY connects to PORT, through TLS to the key
// of PIN when given, and records into the file RECORDING unless "-".
int Host(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    pelio::components::VncServerComponent server(QString::fromLocal8Bit(argv[2]));
    server.Start(18925);
    if (argc > 5) server.SetAgentPin(QString::fromLatin1(argv[5]));
    QObject::connect(&server, &pelio::components::ServerComponent::Connected,
                     [&](int index) { server.Client(index)->SetAllowed(true); });
    QObject::connect(&server, &pelio::components::ServerComponent::Disconnected, &app,
                     &QCoreApplication::quit);
    if (!server.Connect(QStringLiteral("127.0.0.1"), QString::fromLocal8Bit(argv[3]).toInt())) return 1;
    if (std::strcmp(argv[4], "-") != 0) server.StartRecording(QString::fromLocal8Bit(argv[4]));
    const int code = app.exec();
    server.Stop();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "host") == 0) return Host(argc, argv);
    QCoreApplication app(argc, argv);
    rfbClientLog = Silent;
    rfbClientErr = Silent;
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    pelio::bench::PrivateXvfb xvfb;
    if (!xvfb.ok()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    const std::string display = xvfb.name().toStdString();
    // The agent's key for the TLS link, made for this run as a key file in a temporary directory,
    // which also takes the recordings.
    QTemporaryDir keyDir;
    QString error;
    const QString keyFile = keyDir.filePath(QStringLiteral("agent.key"));
    secure::AgentKey key = secure::AgentKey::Generate(&error);
    if (key.IsValid() && key.Save(keyFile, &error)) key = secure::AgentKey::Load(keyFile, &error);
    if (!key.IsValid()) {
        std::fprintf(stderr, "no agent key: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("1280x800 Xvfb %s, %.0f s per measurement after 1 s warm-up\n", display.c_str(), seconds);
    const pelio::bench::WeakLink::Shape weakShape{2e6, 80};
    const bool weak = argc > 3 && std::strcmp(argv[3], "weak") == 0;
    if (weak)
        std::printf("viewers through a weak link: %.1f Mbit/s each way, %d ms round trip\n",
                    weakShape.bitsPerSecond / 1e6, weakShape.roundTripMs);
    std::printf("TLS 1.3 link to agent key %s\n", qPrintable(key.GetPin().ToString()));
    std::printf("%-11s %-8s %10s %14s %8s %8s %10s %10s\n", "server", "scenario", "updates/s",
                "CPU ms/update", "CPU %", "Mpx/s", "KB/s", "CPU ms/Mpx");
    const std::vector<const char*> scenarios{"full", "scroll", "photo", "video", "drag", "idle"};
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    std::map<std::string, std::map<std::string, std::vector<Result>>> results;  // scenario, then server
    const auto measure = [&](const char* scenario, const char* server) {
        const Result r =
            Measure(server, display, scenario, seconds, argv[0], key, keyDir, weak ? &weakShape : nullptr);
        results[scenario][server].push_back(r);
        std::printf("%-11s %-8s %10.1f %14.2f %8.2f %8.2f %10.1f %10.2f\n", server, scenario, r.ups,
                    r.cpuPerUpdateMs, r.cpuPercent, r.megapixelsPerSecond, r.kilobytesPerSecond,
                    r.cpuMsPerMegapixel);
        std::fflush(stdout);
    };
    for (const char* scenario : scenarios) {
        for (const char* server : {"ours", "ours+tls", "ours+rec", "x11vnc", "x0vncserver"})
            measure(scenario, server);
        for (int round = 2; round <= rounds; ++round)
            for (const char* server : {"ours", "ours+tls"}) measure(scenario, server);
    }
    // The median of each figure over the rounds.
    const auto median = [](std::vector<Result> all) {
        Result m;
        const auto pick = [&all](double Result::*field) {
            std::sort(all.begin(), all.end(),
                      [field](const Result& a, const Result& b) { return a.*field < b.*field; });
            return all[all.size() / 2].*field;
        };
        m.ups = pick(&Result::ups);
        m.cpuPerUpdateMs = pick(&Result::cpuPerUpdateMs);
        m.cpuPercent = pick(&Result::cpuPercent);
        return m;
    };

    // TLS beside plain: a ratio is left out ("-") where the plain link delivered under one update a
    // second, as when the screen is idle.
    std::printf(
        "\nTLS link beside the plain one, median of %d round(s) (targets: updates/s >= 0.95x plain, "
        "CPU per update <= 1.10x plain)\n",
        rounds);
    std::printf("%-8s %11s %11s %7s %6s   %13s %13s %7s %6s\n", "scenario", "plain upd/s", "TLS upd/s",
                "ratio", "", "plain CPU ms", "TLS CPU ms", "ratio", "");
    for (const char* scenario : scenarios) {
        const Result plain = median(results[scenario]["ours"]);
        const Result tls = median(results[scenario]["ours+tls"]);
        std::printf("%-8s %11.1f %11.1f ", scenario, plain.ups, tls.ups);
        if (plain.ups >= 1.0 && plain.cpuPerUpdateMs > 0) {
            const double upsRatio = tls.ups / plain.ups;
            const double cpuRatio = tls.cpuPerUpdateMs / plain.cpuPerUpdateMs;
            std::printf("%6.3fx %6s   %13.2f %13.2f %6.3fx %6s\n", upsRatio,
                        upsRatio >= 0.95 ? "ok" : "BELOW", plain.cpuPerUpdateMs, tls.cpuPerUpdateMs, cpuRatio,
                        cpuRatio <= 1.10 ? "ok" : "ABOVE");
        } else {
            std::printf("%7s %6s   %13.2f %13.2f %7s %6s\n", "-", "", plain.cpuPerUpdateMs,
                        tls.cpuPerUpdateMs, "-", "");
        }
    }
    return 0;
}
