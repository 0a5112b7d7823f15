// An LTE2 phone in flash mode: its boot ROM, the uploaded loader and its flash, as pure logic.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "SparseMemory.h"
#include "protocol/CommandFormats.h"

namespace norvale {

struct SimPhoneOptions {
    // Shown at offsets 18-21 of the RQHW reply; padded with spaces or cut to four characters.
    std::string bootVersion = "0C60";
    // Length of the RQHW reply (at most 32): a shorter reply tests how the tool cuts fields out.
    std::size_t rqhwReplySize = 32;
    // Six characters shown at offsets 6-11 of the ENUM reply instead of the phone's real mode.
    std::optional<std::string> modeOverride;
    // XORed into every unwritten flash byte, so phones side by side hold different contents:
    // 0 gives erasedFlashByte() itself.
    std::uint8_t erasedFlashMask = 0;
};

// The phone consumes the data bytes of pipe writes and produces the data of pipe reads; it
// knows nothing of records, handles or threads (the driver serialises calls into it).
//
// Behaviour, in the order a command meets it:
// - Boot ROM: framed commands (STX ... ETX) are answered in every state, because every command
//   uploads the loaders again. An ADDR packet sets the upload address, a BIN packet stores its
//   data there and moves the address on; each is answered STX "ACK" ETX, or STX "NAK" ETX when
//   its length, checksum or framing is wrong (nothing is stored then). An upload packet also
//   hands the phone back to the boot ROM, stopping a running loader.
// - A read with nothing pending while no loader runs gets the 5-character stage reply: "JMP01"
//   once something was uploaded at the jump image address, else "LDR01".
// - 'A' then a 2048-byte write: the RAM loader; answered "RAM LOADER 1" and (re)starts the
//   loader, which then takes one-byte commands: 'F' + 4-byte big-endian address + one flash
//   block in chunks (a 4-byte reply per chunk, a 5-byte reply when the block is complete or a
//   chunk shorter than 4096 ends it); 'R' + start + count as one 9-byte write (served as
//   4096-byte replies, one per read); 'Z' (drops unserved read data); 'S' then 'A' (the phone
//   restarts and leaves flash mode); 'B' (BLANK mode). A read with nothing pending while the
//   loader runs delivers no data.
class SimPhone {
public:
    static constexpr std::uint32_t kFlashFirst = 0x10000000;
    static constexpr std::uint32_t kFlashLast = 0x13FFFFFF;
    static constexpr std::uint32_t kJumpImageAddress = 0x03FEF800;
    static constexpr std::size_t kRamLoaderSize = 2048;
    static constexpr std::size_t kChunkSize = 4096;
    static constexpr std::size_t kReadReplySize = 4096;

    // The content of flash that was never written (on a phone whose erasedFlashMask is 0).
    static std::uint8_t erasedFlashByte(std::uint32_t address);
    // The mask of the K-th of several simulated phones (K from 1): 0 for the first, so it holds
    // what a single phone holds, and (K - 1) * 0x25 modulo 256 after it, different for every K
    // up to 256.
    static std::uint8_t erasedFlashMaskOf(unsigned phoneNumber);
    // `count` bytes of what phone `phoneNumber` (from 1) holds from `address` where it was never
    // written.
    static Bytes erasedFlashOf(unsigned phoneNumber, std::uint32_t address, std::size_t count);
    static std::uint32_t blockSizeAt(std::uint32_t address);

    explicit SimPhone(SimPhoneOptions options = {});

    enum class WriteEffect { none, leftFlashMode };
    // One pipe write's data bytes. leftFlashMode: the phone restarted ('S' then 'A') and is gone
    // from the bus until it is attached again.
    WriteEffect write(std::span<const std::uint8_t> data);
    // One pipe read: the next reply, cut to maxBytes (the rest of that reply is lost, as with the
    // maker's driver; the USB road takes whole replies and cuts them into packets, SimInEndpoint).
    // Empty when the phone has nothing to say.
    Bytes read(std::uint32_t maxBytes);

    // Back in flash mode after a restart: boot ROM, RAM and replies lost, flash and mode kept.
    void powerCycle();

    // From now on the flash block holding `address` keeps its contents when 'F' writes it; the
    // chunk and block replies are the same as for a block that took the data.
    void stickBlock(std::uint32_t address);

    // Inspection and preparation, for tests and the benchmark.
    std::uint8_t flashByte(std::uint32_t address) const { return flash_.byte(address); }
    Bytes readFlash(std::uint32_t address, std::size_t count) const;
    void writeFlash(std::uint32_t address, std::span<const std::uint8_t> bytes);
    Bytes ram(std::uint32_t address, std::size_t count) const;
    const Bytes& ramLoaderImage() const { return ramLoader_; }
    const std::string& bootVersion() const { return bootVersion_; }
    std::string mode() const;  // six characters, as the ENUM reply carries them
    bool blank() const { return blank_; }
    bool loaderRunning() const { return state_ != State::bootRom; }
    bool jumpImageLoaded() const { return jumpImageLoaded_; }
    std::size_t pendingReplies() const { return replies_.size() + (streamNext_ < streamEnd_); }
    unsigned rejectedPackets() const { return rejectedPackets_; }
    unsigned loaderStarts() const { return loaderStarts_; }
    std::size_t flashPagesHeld() const { return flash_.pagesHeld(); }

private:
    enum class State { bootRom, awaitingCommand, awaitingAddress, receivingBlock, startRequested };

    void framedCommand(std::span<const std::uint8_t> data);
    bool acceptAddrPacket(std::span<const std::uint8_t> data);
    bool acceptBinPacket(std::span<const std::uint8_t> data);
    void loaderCommand(std::uint8_t command);
    void startLoader(std::span<const std::uint8_t> image);
    void beginBlock(std::uint32_t address);
    void receiveChunk(std::span<const std::uint8_t> chunk);
    void queue(std::string_view reply);
    // Stores `bytes` at `address`, leaving out what falls into a stuck block.
    void storeInFlash(std::uint32_t address, std::span<const std::uint8_t> bytes);
    static std::uint32_t blockStartOf(std::uint32_t address);
    void dropReadData() { streamNext_ = streamEnd_ = 0; }

    SimPhoneOptions options_;
    std::string bootVersion_;
    SparseMemory flash_;
    SparseMemory ram_;
    Bytes ramLoader_;
    std::deque<Bytes> replies_;
    // Data of an 'R' request not yet served: [streamNext_, streamEnd_), 64-bit so that a range
    // ending at the top of the address space does not wrap.
    std::uint64_t streamNext_ = 0;
    std::uint64_t streamEnd_ = 0;

    State state_ = State::bootRom;
    bool awaitingRamLoader_ = false;
    std::optional<std::uint32_t> uploadAddress_;
    bool jumpImageLoaded_ = false;
    bool blank_ = false;
    std::uint32_t blockAddress_ = 0;
    std::uint32_t blockSize_ = 0;
    std::uint32_t blockReceived_ = 0;
    bool blockOutsideFlash_ = false;
    unsigned rejectedPackets_ = 0;
    unsigned loaderStarts_ = 0;
    std::set<std::uint32_t> stuckBlocks_;  // block start addresses
};

}  // namespace norvale
