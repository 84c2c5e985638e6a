// The session's states and the events that lead from one to the next (see SessionController.h).
#include "session/SessionController.h"

namespace pelio::session {

std::optional<SessionController::State> SessionController::Next(State state, Event event) {
    using S = State;
    using E = Event;
    switch (state) {
        case S::Idle:
            if (event == E::Open) return S::Connecting;
            break;
        case S::Connecting:
            if (event == E::LinkUp) return S::Waiting;
            if (event == E::LinkFailed) return S::Idle;
            break;
        case S::Waiting:
            if (event == E::Admitted) return S::InSession;
            if (event == E::Busy) return S::Waiting;
            if (event == E::Ended) return S::Idle;
            if (event == E::Open) return S::Connecting;
            break;
        case S::InSession:
            if (event == E::Move) return S::Moving;
            if (event == E::Drop) return S::Lost;
            if (event == E::Ended) return S::Idle;
            if (event == E::Open) return S::Connecting;
            break;
        case S::Moving:
            if (event == E::LinkUp) return S::MovedWaiting;
            if (event == E::LinkFailed) return S::Idle;
            break;
        case S::MovedWaiting:
            if (event == E::Admitted) return S::InSession;
            if (event == E::Busy) return S::Waiting;
            if (event == E::Ended) return S::Idle;
            break;
        case S::Lost:
            if (event == E::Redial) return S::Redialling;
            if (event == E::Ended) return S::Idle;
            break;
        case S::Redialling:
            if (event == E::LinkUp) return S::Rejoining;
            if (event == E::LinkFailed) return S::Lost;
            if (event == E::Ended) return S::Idle;
            break;
        case S::Rejoining:
            if (event == E::Admitted) return S::InSession;
            if (event == E::Busy || event == E::Drop) return S::Lost;
            if (event == E::Ended) return S::Idle;
            break;
    }
    return std::nullopt;
}

}  // namespace pelio::session
