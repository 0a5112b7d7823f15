// One phone's chain of commands, in the session it arrived in: the command line's one phone, or
// each phone of a station.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "presence/AttachedPhones.h"
#include "protocol/CommandContext.h"
#include "station/ChainStep.h"
#include "station/ExitCode.h"

namespace norvale {

// An image the chain writes: read once before the run and shared, read-only, by every session.
using SharedImage = std::shared_ptr<const Bytes>;

// What the chain tells as it goes, for a station's table and journal; on the chain's thread.
class ChainObserver {
public:
    virtual ~ChainObserver() = default;
    virtual void commandBegins(std::size_t index) = 0;
    // The running command has made `name` and it is whole under that name; `sha256` is its
    // digest as it lies on disk ("" when it could not be read back).
    virtual void fileMade(const std::string& name, const std::string& sha256) = 0;
    // A write's verification ran to its end: `equal` when the flash holds the image.
    virtual void verified(bool equal) = 0;
    virtual void commandEnds(std::size_t index, ExitCode code) = 0;
};

// The commands run one after the other on the calling thread, each through the worker frame
// (runCommandWorker: the loader bootstrap, then its body) in the session of `services`, whose
// phone has arrived (its lines logged, its device open): the jump image goes with the first
// command only. The chain stops at the first command that fails; its error line has been logged
// and its reason gives the exit code. Every name in the steps is final (a read's output, a
// backup's folder, a restore's saving folder): nothing is decided here about where files go.
// `images` holds each write's image and each restore's three, in the order of the commands.
class PhoneChain {
public:
    PhoneChain(Services& services, const std::vector<ChainStep>& steps,
               const std::vector<SharedImage>& images, const AttachedPhone& phone,
               ChainObserver* observer = nullptr);

    // What the front end answers itself, for the steps that print a document of its own: `list`,
    // and `info --json`. A station has none of them.
    using FrontEndStep = std::function<ExitCode(const ChainStep& step)>;

    ExitCode run(const FrontEndStep& frontEnd = {});

private:
    ExitCode runStep(const ChainStep& step, bool first, const FrontEndStep& frontEnd);
    ExitCode runCommand(const CommandBody& body);
    ExitCode read(const ReadStep& step);
    ExitCode write(const WriteStep& step);
    // Writes `image` (the file `path`) by `plan`: all of it, or with `changedOnly` the blocks
    // whose flash differs; then, with `verify`, reads back what was written. One "Успешно" for
    // the whole: the verification's, or the write's without one.
    ExitCode writeImage(const std::vector<ImageSlice>& plan, const std::string& path,
                        const SharedImage& image, bool verify, bool changedOnly);
    ExitCode backup(const std::string& folder);
    ExitCode restore(const RestoreStep& step);
    // The next image of `images`, in the chain's order: each write's, a restore's three.
    const SharedImage& nextImage() { return images_[nextImage_++]; }
    // Logs the error message and gives its exit code.
    ExitCode refuse(const Message& reason);
    ExitCode refuse(MessageId reason, std::string_view name) {
        return refuse(Message(reason, MessageDetail::name(name)));
    }
    // Tells the observer of a file made, hashing it unless the caller already did.
    void made(const std::string& name, std::optional<std::string> sha256 = std::nullopt);

    Services& services_;
    const std::vector<ChainStep>& steps_;
    const std::vector<SharedImage>& images_;
    std::size_t nextImage_ = 0;
    const AttachedPhone& phone_;
    ChainObserver* observer_;
};

}  // namespace norvale
