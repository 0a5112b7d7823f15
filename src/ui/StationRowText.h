// What the station window's phone list and status line say, as text.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/MessageCatalogue.h"
#include "station/StationModel.h"
#include "ui/StationView.h"

namespace norvale {

std::array<std::string, kStationColumns> stationColumnHeaders(Language language);

// "Elapsed 0:01:05   running 2   done 5   failed 1", then "   stopped 2" once Stop ended phones.
std::string stationStatusLine(const StationStatus& status, Language language);

// The phones that failed of themselves, those Stop ended left out.
std::size_t failedPhones(const StationStatus& snapshot);

// A phone's row: "sim-1", "usb", "0C60", "2/3 write", a bar, "24.0 KiB of 64.0 KiB",
// "12.0 KiB/s", "0:03", then "done", "stopped" or "failed: <reason>". The bar and the bytes tell
// one figure, the running transfer's share (the step column tells where in the chain it is):
// empty between transfers and once a phone failed or stopped, whole once it is done.
StationRowCells stationRowCells(const PhoneRow& row, Language language);

// The chain's share done in thousandths, each step an equal part and the running transfer's
// share within its part; for the taskbar's one bar over every phone.
unsigned chainPermille(const PhoneRow& row);

// Whether the phone is in a command that changes its flash (a write, a restore, BLANK): its
// flash is incomplete until that command ends.
bool phoneBeingWritten(const PhoneRow& row);

// "512 B", "24.0 KiB", "3.50 MiB".
std::string byteCountText(std::uint64_t bytes);
// "0:03", "12:00", "1:02:03".
std::string durationText(std::uint64_t ms);

}  // namespace norvale
