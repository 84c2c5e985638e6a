#include "AgentScreen.h"

#include "AgentSockets.h"

#include "secure/TlsTunnel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <vector>

namespace pelio::agent {

namespace {

constexpr const char* kAccessCode = "harborclinks";
constexpr int kStartLimitMs = 10000;

// A port that nothing listens on at the address now.
int FreePort(const std::string& address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// Whether a server takes connections at address:port now.
bool Accepts(const std::string& address, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 || a.sin_addr.s_addr == htonl(INADDR_ANY))
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// A listening TCP socket on address (this computer when it is no numeric address) at a port the
// system picks, or -1.
int ListenAny(const std::string& address, int* port) {
    in_addr parsed{};
    return ListenTcp(inet_pton(AF_INET, address.c_str(), &parsed) == 1 ? address : std::string("127.0.0.1"),
                     0, 16, port);
}

// A TCP connection to 127.0.0.1:port, or -1.
int ConnectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Writes all of data to the socket fd; false when it cannot (a closed peer raises no SIGPIPE).
bool WriteAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

}  // namespace

AgentScreen::AgentScreen(std::string display, std::string bindAddress)
    : m_display(std::move(display)), m_bindAddress(std::move(bindAddress)) {}

AgentScreen::~AgentScreen() {
    Stop();
}

int AgentScreen::Start() {
    if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0) return m_port;
    m_pid = -1;
    StopFront();
    const bool secure = m_key.IsValid();
    // Through TLS, x11vnc is reached only from this computer, by the front.
    const std::string listenAddress = secure ? std::string("127.0.0.1") : m_bindAddress;
    const int port = FreePort(listenAddress);
    if (port == 0) return 0;
    const std::string portText = std::to_string(port);
    std::vector<std::string> args = {"x11vnc",   "-display", m_display, "-listen",   listenAddress,
                                     "-rfbport", portText,   "-passwd", kAccessCode, "-forever",
                                     "-shared",  "-quiet",   "-norc",   "-noipv6"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // the server ends with the agent, however the agent ends
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execvp("x11vnc", argv.data());
        _exit(127);
    }
    if (pid < 0) return 0;
    m_pid = pid;
    m_port = port;
    // Up once a connection to it is taken.
    for (int waited = 0; waited < kStartLimitMs; waited += 100) {
        if (waitpid(m_pid, nullptr, WNOHANG) != 0) break;
        if (Accepts(listenAddress, port)) {
            if (!secure) return port;
            if (StartFront(port)) return m_port;
            std::fprintf(stderr, "pelio-agent: no TLS front for the screen\n");
            Stop();
            return 0;
        }
        usleep(100000);
    }
    std::fprintf(stderr, "pelio-agent: x11vnc did not start on %s\n", m_display.c_str());
    Stop();
    return 0;
}

void AgentScreen::Stop() {
    StopFront();
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    for (int i = 0; i < 50 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i) usleep(100000);
    if (waitpid(m_pid, nullptr, WNOHANG) == 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
    m_port = 0;
}

bool AgentScreen::StartFront(int innerPort) {
    int port = 0;
    m_listen = ListenAny(m_bindAddress, &port);
    if (m_listen < 0) return false;
    if (pipe2(m_wake, O_CLOEXEC) != 0) {
        m_wake[0] = m_wake[1] = -1;
        close(m_listen);
        m_listen = -1;
        return false;
    }
    m_innerPort = innerPort;
    m_port = port;
    m_stopFront = false;
    m_acceptor = std::thread([this] { AcceptLoop(); });
    return true;
}

void AgentScreen::StopFront() {
    if (m_listen < 0) return;
    m_stopFront = true;
    // The read end stays readable from now on: every poll of the front returns.
    if (write(m_wake[1], "x", 1) < 0) std::perror("pelio-agent: waking the screen's TLS front");
    if (m_acceptor.joinable()) m_acceptor.join();
    std::vector<std::thread> relays;
    {
        std::lock_guard lock(m_relaysMutex);
        relays.swap(m_relays);
    }
    for (std::thread& relay : relays) relay.join();
    close(m_listen);
    close(m_wake[0]);
    close(m_wake[1]);
    m_listen = m_wake[0] = m_wake[1] = -1;
}

void AgentScreen::AcceptLoop() {
    while (!m_stopFront) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents || m_stopFront) return;
        const int socket = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0) continue;
        std::lock_guard lock(m_relaysMutex);
        m_relays.emplace_back([this, socket] { Relay(socket); });
    }
}

void AgentScreen::Relay(int socket) {
    using components::secure::TlsTunnel;
    TlsTunnel::Options options;
    options.cancelled = [this] { return m_stopFront.load(); };
    TlsTunnel::Failure failure = TlsTunnel::Failure::None;
    const std::unique_ptr<TlsTunnel> tunnel =
        TlsTunnel::Accept(socket, m_key, options, &failure);  // takes socket
    if (!tunnel) {
        std::fprintf(stderr, "pelio-agent: a screen viewer's TLS failed: %s\n",
                     TlsTunnel::FailureText(failure));
        return;
    }
    const int plain = tunnel->TakePlainFd();
    const int inner = ConnectLoopback(m_innerPort);
    if (plain < 0 || inner < 0) {
        std::fprintf(stderr, "pelio-agent: the screen server took no connection\n");
        if (plain >= 0) close(plain);
        if (inner >= 0) close(inner);
        return;
    }
    // Both ways until either side ends or the front stops; then both ends are closed, which ends the
    // tunnel (with its TLS close) and x11vnc's client.
    char buffer[65536];
    while (!m_stopFront) {
        pollfd fds[3] = {{plain, POLLIN, 0}, {inner, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[2].revents) break;
        bool ended = false;
        for (int i = 0; i < 2 && !ended; ++i) {
            if (!fds[i].revents) continue;
            const int from = i == 0 ? plain : inner, to = i == 0 ? inner : plain;
            const ssize_t n = read(from, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            ended = n <= 0 || !WriteAll(to, buffer, n);
        }
        if (ended) break;
    }
    close(inner);
    close(plain);
}

std::optional<std::string> AgentScreen::Expand(const std::string& line) {
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0] != "\\showme" || (words.size() != 3 && words.size() != 4)) return line;
    const int port = Start();
    if (port == 0) return std::nullopt;
    const std::string address = words.size() == 4 ? words[3] : m_bindAddress;
    return "\\showme " + words[1] + ' ' + words[2] + ' ' + address + ' ' + std::to_string(port);
}

bool AgentScreen::Stops(const std::string& line) {
    const std::vector<std::string> words = Words(line);
    return words.size() == 1 && words[0] == "\\stopshowme";
}

}  // namespace pelio::agent
