// Side-by-side figures for the remote-control server: the same viewers are served the same 1280x800
// Xvfb screen by our server component, by x11vnc and by TigerVNC's x0vncserver, while a generator
// (bench/ServerScenes.h) changes the screen:
//   full    the whole screen changes as fast as the X server draws (the maximum update rate)
//   scroll  a text-like area scrolls by one line and gets a new line, 60 times a second
//   photo   a photo-like picture (gradients and noise) over the whole screen, 10 new ones a second
//   video   a 640x360 video-like region (moving gradients and noise), 30 frames a second
//   drag    a 400x300 window with a picture in it dragged across the screen, 60 steps a second
//   text    a real xterm over most of the screen (NanumGothicCoding, anti-aliased through Xft, UTF-8)
//           scrolling 30 lines a second of Korean text mixed with digits and Latin, which this program
//           prints in it ("type" mode)
//   idle    nothing changes
// With every change the generator stamps a marker at the top right (bench/LatencyMarker.h: black and
// white cells that spell a sequence number and survive JPEG) and records when it was drawn; a viewer
// reads the marker back from what it shows, and a newly shown number is a frame shown, its age the
// change-to-viewer latency (median and 95th percentile, in ms).
// x0vncserver is started as its server binary (X0tigervnc), since the wrapper script detaches it.
//
// The first table is the LibVNCClient viewer in this program (default encodings: tight with JPEG),
// which reads the marker from its framebuffer as each rectangle arrives. For each server and scene it
// prints the screen updates per second that reached it, the server's CPU time (from /proc) per update
// and in percent of one core, the megapixels per second the updates carried, the kilobytes per second
// on the viewer's socket (TCP's count; over TLS the plain bytes), the CPU time per megapixel, the
// frames shown per second and the latency. Servers cut a change into updates differently, so the
// megapixel and frame figures compare them better than updates do. Our server runs in a child process
// of this program ("host" mode) so that its CPU is measured like the others'.
// Our server is measured over a plain link ("ours"), over a TLS 1.3 link ("ours+tls": an agent key
// made for the run in a temporary directory, the component given its pin, the viewer's side ending
// TLS with secure::TlsTunnel::Accept in this process) and plain while recording ("ours+rec"). The
// last table sets the TLS link beside the plain one for each scene: the ratios of updates per second
// (target: at least 0.95 times plain) and of CPU per update (target: at most 1.10 times plain), the
// CPU being the server's process alone, its TLS thread included.
//
// The second table ("viewer: vncviewer") is TigerVNC's vncviewer with its default settings on a second
// private Xvfb, served by ours (which connects to the viewer listening: -listen), x11vnc and
// x0vncserver: frames shown per second and latency, read from the viewer's display when it reports
// drawing (XDamage), and the CPU of server and viewer. A third table puts frames and latency of both
// viewers side by side. A peer program that is not installed is skipped, with a line saying so; an
// interrupted run (SIGINT, SIGTERM) ends after the measurement under way and cleans up.
//
// The figures of one run are noisy on a shared machine; ROUNDS above 1 measures the plain and the
// TLS link with the LibVNCClient viewer that many times in turns, and the TLS table then takes the
// median of each.
//
// With "weak", every viewer reaches its server through a weak link of its own made in this program
// (bench/WeakLink.h: 2 Mbit/s each way, 80 ms round trip) instead of straight over loopback.
//
//   pelio-server-bench [SECONDS] [ROUNDS] [weak] [SCENE...]
//       default 5 seconds per measurement, 1 round, every scene
#include "BenchSockets.h"
#include "BenchSupport.h"
#include "ServerScenes.h"
#include "WeakLink.h"
#include "secure/AgentKey.h"
#include "secure/TlsTunnel.h"
#include "server/VncServerComponent.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include "MarkerViewer.h"

#include <algorithm>
#include <chrono>
#include <csignal>
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
using pelio::bench::ConnectTo;
using pelio::bench::CpuSeconds;
using pelio::bench::Listening;
using pelio::bench::TcpBytesReceived;
namespace secure = pelio::components::secure;

void Silent(const char*, ...) {}

// Set by SIGINT, SIGTERM or SIGHUP: the run ends after the measurement under way, so that its servers,
// viewers, displays and temporary files go as they would at the end. A second signal ends it at once.
volatile std::sig_atomic_t g_interrupted = 0;
void Interrupt(int signal) {
    g_interrupted = 1;
    std::signal(signal, SIG_DFL);
}

struct Result {
    double ups = 0, cpuPerUpdateMs = 0, cpuPercent = 0;
    double megapixelsPerSecond = 0, kilobytesPerSecond = 0, cpuMsPerMegapixel = 0;
    double framesPerSecond = 0, latencyP50Ms = -1, latencyP95Ms = -1, viewerCpuPercent = 0;
    bool ran = false;
};

// What one measurement needs besides its server and scene.
struct Setup {
    std::string display, viewerDisplay;  // the served screen; vncviewer's screen
    double seconds = 5;
    const char* self = nullptr;
    const secure::AgentKey* key = nullptr;  // the agent key that the viewer's side presents for "ours+tls"
    const QTemporaryDir* work = nullptr;    // takes the recording
    const pelio::bench::WeakLink::Shape* weak = nullptr;  // every viewer's link is of this shape when set
};

bool IsOurs(const std::string& server) {
    return server == "ours" || server == "ours+rec" || server == "ours+tls";
}

// Starts `server` on the served screen: ours connecting to `port` (its viewer listens there), the others
// listening on `port`.
void StartServer(QProcess& process, const std::string& server, const Setup& setup, int port) {
    const QString display = QString::fromStdString(setup.display);
    if (IsOurs(server)) {
        // The recording goes into this program's temporary folder, which goes with it whatever way the
        // host ends.
        QStringList arguments{"host", display, QString::number(port),
                              server == "ours+rec" ? setup.work->filePath(QStringLiteral("ours.srf")) : "-"};
        if (server == "ours+tls") arguments << setup.key->GetPin().ToString();
        process.start(QString::fromLocal8Bit(setup.self), arguments);
    } else if (server == "x11vnc") {
        process.start("x11vnc", {"-display", display, "-rfbport", QString::number(port), "-localhost",
                                 "-shared", "-forever", "-nopw", "-quiet"});
    } else {
        // The server binary itself: the x0vncserver wrapper script detaches it, which would hide its CPU.
        process.start("X0tigervnc", {"-display", display, "-rfbport", QString::number(port), "-SecurityTypes",
                                     "None", "-localhost"});
    }
    process.waitForStarted();
}

// The port to reach `target` at: that of a new weak link to it when the links are weak (0 when it
// cannot listen), else `target`. The link goes into `link`, which must outlive the connection.
int Through(int target, const Setup& setup, std::unique_ptr<pelio::bench::WeakLink>& link) {
    if (!setup.weak) return target;
    link = std::make_unique<pelio::bench::WeakLink>(*setup.weak);
    return link->Start(target) ? link->Port() : 0;
}

// The LibVNCClient viewer in this program, served by `server`.
Result MeasureLibVnc(const std::string& server, const std::string& scene, const Setup& setup) {
    pelio::bench::SceneGenerator generator(setup.display, scene, setup.self);
    QProcess process;
    int fd = -1;
    std::unique_ptr<pelio::bench::WeakLink> link;  // outlives the viewer's socket
    std::unique_ptr<secure::TlsTunnel> tunnel;     // outlives the viewer, which reads its plain end
    if (IsOurs(server)) {
        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        socklen_t len = sizeof a;
        if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            StartServer(process, server, setup, Through(ntohs(a.sin_port), setup, link));
            pollfd waiting{listener, POLLIN, 0};  // a host that fails to start must not hang the run
            fd = poll(&waiting, 1, 20000) == 1 ? accept(listener, nullptr, nullptr) : -1;
            if (fd < 0)
                std::printf("%s did not connect: %s\n", server.c_str(), process.readAll().constData());
        }
        close(listener);
        if (server == "ours+tls" && fd >= 0) {
            secure::TlsTunnel::Failure failure{};  // Xlib defines None
            tunnel = secure::TlsTunnel::Accept(fd, *setup.key, {}, &failure);
            fd = tunnel ? tunnel->TakePlainFd() : -1;
            if (!tunnel) std::fprintf(stderr, "no TLS link: %s\n", secure::TlsTunnel::FailureText(failure));
        }
    } else {
        const int port = pelio::bench::FreePort();
        StartServer(process, server, setup, port);
        // Connected once it is up, through a weak link when the link is weak (which takes its connection at
        // once and would drop it if the server were not there yet).
        fd = ConnectTo(port);
        const int relayed = fd >= 0 ? Through(port, setup, link) : -1;
        if (relayed != port) {
            if (fd >= 0) close(fd);
            fd = relayed > 0 ? ConnectTo(relayed) : -1;
        }
    }
    Result r;
    if (fd < 0 || !generator.ok()) {
        pelio::bench::EndProcess(process);
        return r;
    }
    double cpuStart = 0;
    Clock::time_point t0;
    // The bytes on the wire: over TLS the tunnel's plain bytes (the records add a few percent).
    const auto bytesNow = [&]() -> std::uint64_t {
        std::uint64_t delivered = 0, taken = 0;
        if (tunnel) return tunnel->ReadCounters(fd, delivered, taken) ? delivered : 0;
        return TcpBytesReceived(fd);
    };
    std::uint64_t bytesStart = 0, bytesEnd = 0;
    pelio::bench::ViewerFigures figures;
    r.ran = pelio::bench::RunLibVncViewer(
        fd, setup.seconds, 1.0, generator.Times(), pelio::bench::kSceneMarkerX, pelio::bench::kSceneMarkerY,
        [&] {
            cpuStart = CpuSeconds(process.processId());
            bytesStart = bytesNow();
            t0 = Clock::now();
        },
        [&] { bytesEnd = bytesNow(); }, figures);
    const double cpu = CpuSeconds(process.processId()) - cpuStart;
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    pelio::bench::EndProcess(process);
    QFile::remove(setup.work->filePath(QStringLiteral("ours.srf")));
    if (!r.ran) return r;
    r.megapixelsPerSecond = double(figures.pixels) / 1e6 / elapsed;
    r.kilobytesPerSecond = double(bytesEnd - bytesStart) / 1e3 / elapsed;
    r.cpuMsPerMegapixel = figures.pixels > 0 ? 1000.0 * cpu / (double(figures.pixels) / 1e6) : 0;
    r.ups = double(figures.updates) / elapsed;
    r.cpuPercent = 100.0 * cpu / elapsed;
    r.cpuPerUpdateMs = figures.updates > 0 ? 1000.0 * cpu / double(figures.updates) : 0;
    r.framesPerSecond = double(figures.frames) / elapsed;
    r.latencyP50Ms = figures.latencyP50Ms;
    r.latencyP95Ms = figures.latencyP95Ms;
    return r;
}

// TigerVNC's vncviewer on the second screen, served by `server`.
Result MeasureVncViewer(const std::string& server, const std::string& scene, const Setup& setup) {
    pelio::bench::SceneGenerator generator(setup.display, scene, setup.self);
    QProcess process, viewer;
    std::unique_ptr<pelio::bench::WeakLink> link;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(setup.viewerDisplay));
    viewer.setProcessEnvironment(env);
    viewer.setProcessChannelMode(QProcess::MergedChannels);
    // Its defaults but for what keeps a run from hanging on a dialog.
    QStringList arguments{"-Shared", "-FullScreen=0", "-SecurityTypes=None", "-ReconnectOnError=0",
                          "-Log=*:stderr:0"};
    const int port = pelio::bench::FreePort();
    bool connecting = false;
    if (IsOurs(server)) {
        viewer.start(QStringLiteral("vncviewer"), arguments << "-listen" << QString::number(port));
        if (viewer.waitForStarted(10000) && pelio::bench::Until([&] { return Listening(port); }, 10000)) {
            const int relayed = Through(port, setup, link);
            if (relayed > 0) StartServer(process, server, setup, relayed);
            connecting = relayed > 0;
        }
    } else {
        StartServer(process, server, setup, port);
        const int probe = ConnectTo(port);  // the server is up
        const int relayed = probe >= 0 ? Through(port, setup, link) : 0;
        if (probe >= 0) close(probe);
        if (relayed > 0)
            viewer.start(QStringLiteral("vncviewer"),
                         arguments << QStringLiteral("127.0.0.1::%1").arg(relayed));
        connecting = relayed > 0 && viewer.waitForStarted(10000);
    }
    Result r;
    pelio::bench::ShownWatcher watcher(setup.viewerDisplay, pelio::bench::kSceneMarkerX,
                                       pelio::bench::kSceneMarkerY);
    // Warm-up: connecting and the first full screen (long over a weak link), then a second more.
    const bool idle = scene == "idle";
    if (connecting && generator.ok() && watcher.ok() &&
        (idle || watcher.WaitForMarker(20, generator.Times()))) {
        pelio::bench::LatencyLog log(&generator.Times());
        watcher.Watch(idle ? 3.0 : 1.0, log);
        log.StartCounting();
        const double serverCpu = CpuSeconds(process.processId()), viewerCpu = CpuSeconds(viewer.processId());
        const auto t0 = Clock::now();
        watcher.Watch(setup.seconds, log);
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        r.cpuPercent = 100.0 * (CpuSeconds(process.processId()) - serverCpu) / elapsed;
        r.viewerCpuPercent = 100.0 * (CpuSeconds(viewer.processId()) - viewerCpu) / elapsed;
        r.framesPerSecond = double(log.Frames()) / elapsed;
        r.latencyP50Ms = log.Quantile(0.5);
        r.latencyP95Ms = log.Quantile(0.95);
        r.ran = true;
    } else if (generator.ok()) {
        std::printf("%s with vncviewer: the viewer showed no marker (%s)\n", server.c_str(),
                    viewer.readAll().simplified().right(200).constData());
    }
    // The viewer first, so that it does not report the server's end.
    pelio::bench::EndProcess(viewer);
    pelio::bench::EndProcess(process);
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

// A latency in ms, or "-" when none was measured.
std::string Ms(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, ms < 0 ? "-" : "%.0f", ms);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "host") == 0) return Host(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "type") == 0) return pelio::bench::TypeKoreanLines();
    QCoreApplication app(argc, argv);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, Interrupt);
    rfbClientLog = Silent;
    rfbClientErr = Silent;
    Setup setup;
    setup.seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    setup.self = argv[0];
    // vncviewer's screen is larger than the served one, so that its window shows all of it (on one of the
    // same size, it would make its window smaller and put scroll bars over the marker).
    pelio::bench::PrivateXvfb xvfb, viewerXvfb(QStringLiteral("1440x900x24"));
    if (!xvfb.ok() || !viewerXvfb.ok()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    setup.display = xvfb.name().toStdString();
    setup.viewerDisplay = viewerXvfb.name().toStdString();
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
    setup.key = &key;
    setup.work = &keyDir;
    std::printf("1280x800 Xvfb %s (vncviewer on %s), %.0f s per measurement after a warm-up\n",
                setup.display.c_str(), setup.viewerDisplay.c_str(), setup.seconds);
    const pelio::bench::WeakLink::Shape weakShape{2e6, 80};
    // After SECONDS and ROUNDS: "weak", and scene names to run only those.
    bool weak = false;
    std::vector<std::string> only;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "weak") == 0)
            weak = true;
        else
            only.push_back(argv[i]);
    }
    const auto chosen = [&](const char* scene) {
        return only.empty() || std::find(only.begin(), only.end(), scene) != only.end();
    };
    if (weak) {
        setup.weak = &weakShape;
        std::printf("viewers through a weak link each: %.1f Mbit/s each way, %d ms round trip\n",
                    weakShape.bitsPerSecond / 1e6, weakShape.roundTripMs);
    }
    std::printf("TLS 1.3 link to agent key %s\n", qPrintable(key.GetPin().ToString()));
    // Peers that are not installed are left out.
    const auto installed = [](const char* program) {
        if (!QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) return true;
        std::printf("%s is not installed: what needs it is left out\n", program);
        return false;
    };
    const bool x11vnc = installed("x11vnc"), x0vncserver = installed("X0tigervnc"),
               vncviewer = installed("vncviewer"), xterm = installed("xterm");
    std::vector<const char*> servers{"ours", "ours+tls", "ours+rec"}, viewerServers{"ours"};
    for (const auto& [present, name] : {std::pair{x11vnc, "x11vnc"}, std::pair{x0vncserver, "x0vncserver"}})
        if (present) servers.push_back(name), viewerServers.push_back(name);
    std::vector<const char*> scenes{"full", "scroll", "photo", "video", "drag", "idle"};
    if (xterm && chosen("text")) {  // the terminal must come up, else the scene is left out
        pelio::bench::SceneGenerator probe(setup.display, "text", setup.self);
        if (probe.ok())
            scenes.insert(scenes.end() - 1, "text");
        else
            std::printf("text scene skipped: %s\n", probe.Error().c_str());
    }
    std::erase_if(scenes, [&](const char* scene) { return !chosen(scene); });
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    std::map<std::string, std::map<std::string, std::vector<Result>>> results;  // scene, then server
    std::map<std::string, std::map<std::string, Result>> viewerResults;         // vncviewer's
    std::printf("\nviewer: LibVNCClient (latency: change drawn to marker in the viewer's framebuffer)\n");
    std::printf("%-11s %-8s %10s %14s %8s %8s %10s %10s %9s %8s %8s\n", "server", "scene", "updates/s",
                "CPU ms/update", "CPU %", "Mpx/s", "KB/s", "CPU ms/Mpx", "frames/s", "lat p50", "lat p95");
    const auto measure = [&](const char* scene, const char* server) {
        if (g_interrupted) return;
        const Result r = MeasureLibVnc(server, scene, setup);
        results[scene][server].push_back(r);
        if (!r.ran) {
            std::printf("%-11s %-8s did not run\n", server, scene);
            return;
        }
        std::printf("%-11s %-8s %10.1f %14.2f %8.2f %8.2f %10.1f %10.2f %9.1f %8s %8s\n", server, scene,
                    r.ups, r.cpuPerUpdateMs, r.cpuPercent, r.megapixelsPerSecond, r.kilobytesPerSecond,
                    r.cpuMsPerMegapixel, r.framesPerSecond, Ms(r.latencyP50Ms).c_str(),
                    Ms(r.latencyP95Ms).c_str());
        std::fflush(stdout);
    };
    for (const char* scene : scenes) {
        for (const char* server : servers) measure(scene, server);
        for (int round = 2; round <= rounds; ++round)
            for (const char* server : {"ours", "ours+tls"}) measure(scene, server);
    }
    if (vncviewer) {
        std::printf(
            "\nviewer: vncviewer (TigerVNC, default settings; latency: change drawn to marker on its "
            "display)\n");
        std::printf("%-11s %-8s %9s %8s %8s %12s %12s\n", "server", "scene", "frames/s", "lat p50", "lat p95",
                    "server CPU %", "viewer CPU %");
        for (const char* scene : scenes)
            for (const char* server : viewerServers) {
                if (g_interrupted) break;
                const Result r = MeasureVncViewer(server, scene, setup);
                viewerResults[scene][server] = r;
                if (!r.ran) continue;
                std::printf("%-11s %-8s %9.1f %8s %8s %12.2f %12.2f\n", server, scene, r.framesPerSecond,
                            Ms(r.latencyP50Ms).c_str(), Ms(r.latencyP95Ms).c_str(), r.cpuPercent,
                            r.viewerCpuPercent);
                std::fflush(stdout);
            }
    }
    if (g_interrupted) std::printf("\ninterrupted: the tables below have what was measured\n");
    // Both viewers side by side (the LibVNCClient viewer's first round).
    std::printf("\nframes shown per second and change-to-viewer latency in ms (p50/p95)%s\n",
                weak ? ", weak link" : "");
    std::printf("%-8s %-11s %9s %11s   %9s %11s\n", "scene", "server", "LVC fps", "LVC lat", "vnc fps",
                "vnc lat");
    for (const char* scene : scenes)
        for (const char* server : viewerServers) {
            const auto& all = results[scene][server];
            const Result lvc = all.empty() ? Result{} : all.front(), vnc = viewerResults[scene][server];
            std::printf("%-8s %-11s %9.1f %11s   %9.1f %11s\n", scene, server, lvc.framesPerSecond,
                        (Ms(lvc.latencyP50Ms) + "/" + Ms(lvc.latencyP95Ms)).c_str(), vnc.framesPerSecond,
                        vnc.ran ? (Ms(vnc.latencyP50Ms) + "/" + Ms(vnc.latencyP95Ms)).c_str() : "not run");
        }
    // The median of each figure over the rounds.
    const auto median = [](std::vector<Result> all) {
        Result m;
        if (all.empty()) return m;
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
    std::printf("%-8s %11s %11s %7s %6s   %13s %13s %7s %6s\n", "scene", "plain upd/s", "TLS upd/s", "ratio",
                "", "plain CPU ms", "TLS CPU ms", "ratio", "");
    for (const char* scene : scenes) {
        const Result plain = median(results[scene]["ours"]);
        const Result tls = median(results[scene]["ours+tls"]);
        std::printf("%-8s %11.1f %11.1f ", scene, plain.ups, tls.ups);
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
