#include "AgentScreen.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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
    const int port = FreePort(m_bindAddress);
    if (port == 0) return 0;
    const std::string portText = std::to_string(port);
    std::vector<std::string> args = {"x11vnc",   "-display", m_display, "-listen",   m_bindAddress,
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
        if (Accepts(m_bindAddress, port)) return port;
        usleep(100000);
    }
    std::fprintf(stderr, "pelio-agent: x11vnc did not start on %s\n", m_display.c_str());
    Stop();
    return 0;
}

void AgentScreen::Stop() {
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
