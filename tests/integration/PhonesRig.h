// Several simulated phones, each served by a session of its own, as a station composes them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/OperatorTexts.h"
#include "integration/PresenceRig.h"
#include "presence/AttachedPhones.h"
#include "presence/PresenceHandling.h"
#include "protocol/CommandWorker.h"
#include "sim/ScriptedFileChooser.h"
#include "sim/SimPlatform.h"

namespace norvale::presence_testing {

// What one phone's session is made of: its own log and screen, its own file chooser (the
// operator's answers for this phone), the simulator's other seams shared as the process shares
// them, and the session state.
struct PhoneSession {
    explicit PhoneSession(SimPlatform& sim)
        : platform{sim.driver, sim.driver, sim.driver, sim.driver,
                   sim.files,  chooser,    sim.clock,  sim.threads} {}

    // The arrival handling of the command line, for `phone`.
    void arrive(const AttachedPhone& phone) {
        handleArrivalOf(services, openAttachedPhone(platform, phone));
    }
    CommandOutcome run(const CommandBody& body) {
        state.busy = true;
        return runCommandWorker(services, body);
    }

    MemoryDialogView view;
    ViewLog log{view};
    ScriptedFileChooser chooser;
    Platform platform;
    SessionState state;
    Services services{state, log, platform, view};
};

// A working folder with the loader images (3000-byte loader, 100-byte jump image).
inline void putLoaderImages(const ScratchFolder& folder) {
    std::filesystem::create_directory("bin");
    folder.put("bin/loader.bin", std::string(3000, '\x11'));
    folder.put("bin/LTE2_jump.bin", std::string(100, '\x22'));
    folder.put("bin/ram.bin", std::string(2048, '\x33'));
}

inline std::string fileText(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string asText(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

}  // namespace norvale::presence_testing
