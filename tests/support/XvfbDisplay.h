#pragma once

#include "Wait.h"

#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

namespace pelio::test {

// A private X server for one test: Xvfb on a display number it picks itself, stopped on destruction.
class XvfbDisplay {
  public:
    explicit XvfbDisplay(QSize size = QSize(1280, 800));
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool ok() const { return !m_name.isEmpty(); }
    QString name() const { return m_name; }  // ":N"
    // The test's own Xlib connection (a Display*), for drawing and reading the screen.
    void* display() const { return m_display; }

    // Titles of the top-level windows (children of the root window), from the top down.
    QStringList WindowTitles() const;

    // Creates and maps a plain window of this test with the given title; it lives until destruction.
    void CreateForeignWindow(const QString& title);

  private:
    QProcess m_server;
    QString m_name;
    void* m_display = nullptr;  // the test's own Xlib connection
};

}  // namespace pelio::test
