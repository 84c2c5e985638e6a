#include "viewer/ScreenMemory.h"

#include <sys/shm.h>

#include <cstring>
#include <cwchar>

namespace pelio::components {

QImage SharedScreenImage(int w, int h, int* segment) {
    const int id = shmget(IPC_PRIVATE, std::size_t(w) * std::size_t(h) * 4, IPC_CREAT | 0600);
    if (id < 0) return {};
    void* memory = shmat(id, nullptr, 0);
    // Linux lets a segment marked for removal be attached until the last process has let it go.
    shmctl(id, IPC_RMID, nullptr);
    if (memory == reinterpret_cast<void*>(-1)) return {};
    QImage image(
        static_cast<uchar*>(memory), w, h, qsizetype(w) * 4, QImage::Format_RGB32,
        [](void* mapped) { shmdt(mapped); }, memory);
    if (image.isNull()) {
        shmdt(memory);
        return {};
    }
    *segment = id;
    return image;
}

// Row by row with memmove, in the order that reads each row before it is overwritten.
void CopyScreenArea(std::uint8_t* pixels, QSize size, const QRect& from, QPoint to) {
    const QRect screen(QPoint(), size), dest(to, from.size());
    if (!pixels || from.isEmpty() || !screen.contains(from) || !screen.contains(dest)) return;
    const std::size_t stride = std::size_t(size.width()) * 4, bytes = std::size_t(from.width()) * 4;
    auto row = [&](int y, int x) { return pixels + std::size_t(y) * stride + std::size_t(x) * 4; };
    if (dest.y() <= from.y()) {
        for (int i = 0; i < from.height(); ++i)
            std::memmove(row(dest.y() + i, dest.x()), row(from.y() + i, from.x()), bytes);
    } else {
        for (int i = from.height() - 1; i >= 0; --i)
            std::memmove(row(dest.y() + i, dest.x()), row(from.y() + i, from.x()), bytes);
    }
}

// Row by row with wmemset, which the C library vectorises: on a screen of solid bands the library's
// pixel-by-pixel fill cost more than all the rest of the decoding.
void FillScreenArea(std::uint8_t* pixels, QSize size, const QRect& area, std::uint32_t colour) {
    static_assert(sizeof(wchar_t) == sizeof(std::uint32_t));
    if (!pixels || area.isEmpty() || !QRect(QPoint(), size).contains(area)) return;
    auto* row =
        reinterpret_cast<wchar_t*>(pixels) + std::size_t(area.y()) * std::size_t(size.width()) + area.x();
    for (int i = 0; i < area.height(); ++i, row += size.width())
        std::wmemset(row, wchar_t(colour), std::size_t(area.width()));
}

}  // namespace pelio::components
