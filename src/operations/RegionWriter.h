// Writing an image file into flash blocks with the loader's 'F' command, and the four write bodies.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "operations/TransferProgress.h"
#include "operations/WritePlan.h"
#include "protocol/CommandContext.h"

namespace norvale {

// Whether a write that reached its end says "Успешно" itself, or leaves the verdict to a
// verification that follows (a command line write says it once, after the comparison).
enum class WriteVerdict { said, leftToVerification };

// The engine of one write command. It asks the operator for the image on the command's first
// slice, holds the whole file while the command runs, and lets go of it in dropImage() or, at the
// latest, when it is destroyed.
//
// Every failure ends the command: a failed transfer (CommandContext has logged it), an image that
// can't be read or is too short (logged here), or a cancelled file dialog (silent). After a
// failure nothing more is sent.
//
// From the image's load to dropImage() the command's progress counts the chunk bytes the phone
// has taken against all that the plan sends with that image (bytesToSend()).
class RegionWriter {
public:
    // `plan`: the slices the command will write, in order. The image length they need (see
    // minimumImageSize()) is checked at the load, so that an image too short for a later slice is
    // refused before the first 'F'.
    RegionWriter(CommandContext& command, std::vector<ImageSlice> plan);
    // With the image already in memory (`name` its file): the operator is not asked, nothing is
    // read, and the bytes are shared, not copied, so sessions writing one image at once hold it
    // once. Its length is checked as a loaded image's.
    RegionWriter(CommandContext& command, std::vector<ImageSlice> plan,
                 std::shared_ptr<const Bytes> image, std::string name);
    ~RegionWriter() { dropImage(); }
    RegionWriter(const RegionWriter&) = delete;
    RegionWriter& operator=(const RegionWriter&) = delete;

    // Loads the image on the command's first call, then sends 'F', the block address and the
    // image bytes [fromOffset, toOffset) in chunks of up to 4096 bytes, each followed by its
    // 4-byte reply, and reads the block's 5-byte reply. False when no image could be had
    // (nothing of the slice is sent then) or when the slice did not reach the phone whole.
    bool writeSlice(std::uint32_t address, std::uint32_t fromOffset, std::uint32_t toOffset);
    // 'Z', then "Успешно" unless the verdict is left to a verification. False (and no "Успешно")
    // when 'Z' did not reach the phone.
    bool finishWrite(WriteVerdict verdict = WriteVerdict::said);
    void dropImage();

private:
    bool loadImage();
    bool sendChunk(std::uint32_t address, std::uint32_t offset);

    CommandContext& command_;
    std::vector<ImageSlice> plan_;
    std::shared_ptr<const Bytes> image_;
    std::string imageName_;
    std::shared_ptr<const Bytes> givenImage_;
    std::optional<TransferProgress> progress_;
};

// The command bodies. Each runs after the loader bootstrap on the command's worker.
void writeBoot(CommandContext& command);
void writePds(CommandContext& command);
void writePanic(CommandContext& command);
// The blocks from the Start field to the End field. A range with nothing to write is refused
// before the file dialog.
void writeBlockRange(CommandContext& command);
// The command line's write: `image` (read from the file `name` before the run) by `plan`.
// With WriteVerdict::leftToVerification its "Успешно" is left to the verification that follows.
void writeImage(CommandContext& command, const std::vector<ImageSlice>& plan,
                std::shared_ptr<const Bytes> image, std::string name,
                WriteVerdict verdict = WriteVerdict::said);

}  // namespace norvale
