// Grabs an X display's root window for pelio-recgen --display: whole-screen grabs compared with the
// previous grab in 64 x 64 tiles, so that only changed tiles are recorded.
#pragma once

#include <QPoint>
#include <QRegion>
#include <QSize>

#include <cstdint>
#include <memory>
#include <vector>

namespace pelio::recorder {

class XCapture {
  public:
    XCapture();
    ~XCapture();
    bool Open(const char* displayName);  // nullptr: $DISPLAY
    QSize Size() const { return m_size; }
    // Grabs the screen; returns the tiles that changed since the last grab (everything the first time).
    QRegion Grab();
    const std::uint32_t* Pixels() const { return m_pixels.data(); }
    int StrideBytes() const { return m_size.width() * 4; }
    QPoint Pointer() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
    QSize m_size;
    std::vector<std::uint32_t> m_pixels;
    bool m_first = true;
};

}  // namespace pelio::recorder
