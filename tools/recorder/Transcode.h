// Rewrites a ".srf" recording frame by frame through the current writer: an older recording becomes
// one of the current format, and the writer's size and cost can be measured on a recorded desktop.
#pragma once

#include "recording/SrfWriter.h"

#include <QString>

namespace pelio::recorder {

struct TranscodeResult {
    bool ok = false;
    int frames = 0;
    std::int64_t lengthMs = 0;
    std::int64_t bytes = 0;
    double writerCpuSeconds = 0;  // thread CPU time spent in the writer's calls
};

// Reads `from` whole and writes `to`; each frame's changes are found by comparing its screen with the
// frame before in 32 x 32 tiles, as the screen capture does.
TranscodeResult Transcode(const QString& from, const QString& to, components::SrfWriter::Options options);

}  // namespace pelio::recorder
