// What the program tells the operator: an identifier of the message catalogue and its details.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace norvale {

// Each thing the operator is told. The catalogue (MessageCatalogue.h) holds, for each, its stable
// name, whether it is an error, and its texts; the front ends render it from there, so nothing
// ever has to read a line back to know what it meant. New identifiers go at the end.
enum class MessageId : std::uint8_t {
    // Presence.
    phoneConnected,
    phoneDisconnected,
    bootVersion,  // the phone's bytes
    phoneMode,    // the phone's bytes
    cg1Start,     // KESTRIN.ini's bytes
    // Commands.
    sendingLoader,
    loaderReply,  // the loader's reply bytes, up to their first zero byte
    writingData,
    readingBlock,  // the dump's name
    startingPhone,
    settingBlank,
    success,
    verifyingData,
    checksumsWritten,  // the checksums file's name
    // Errors of the commands.
    phoneNotConnected,
    noAnswer,
    noUsbPermission,  // the phone's location
    phoneInUse,       // the phone's location
    usbBusUnread,
    cannotReadFile,  // the file
    fileInUse,       // the file
    fileTooLarge,    // the file
    imageTooShort,   // the image file
    badAddressRange,
    cannotCreateFile,   // the file
    fileExists,         // the file; the ".part" file that keeps the dump, when one does
    readInterrupted,    // the bytes kept; the ".part" file that holds them, if any
    readTooLong,        // the same
    cannotWriteFile,    // the bytes kept; the ".part" file that holds them
    invalidFileName,    // the name
    cannotRenameFile,   // the ".part" file; the name it was to take
    writeNotConfirmed,  // the block's address
    stoppedByOperator,
    readStoppedByOperator,  // the bytes kept; the ".part" file that holds them, if any
    writeInterrupted,       // a stop while the flash was written in part
    verifyMismatch,         // the first address that differs
    // Errors of the command line, before anything is sent.
    unknownCommand,    // the word
    unknownOption,     // the option
    missingArgument,   // what is missing
    badOptionValue,    // the option and its value
    badRangeArgument,  // the argument
    backupNeedsOneWrite,
    fileNamedTwice,      // the file
    noSuchPhone,         // the id asked for
    cannotCreateFolder,  // the folder
    cannotOpenFolder,    // the folder
    // The command line's changed-only writes and restores.
    comparingBlocks,
    blockDiffers,       // the block's address
    blockAlreadyEqual,  // the block's address
    savingPhoneTo,      // the new backup folder
    restoringFrom,      // the backup's file
    badChecksumLine,    // the checksums file and the line's number, as "FILE:LINE"
    notInChecksums,     // the file
    checksumMismatch,   // the file
    wrongRegionSize,    // the file
    jsonInOneCommand,
    // A station's.
    onlyInStation,       // the option
    notInStation,        // the command or option
    outsidePhoneFolder,  // the name
    journalNotWritten,   // the journal's file
    waitingAtPorts,      // the --port places no phone was at when the station began, ", " between
    // Recipes and the journal's report.
    imageNotPinned,    // the image; its size and SHA-256; the recipe's size and SHA-256
    recipeNotToml,     // the recipe and the line, as "FILE:LINE"; the TOML reader's description
    recipeUnknownKey,  // "FILE:LINE"; the key
    recipeBadValue,    // "FILE:LINE"; the key
    recipeMissingKey,  // "FILE:LINE"; the key
    recipeBadVersion,  // "FILE:LINE"; the version
    recipeBadStep,     // "FILE:LINE": the step whose command line is refused on the next line
    recipeAndCommands,
    notInRecipe,          // the option
    imageAsPinned,        // the image
    recipeChecked,        // the recipe
    recipeWritten,        // the recipe
    journalLinesSkipped,  // the journal; how many lines
    phoneLogInFile,       // the file a finished phone's log lines went to
    servedElsewhere,      // the place of a phone another of the computer's programs serves
};

inline constexpr std::size_t kMessageCount =
    static_cast<std::size_t>(MessageId::servedElsewhere) + 1;

// One detail of a message, kept as what it is, so each front end shows it its own way.
struct MessageDetail {
    enum class Kind : std::uint8_t {
        name,  // a file or folder name, a phone's id, an argument: the system's narrow encoding
        fromPhone,  // bytes from the phone or KESTRIN.ini, which the dialog shows as Windows-1251
        byteCount,  // a number of bytes, shown in decimal
        address,    // a flash address, shown as 8 upper-case hex digits
    };
    Kind kind = Kind::name;
    std::string text;          // name and fromPhone
    std::uint64_t number = 0;  // byteCount and address

    static MessageDetail name(std::string_view name) { return {Kind::name, std::string(name), 0}; }
    static MessageDetail phoneBytes(std::string_view bytes) {
        return {Kind::fromPhone, std::string(bytes), 0};
    }
    static MessageDetail bytes(std::uint64_t count) { return {Kind::byteCount, {}, count}; }
    static MessageDetail flashAddress(std::uint32_t address) {
        return {Kind::address, {}, address};
    }

    friend bool operator==(const MessageDetail&, const MessageDetail&) = default;
};

struct Message {
    MessageId id;
    std::vector<MessageDetail> details;  // in the order of the catalogue's places {1}, {2}

    // A message without details is its identifier.
    Message(MessageId messageId) : id(messageId) {}  // NOLINT(google-explicit-constructor)
    template <class... More>
    requires(std::same_as<std::remove_cvref_t<More>, MessageDetail>&&...)
        Message(MessageId messageId, MessageDetail first, More&&... more)
        : id(messageId) {
        details.reserve(1 + sizeof...(more));
        details.push_back(std::move(first));
        (details.push_back(std::forward<More>(more)), ...);
    }

    friend bool operator==(const Message&, const Message&) = default;
};

}  // namespace norvale
