#include "history/HistoryViewer.h"

#include "history/frmPlay.h"
#include "platform/Clock.h"
#include "platform/Services.h"
#include "playback/SrfPlaybackWidget.h"

namespace pelio::history {

std::unique_ptr<frmPlay> CreateHistoryViewer(app::AppContext& context, platform::Services& services,
                                             QWidget* parent) {
    auto playback = std::make_unique<components::SrfPlaybackWidget>();
    const platform::Clock* clock = services.clock ? services.clock.get() : &platform::DefaultClock();
    playback->SetTimeSource([clock] { return clock->NowMs(); });
    return std::make_unique<frmPlay>(context, *services.files, std::move(playback), parent);
}

}  // namespace pelio::history
