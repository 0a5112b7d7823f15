// Wall-clock instants as the station writes them down: UTC, for the journal and folder names.
#pragma once

#include <chrono>
#include <string>

namespace norvale {

using WallTime = std::chrono::system_clock::time_point;

// "2026-12-08T08:22:31Z": ISO 8601, UTC, whole seconds (the journal's times).
std::string isoUtc(WallTime when);

// "20261208-082231": UTC, sorting as the time does (a phone's folder name).
std::string fileStampUtc(WallTime when);

}  // namespace norvale
