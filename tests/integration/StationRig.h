// norvale-cli --station run in-process against several simulated phones on the USB road, with a
// fixed wall clock so folder names and journal times are known.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "CliRig.h"
#include "cli/CliArguments.h"
#include "cli/CliView.h"
#include "cli/RecipeCommands.h"
#include "cli/StationConsole.h"
#include "station/JsonText.h"
#include "station/PhoneFolder.h"
#include "station/StationEngine.h"

namespace norvale::testing {

// 2026-12-08 08:22:31 UTC: every phone of a run arrives then, so its folder is
// "<location>-20261208-082231".
inline const WallTime kStationTime =
    std::chrono::sys_days{std::chrono::year{2026} / std::chrono::December / 8} +
    std::chrono::hours{8} + std::chrono::minutes{22} + std::chrono::seconds{31};
inline constexpr std::string_view kStationStamp = "20261208-082231";

// `name` in `folder` as the system writes it, with a backslash on Windows.
inline std::string inFolder(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

class StationRig {
public:
    // `phones` phones, each with flash of its own: on the USB road at 1-1.1 to 1-1.N, except
    // those `driverPhones` names (from 1), which are the maker's driver's interfaces, their
    // device paths holding 1-1.K.
    explicit StationRig(unsigned phones, std::vector<unsigned> driverPhones = {}) {
        cli.driver.detach(cli.phoneId);
        for (unsigned k = 1; k <= phones; ++k) {
            const bool driver =
                std::find(driverPhones.begin(), driverPhones.end(), k) != driverPhones.end();
            locations_.push_back(driver ? R"(\\?\usb#vid_22b8&pid_4903#1-1.)" + std::to_string(k) +
                                              "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
                                        : "1-1." + std::to_string(k));
            SimPhoneOptions options;
            options.erasedFlashMask = SimPhone::erasedFlashMaskOf(k + 1);
            ids.push_back(cli.driver.attach({driver ? Road::driver : Road::usb, locations_.back()},
                                            std::make_shared<SimPhone>(options)));
        }
        // The station's loop sleeps a tenth of a second of the clock between looks at its
        // phones; on the virtual clock that would spin. A little real time lets the sessions run.
        cli.clock.setSleepHook([](std::uint32_t ms) {
            if (ms >= 100) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }

    // Where phone `k` is attached: its USB location, or its interface's device path.
    const std::string& location(unsigned k) const { return locations_[k - 1]; }
    std::string folder(unsigned k, std::string_view suffix = "") const {
        return locationFileName(location(k)) + "-" + std::string(kStationStamp) +
               std::string(suffix);
    }

    struct Result {
        int code = -1;
        std::string out;
        std::string err;
        // Removal waits still blocked in the simulator when the station had returned.
        unsigned waitsLeft = 0;
    };

    // One station run of `args` (after "--station --sim"), on `fileSystem` when given; the phones
    // are pulled out afterwards.
    Result run(std::vector<std::string> args, FileSystem* fileSystem = nullptr) {
        args.insert(args.begin(), {"--station", "--sim"});
        cli.console.out.clear();
        cli.console.err.clear();
        CommandLine line = parseCommandLine(args);
        EXPECT_EQ(line.kind, CommandLine::Kind::run) << line.detail;
        if (line.options.recipe) {
            const auto same = [](std::string_view text) { return std::string(text); };
            EXPECT_EQ(readRecipeInto(line, cli.files, same), std::vector<Message>{});
        }
        CliBindings bindings{cli.console, fileSystem ? *fileSystem : cli.files, cli.clock,
                             cli.threads, [this](bool /*simulated*/) {
                                 return std::make_shared<PhoneRoads>(
                                     PhoneRoads{cli.driver, cli.driver, cli.driver, cli.driver});
                             }};
        CliView view(cli.console, cli.clock, Language::english, line.options.quiet);
        Result result;
        {
            StationBindings station = stationBindings(bindings, view.language());
            station.wallClock = [] { return kStationTime; };
            StationConsole face(bindings, view, line.options.quiet);
            StationEngine engine(station, stationPlan(line), &face);
            result.code = static_cast<int>(engine.run());
            result.waitsLeft = cli.driver.watchersWaiting();
            cli.driver.detachAll();
            cli.threads.joinAll();
        }
        result.out = cli.console.out;
        result.err = cli.console.err;
        return result;
    }

    unsigned number(unsigned k) const { return cli.driver.phoneNumber(ids[k - 1]); }
    Bytes flash(unsigned k, std::uint32_t address, std::size_t count) const {
        return cli.driver.withPhone(
            ids[k - 1], [&](const SimPhone& phone) { return phone.readFlash(address, count); });
    }

    // The lines of `text` that begin with "[location] " of phone `k`, without it.
    std::vector<std::string> linesOf(const std::string& text, unsigned k) const {
        const std::string prefix = "[" + location(k) + "] ";
        std::vector<std::string> lines;
        std::size_t begin = 0;
        while (begin < text.size()) {
            const std::size_t end = text.find('\n', begin);
            const std::string line = text.substr(begin, end - begin);
            if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
            begin = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }

    // The journal's lines, each keyed by its location; a location twice keeps both, in order.
    // The journal's lines by phone (1 to N); a phone twice keeps both, in order.
    std::multimap<unsigned, std::string> journal(const std::string& name) const {
        std::multimap<unsigned, std::string> lines;
        std::ifstream in(name, std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            for (unsigned k = 1; k <= locations_.size(); ++k) {
                if (line.find(R"({"location":)" + jsonString(location(k)) + ",") == 0) {
                    lines.emplace(k, line + "\n");
                }
            }
        }
        return lines;
    }

    CliRig cli;
    std::vector<SimInterfaceId> ids;

private:
    std::vector<std::string> locations_;
};

}  // namespace norvale::testing
