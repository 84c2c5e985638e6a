#include "LinkRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace pelio::test {

namespace {

int Listen(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int ConnectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Closes with a reset, as a gateway that forgot the connection answers.
void Reset(int fd) {
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(fd);
}

}  // namespace

struct LinkRelay::Impl {
    int target = 0;
    int port = 0;
    int listener = -1;
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // One relayed connection: the customer's side, the agent's, and which of them has ended its stream.
    struct Pair {
        int customer = -1, agent = -1;
        bool customerDone = false, agentDone = false;
    };
    std::vector<Pair> pairs;  // relay thread
    std::atomic<int> relayed{0};

    std::mutex mutex;
    std::condition_variable done;
    enum class Ask { None, Cut, Resume, Quit } ask = Ask::None;
    bool resumed = false;
    std::thread thread;

    void Run() {
        while (true) {
            std::vector<pollfd> fds{{wake, POLLIN, 0}, {listener, POLLIN, 0}};
            for (const Pair& p : pairs) {
                fds.push_back({p.customerDone ? -1 : p.customer, POLLIN, 0});
                fds.push_back({p.agentDone ? -1 : p.agent, POLLIN, 0});
            }
            poll(fds.data(), fds.size(), -1);
            if (fds[0].revents && !Command()) return;
            if (listener >= 0 && fds[1].revents) {
                const int customer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                const int agent = customer >= 0 ? ConnectTo(target) : -1;
                if (agent >= 0) {
                    pairs.push_back({customer, agent});
                    ++relayed;
                } else if (customer >= 0) {
                    Reset(customer);
                }
            }
            // Forward what came. The end of a stream is passed on as one; a failure resets both sides.
            for (std::size_t i = 0; i < pairs.size(); ++i) {
                Pair& p = pairs[i];
                const Flow up = fds[2 + 2 * i].revents ? Move(p.customer, p.agent) : Flow::Open;
                const Flow down = fds[3 + 2 * i].revents ? Move(p.agent, p.customer) : Flow::Open;
                p.customerDone = p.customerDone || up == Flow::Ended;
                p.agentDone = p.agentDone || down == Flow::Ended;
                if (up == Flow::Failed || down == Flow::Failed) {
                    Reset(p.customer);
                    Reset(p.agent);
                    p.customer = -1;
                } else if (p.customerDone && p.agentDone) {
                    close(p.customer);
                    close(p.agent);
                    p.customer = -1;
                }
            }
            std::erase_if(pairs, [](const Pair& p) { return p.customer < 0; });
        }
    }

    enum class Flow { Open, Ended, Failed };
    // Copies what `from` has to `to`; at the end of `from`'s stream ends `to`'s.
    static Flow Move(int from, int to) {
        char buffer[64 * 1024];
        const ssize_t n = recv(from, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) {
            shutdown(to, SHUT_WR);
            return Flow::Ended;
        }
        if (n < 0) return errno == EAGAIN || errno == EINTR ? Flow::Open : Flow::Failed;
        for (ssize_t sent = 0; sent < n;) {
            const ssize_t m = send(to, buffer + sent, std::size_t(n - sent), MSG_NOSIGNAL);
            if (m <= 0) return Flow::Failed;
            sent += m;
        }
        return Flow::Open;
    }

    // Carries out what was asked; false to quit.
    bool Command() {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(wake, &count, sizeof count);
        std::lock_guard lock(mutex);
        if (ask == Ask::Quit || ask == Ask::Cut) {
            for (const Pair& p : pairs) {
                Reset(p.customer);
                Reset(p.agent);
            }
            pairs.clear();
            if (listener >= 0) close(listener);
            listener = -1;
        } else if (ask == Ask::Resume && listener < 0) {
            listener = Listen(port);
            resumed = listener >= 0;
        }
        const bool quit = ask == Ask::Quit;
        ask = Ask::None;
        done.notify_all();
        return !quit;
    }

    void AskAndWait(Ask what) {
        std::unique_lock lock(mutex);
        ask = what;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(wake, &one, sizeof one);
        done.wait(lock, [this] { return ask == Ask::None; });
    }
};

LinkRelay::LinkRelay(int targetPort) : d(std::make_unique<Impl>()) {
    d->target = targetPort;
    d->listener = Listen(0);
    sockaddr_in a{};
    socklen_t length = sizeof a;
    if (d->listener >= 0 && getsockname(d->listener, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        d->port = ntohs(a.sin_port);
    d->thread = std::thread([this] { d->Run(); });
}

LinkRelay::~LinkRelay() {
    d->AskAndWait(Impl::Ask::Quit);
    d->thread.join();
    close(d->wake);
}

int LinkRelay::Port() const {
    return d->port;
}

void LinkRelay::Cut() {
    d->AskAndWait(Impl::Ask::Cut);
}

bool LinkRelay::Resume() {
    d->AskAndWait(Impl::Ask::Resume);
    std::lock_guard lock(d->mutex);
    return d->resumed;
}

int LinkRelay::Relayed() const {
    return d->relayed.load();
}

}  // namespace pelio::test
