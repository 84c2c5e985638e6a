#include "server/X11Input.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace pelio::components {

namespace {

struct Command {
    enum Kind { PointerEvent, KeyEvent, Release } kind = PointerEvent;
    int mask = 0, x = 0, y = 0;
    bool down = false;
    std::uint32_t keysym = 0;
};

}  // namespace

struct X11Input::Impl {
    std::mutex mutex;
    std::condition_variable wake;
    static constexpr std::size_t MaxQueued = 10000;
    std::deque<Command> queue;
    std::optional<Command> overflow;  // the newest pointer event that found the queue full
    bool stop = false;
    std::thread thread;

    // Owned by the thread.
    Display* display = nullptr;
    int lastMask = 0;
    std::set<KeyCode> pressed;
    std::vector<KeyCode> spares;                // keycodes without any keysym
    std::map<std::uint32_t, KeyCode> remapped;  // keysym -> spare keycode it was put on
    std::size_t nextSpare = 0;

    void FindSpares() {
        int minCode = 0, maxCode = 0;
        XDisplayKeycodes(display, &minCode, &maxCode);
        int perCode = 0;
        KeySym* map = XGetKeyboardMapping(display, KeyCode(minCode), maxCode - minCode + 1, &perCode);
        if (!map) return;
        for (int code = maxCode; code >= minCode; --code) {
            bool empty = true;
            for (int i = 0; i < perCode; ++i)
                if (map[(code - minCode) * perCode + i] != NoSymbol) empty = false;
            if (empty) spares.push_back(KeyCode(code));
        }
        XFree(map);
    }

    KeyCode CodeFor(std::uint32_t keysym) {
        KeyCode code = XKeysymToKeycode(display, KeySym(keysym));
        if (code) return code;
        if (const auto it = remapped.find(keysym); it != remapped.end()) return it->second;
        if (spares.empty()) return 0;
        // Take the next spare keycode round the ring, skipping one that is held down.
        for (std::size_t tries = 0; tries < spares.size(); ++tries) {
            const KeyCode spare = spares[nextSpare++ % spares.size()];
            if (pressed.count(spare)) continue;
            for (auto it = remapped.begin(); it != remapped.end();)
                it = it->second == spare ? remapped.erase(it) : std::next(it);
            KeySym syms[2] = {KeySym(keysym), KeySym(keysym)};
            XChangeKeyboardMapping(display, spare, 2, syms, 1);
            XSync(display, False);
            remapped[keysym] = spare;
            return spare;
        }
        return 0;
    }

    void Play(const Command& c) {
        switch (c.kind) {
            case Command::PointerEvent: {
                // The X server keeps the pointer on the screen, whatever its size is now; the bound
                // only keeps the value inside the protocol's 16-bit signed coordinates.
                const int x = std::clamp(c.x, 0, 32767);
                const int y = std::clamp(c.y, 0, 32767);
                XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
                for (int b = 0; b < 8; ++b) {
                    const int bit = 1 << b;
                    if ((c.mask & bit) != (lastMask & bit))
                        XTestFakeButtonEvent(display, unsigned(b + 1), (c.mask & bit) ? True : False,
                                             CurrentTime);
                }
                lastMask = c.mask & 0xff;
                break;
            }
            case Command::KeyEvent: {
                const KeyCode code = CodeFor(c.keysym);
                if (!code) break;
                if (!c.down && !pressed.count(code)) break;
                XTestFakeKeyEvent(display, code, c.down ? True : False, CurrentTime);
                if (c.down)
                    pressed.insert(code);
                else
                    pressed.erase(code);
                break;
            }
            case Command::Release:
                for (KeyCode code : pressed) XTestFakeKeyEvent(display, code, False, CurrentTime);
                pressed.clear();
                for (int b = 0; b < 8; ++b)
                    if (lastMask & (1 << b))
                        XTestFakeButtonEvent(display, unsigned(b + 1), False, CurrentTime);
                lastMask = 0;
                break;
        }
        XFlush(display);
    }

    void Run() {
        std::unique_lock lock(mutex);
        while (true) {
            wake.wait(lock, [&] { return stop || !queue.empty() || overflow; });
            if (queue.empty() && !overflow && stop) break;
            Command c;
            if (!queue.empty()) {
                c = queue.front();
                queue.pop_front();
            } else {
                c = *overflow;
                overflow.reset();
            }
            lock.unlock();
            Play(c);
            lock.lock();
        }
        lock.unlock();
        Play(Command{Command::Release});
        for (const auto& [keysym, code] : remapped) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(display, code, 2, none, 1);
        }
        XSync(display, False);
    }

    void Post(Command c) {
        {
            std::lock_guard lock(mutex);
            if (!thread.joinable() || stop) return;
            if (overflow && queue.size() < MaxQueued) {
                // Room again: the event kept aside goes before the newer one.
                queue.push_back(*overflow);
                overflow.reset();
            }
            Command* last = queue.empty() ? nullptr : &queue.back();
            if (c.kind == Command::PointerEvent && overflow) {
                // The queue is still full: the event kept aside is replaced by the newer one.
                overflow = c;
            } else if (c.kind == Command::PointerEvent && last && last->kind == Command::PointerEvent &&
                       last->mask == c.mask) {
                // Motion with the same buttons: only the newest position matters.
                last->x = c.x;
                last->y = c.y;
            } else if (queue.size() < MaxQueued) {
                queue.push_back(c);
            } else if (c.kind == Command::PointerEvent) {
                // A flood must not grow the queue without bound, but the pointer ends where the
                // last event put it: that one is kept aside and played once the queue is through.
                overflow = c;
            }
        }
        wake.notify_one();
    }
};

X11Input::X11Input() : d(std::make_unique<Impl>()) {}

X11Input::~X11Input() {
    Stop();
}

bool X11Input::Start(const std::string& displayName) {
    Stop();
    d->display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!d->display) return false;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(d->display, &event, &error, &major, &minor)) {
        XCloseDisplay(d->display);
        d->display = nullptr;
        return false;
    }
    d->FindSpares();
    d->stop = false;
    d->thread = std::thread([this] { d->Run(); });
    return true;
}

void X11Input::Stop() {
    if (d->thread.joinable()) {
        {
            std::lock_guard lock(d->mutex);
            d->stop = true;
        }
        d->wake.notify_one();
        d->thread.join();
    }
    if (d->display) XCloseDisplay(d->display);
    d->display = nullptr;
    d->queue.clear();
    d->overflow.reset();
    d->remapped.clear();
    d->spares.clear();
    d->pressed.clear();
    d->lastMask = 0;
}

void X11Input::Pointer(int buttonMask, int x, int y) {
    d->Post(Command{Command::PointerEvent, buttonMask, x, y});
}

void X11Input::Key(bool down, std::uint32_t keysym) {
    Command c{Command::KeyEvent};
    c.down = down;
    c.keysym = keysym;
    d->Post(c);
}

void X11Input::ReleaseAll() {
    d->Post(Command{Command::Release});
}

}  // namespace pelio::components
