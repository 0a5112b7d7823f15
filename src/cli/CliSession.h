// One run of norvale-cli: its files checked, its phone found, its commands run in one session.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliProgram.h"
#include "cli/CliView.h"
#include "cli/ExitCode.h"
#include "cli/GivenImageFile.h"
#include "core/SessionState.h"
#include "operations/TransferEstimate.h"
#include "presence/AttachedPhones.h"
#include "protocol/CommandContext.h"

namespace norvale {

// The commands run one after the other on the calling thread, each through the worker frame
// (runCommandWorker: the loader bootstrap, then its body) with the bodies of the dialog's
// buttons, all in one SessionState: the phone arrives once, so the jump image goes with the first
// command only. The run
// stops at the first command that fails; its error line has been printed and its reason gives the
// exit code. Everything that can be checked without the phone is checked before the roads to it
// are opened: a refused run sends nothing.
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
    ExitCode loadImages();
    ExitCode checkOutputs();
    ExitCode printDryRun();
    ExitCode openRoads();
    ExitCode findPhone(bool announce);
    ExitCode runStep(const CliStep& step, bool first);
    ExitCode runCommand(const CommandBody& body);
    ExitCode list(bool json);
    ExitCode info(bool json, bool first);
    // One phone as a JSON object: its id, road and place, and what it answers.
    std::string phoneJson(const AttachedPhone& phone, const OpenDevice& device,
                          bool withConfiguration);
    ExitCode read(const ReadStep& step);
    ExitCode write(const WriteStep& step);
    // Writes `image` (the file `path`) by `plan`: all of it, or with `changedOnly` the blocks
    // whose flash differs; then, with `verify`, reads back what was written. One "Успешно" for
    // the whole: the verification's, or the write's without one.
    ExitCode writeImage(const std::vector<ImageSlice>& plan, const std::string& path,
                        const Bytes& image, bool verify, bool changedOnly);
    ExitCode backup(const std::string& folder);
    ExitCode restore(const RestoreStep& step);
    // The next image prepareFiles() loaded, in the run's order.
    const Bytes& nextImage() { return images_[nextImage_++]; }
    // Prints the error message and gives its exit code.
    ExitCode refuse(const Message& reason);
    ExitCode refuse(MessageId reason, std::string_view name) {
        return refuse(Message(reason, MessageDetail::name(name)));
    }

    CliBindings& bindings_;
    CliView& view_;
    CommandLine line_;
    std::vector<Bytes> images_;  // each write's image and a restore's three, in the run's order
    std::size_t nextImage_ = 0;
    LoaderImageSizes loaders_;
    SessionState state_;
    GivenImageFile chooser_;
    std::shared_ptr<PhoneRoads> roads_;
    std::unique_ptr<Platform> platform_;
    std::unique_ptr<Services> services_;
    std::optional<AttachedPhone> phone_;
};

}  // namespace norvale
