// One run of norvale-cli: its files checked, its phone found, its commands run in one session.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliProgram.h"
#include "cli/CliView.h"
#include "core/SessionState.h"
#include "operations/TransferEstimate.h"
#include "platform/JoinableThread.h"
#include "presence/AttachedPhones.h"
#include "protocol/CommandContext.h"
#include "station/ExitCode.h"
#include "station/NoFileChooser.h"
#include "station/PhoneChain.h"

namespace norvale {

// The run of one phone: its files checked and its images read, its phone found and announced,
// then its commands as a PhoneChain in one SessionState. Everything that can be checked without
// the phone is checked before the roads to it are opened: a refused run sends nothing.
class CliSession {
public:
    CliSession(CliBindings& bindings, CliView& view, CommandLine line);
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;
    ~CliSession();

    ExitCode run();

private:
    ExitCode prepareFiles();
    ExitCode checkLoaders();
    ExitCode checkOutputs();
    ExitCode printDryRun();
    ExitCode openRoads();
    ExitCode findPhone(bool announce);
    ExitCode list(bool json);
    ExitCode infoJson();
    // One phone as a JSON object: its id, road, place and serial number, what it answers, and
    // the reason it answers nothing when the system refused the open (`refusal`).
    std::string phoneJson(const AttachedPhone& phone, const OpenDevice& device,
                          bool withConfiguration, std::optional<MessageId> refusal = std::nullopt);
    // Prints the error message and gives its exit code.
    ExitCode refuse(const Message& reason);
    ExitCode refuse(MessageId reason, std::string_view name) {
        return refuse(Message(reason, MessageDetail::name(name)));
    }
    // The phone's commands, with the stop watch running while they do.
    ExitCode runChain();
    // The stop watch's thread: see runChain().
    void watchForStop();

    CliBindings& bindings_;
    CliView& view_;
    CommandLine line_;
    std::vector<SharedImage> images_;  // each write's image and a restore's three, in order
    LoaderImageSizes loaders_;
    SessionState state_;
    NoFileChooser chooser_;
    std::shared_ptr<PhoneRoads> roads_;
    std::unique_ptr<Platform> platform_;
    std::unique_ptr<Services> services_;
    std::optional<AttachedPhone> phone_;

    // The stop watch ends (and is joined) before the platform it cuts transfers on goes.
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool chainEnded_ = false;
    std::unique_ptr<JoinableThread> stopWatch_;
};

}  // namespace norvale
