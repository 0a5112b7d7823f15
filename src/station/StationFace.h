// What a face that draws as things happen (the console) is told by the station engine.
#pragma once

#include <cstddef>

#include "core/Message.h"
#include "station/StationModel.h"

namespace norvale {

class StationEngine;

// Every call is optional but stationLine; none may wait on a transfer or call run(). A face
// that polls instead (a window) needs none of them: snapshot() and logOf() hold everything.
// - stationLine: the station's own messages (a refusal before it watched, a journal line it
//   could not write, the places asked for that no phone is at after the first look); run()'s
//   thread or a session's.
// - watching, tick, ended: run()'s thread, once the roads are open, about ten times a second
//   while it watches, and once every session has ended.
// - rowsChanged: a phone was given a session or its run ended; that session's thread or
//   run()'s, so several at once.
// - phoneBegins, phoneLine, phoneEnds: one phone's log as it is written, on its session's
//   thread, in order; phoneEnds comes after its last line (its row may say it ended already).
class StationFace {
public:
    virtual ~StationFace() = default;

    virtual void stationLine(const Message& message) = 0;
    virtual void watching(StationEngine& /*engine*/) {}
    virtual void tick(StationEngine& /*engine*/) {}
    virtual void ended(StationEngine& /*engine*/) {}
    virtual void rowsChanged(StationEngine& /*engine*/) {}
    virtual void phoneBegins(const PhoneRow& /*row*/) {}
    virtual void phoneLine(std::size_t /*arrival*/, const Message& /*message*/) {}
    virtual void phoneEnds(std::size_t /*arrival*/) {}
};

}  // namespace norvale
