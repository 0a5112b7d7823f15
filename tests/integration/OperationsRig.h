// A connected simulated phone, loader images in a scratch folder, and one command run at a time.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/OperationLog.h"
#include "protocol/CommandWorker.h"
#include "sim/MemoryDialogView.h"
#include "sim/SimPlatform.h"
#include "ui/DialogLogLines.h"
#include "unit/DialogLogTexts.h"

namespace norvale::testing {

inline std::string hexOf(std::span<const std::uint8_t> bytes) { return SimTrace::hex(bytes); }

// Trace lines of the simulated driver, as the tests expect them.
inline std::string written(std::span<const std::uint8_t> bytes) { return "W 2 " + hexOf(bytes); }
inline std::string writtenHex(const std::string& hex) { return "W 2 " + hex; }
inline std::string readLine(std::uint32_t maxBytes, std::string_view delivered) {
    std::string line = "R 2 " + std::to_string(maxBytes);
    if (!delivered.empty()) {
        line += ' ';
        line += hexOf({reinterpret_cast<const std::uint8_t*>(delivered.data()), delivered.size()});
    }
    return line;
}
// A log line in a transcript, set apart from the trace lines by its marker.
inline std::string logged(std::string_view text) { return "log: " + std::string(text); }
inline std::string errorLogged(std::string_view reason, std::string_view detail = {}) {
    return logged(text::errorLine(reason, detail));
}

// Trace lines run to 8 KB of hex: a mismatch is shown as its first differing line, shortened.
inline std::string shortened(const std::string& line) {
    return line.size() <= 96 ? line
                             : line.substr(0, 96) + "...(" + std::to_string(line.size()) + ")";
}
inline void expectTranscript(const std::vector<std::string>& actual,
                             const std::vector<std::string>& expected) {
    const std::size_t common = std::min(actual.size(), expected.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (actual[i] != expected[i]) {
            ADD_FAILURE() << "line " << i << " is\n  " << shortened(actual[i]) << "\nnot\n  "
                          << shortened(expected[i]);
            return;
        }
    }
    if (actual.size() != expected.size()) {
        ADD_FAILURE() << actual.size() << " lines, not " << expected.size() << "; next: "
                      << shortened(actual.size() > common ? actual[common] : expected[common]);
    }
}

// A file's bytes, or nothing when it does not exist.
inline Bytes fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void putFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Bytes that differ from the erased flash and from one offset to the next.
inline Bytes patternImage(std::size_t size, std::uint8_t seed) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8) * 13);
    }
    return image;
}

// The log that a command writes, kept in step with the driver's trace: every append remembers
// how many trace lines came before it, so a test sees log lines and transfers in one order.
class TranscriptLog final : public OperationLog {
public:
    TranscriptLog(MemoryDialogView& view, SimDriver& driver) : view_(view), driver_(driver) {}
    void append(const Message& message) override {
        for (const std::string& text : dialogLogLines(message)) {
            view_.appendLog(text);
            appends_.push_back({driver_.trace().size(), text});
        }
    }
    struct Append {
        std::size_t traceLines;
        std::string text;
    };
    std::vector<Append> appends_;

private:
    MemoryDialogView& view_;
    SimDriver& driver_;
};

// The phone is attached on `road` and open, as after an arrival; the working directory is a
// fresh folder holding .\bin\loader.bin, .\bin\LTE2_jump.bin and .\bin\ram.bin, and is put back
// when the rig goes.
class OperationsRig {
public:
    explicit OperationsRig(Road road = Road::driver)
        : sim(SimPlatform::Phone::attached, road), previous_(std::filesystem::current_path()) {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        folder_ = std::filesystem::temp_directory_path() /
                  ("norvale-ops-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(folder_ / "bin");
        std::filesystem::current_path(folder_);
        putFile("bin/loader.bin", patternImage(3000, 0x11));
        putFile("bin/LTE2_jump.bin", patternImage(100, 0x22));
        putFile("bin/ram.bin", patternImage(2048, 0x33));
        view.setFieldText(AddressField::start, "10010000");
        view.setFieldText(AddressField::end, "1001FFFF");
        state.connected = true;
        state.device.store(std::make_shared<const OpenDevice>(
            sim.driver.open(sim.driver.devicePathOf(sim.phoneId)), sim.driver, road));
    }
    ~OperationsRig() {
        state.device.store(nullptr);
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(folder_, ignored);
    }
    OperationsRig(const OperationsRig&) = delete;
    OperationsRig& operator=(const OperationsRig&) = delete;

    // A fault at the n-th pipe transfer of the command's body (from 1), after the bootstrap.
    struct BodyFault {
        SimFaultKind kind;
        std::uint64_t transfer;
    };

    // Runs one command as a click would (busy set, the worker frame, busy cleared) on this
    // thread, and returns what its body did: the driver's trace lines and the log lines
    // ("log: ..."), in the order they happened. The loader bootstrap before it is left out.
    std::vector<std::string> run(const CommandBody& body, std::vector<BodyFault> faults = {}) {
        sim.driver.clearTrace();
        log.appends_.clear();
        bool bodyRan = false;
        std::size_t traceFrom = 0;
        std::size_t logFrom = 0;
        state.busy = true;
        runCommandWorker(services, [&](CommandContext& command) {
            bodyRan = true;
            traceFrom = sim.driver.trace().size();
            logFrom = log.appends_.size();
            for (const BodyFault& fault : faults) {
                sim.driver.addFault(fault.kind, sim.driver.pipeTransfers() + fault.transfer);
            }
            body(command);
        });
        sim.driver.clearFaults();
        EXPECT_FALSE(state.busy.load());
        EXPECT_TRUE(bodyRan) << "the bootstrap did not bring the loader up";
        return transcript(sim.driver.trace(), traceFrom, logFrom);
    }

    void fields(std::string_view start, std::string_view end) {
        view.setFieldText(AddressField::start, start);
        view.setFieldText(AddressField::end, end);
    }

    // An image file in the working folder, picked by the operator at the next file dialog.
    std::string pickImage(const std::string& name, const Bytes& bytes) {
        putFile(name, bytes);
        sim.chooser.choose(name);
        return name;
    }

    Bytes flash(std::uint32_t address, std::size_t count) {
        return sim.driver.withPhone(
            sim.phoneId, [&](const SimPhone& phone) { return phone.readFlash(address, count); });
    }

    // Files in the working folder other than the loader images.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            if (entry.path().filename() != "bin") names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    SimPlatform sim;
    MemoryDialogView view;
    TranscriptLog log{view, sim.driver};
    SessionState state;
    Services services{state, log, sim.platform, view};

private:
    std::vector<std::string> transcript(const std::vector<std::string>& trace,
                                        std::size_t traceFrom, std::size_t logFrom) const {
        std::vector<std::string> lines;
        std::size_t line = traceFrom;
        for (std::size_t i = logFrom; i < log.appends_.size(); ++i) {
            const TranscriptLog::Append& append = log.appends_[i];
            for (; line < append.traceLines; ++line) lines.push_back(trace[line]);
            lines.push_back(logged(append.text));
        }
        for (; line < trace.size(); ++line) lines.push_back(trace[line]);
        return lines;
    }

    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

}  // namespace norvale::testing
