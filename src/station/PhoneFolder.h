// Each phone's own folder in a station run: named after where it is attached and when it came.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "station/UtcStamp.h"

namespace norvale {

// A phone's location as a part of a file name that both Windows and Linux take: letters, digits,
// '.', '-' and '_' stay ("1-1.3", "sim-2"); every run of other bytes becomes one '_'; '_', '.'
// and '-' at either end go; a driver interface's class GUID at the end ("#{a5dcbf10-...}"), the
// same for every phone, goes too. A name longer than 48 characters keeps its first 39 and a
// '-' with 8 hex digits of a hash of the whole, so two long locations stay two names. An empty
// result is "phone".
std::string locationFileName(std::string_view location);

// `name` inside `folder`, with the system's separator ("" for the working folder: `name` alone).
std::string pathInFolder(const std::string& folder, std::string_view name);

// "<locationFileName>-<YYYYMMDD-HHMMSS in UTC>".
std::string phoneFolderName(std::string_view location, WallTime arrived);

// Creates the phone's folder in `parent` ("" for the working folder): phoneFolderName(), or with
// "-2", "-3"... after it when that name is taken, so no earlier run's folder is ever written into.
// Returns the new folder's path, or nullopt when none could be created.
std::optional<std::string> createPhoneFolder(const std::string& parent, std::string_view location,
                                             WallTime arrived);

}  // namespace norvale
