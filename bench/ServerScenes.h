// The scenes that the server bench shows on its Xvfb (see the header of ServerBench.cpp): a generator
// that changes the screen on a thread of its own, and stamps the latency marker (LatencyMarker.h) at
// the top right after every change, recording when each number was drawn.
#pragma once

#include "LatencyMarker.h"

#include <QProcess>

#include <atomic>
#include <string>
#include <thread>

namespace pelio::bench {

constexpr int kScreenWidth = 1280, kScreenHeight = 800;
// Where the marker is: the top right corner, outside what any scene draws on.
constexpr int kSceneMarkerX = kScreenWidth - kMarkerWidth, kSceneMarkerY = 0;

class SceneGenerator {
  public:
    // `self`: this program, whose "type" mode prints the text scene's lines in its terminal.
    SceneGenerator(const std::string& display, const std::string& scene, const std::string& self);
    ~SceneGenerator();
    SceneGenerator(const SceneGenerator&) = delete;
    SceneGenerator& operator=(const SceneGenerator&) = delete;

    // False when the scene could not be set up (the display did not open; no terminal for "text"), with
    // the reason in Error().
    bool ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }
    const MarkerTimes& Times() const { return m_times; }

  private:
    void Run(const std::string& display, const std::string& scene);
    bool StartTerminal(const std::string& display, const std::string& self);

    MarkerTimes m_times;
    QProcess m_terminal;  // the text scene's xterm
    std::string m_error;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// "type": lines of Korean text mixed with digits and Latin, kTextLinesPerSecond of them, on stdout until it
// ends (the terminal closed).
constexpr int kTextLinesPerSecond = 30;
int TypeKoreanLines();

}  // namespace pelio::bench
