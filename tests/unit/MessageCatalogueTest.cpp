// The message catalogue: names and texts of every message, the dialog's bytes of each, exit codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "core/MessageCatalogue.h"
#include "station/ExitCode.h"
#include "ui/DialogLogLines.h"
#include "unit/DialogLogTexts.h"

namespace norvale {
namespace {

MessageId idAt(std::size_t i) { return static_cast<MessageId>(i); }

bool isSnakeCase(std::string_view name) {
    return !name.empty() && name.front() != '_' && name.back() != '_' &&
           name.find("__") == std::string_view::npos &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
           });
}

TEST(MessageCatalogue, EveryMessageHasOneUniqueNameAndBothTextsWithTheSamePlaces) {
    std::set<std::string_view> names;
    for (std::size_t i = 0; i < kMessageCount; ++i) {
        const MessageEntry& entry = messageEntry(idAt(i));
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.id, idAt(i));
        EXPECT_TRUE(isSnakeCase(entry.name));
        EXPECT_TRUE(names.insert(entry.name).second) << "the name is taken";
        const std::string_view russian = entry.russian.view();
        ASSERT_FALSE(russian.empty());
        ASSERT_FALSE(entry.english.empty());
        // The same details in the same places, optional in both or in neither.
        const std::vector<int> places = patternPlaces(russian);
        EXPECT_EQ(places, patternPlaces(entry.english));
        // Numbered from 1 without a gap, so a message's details are its places in order.
        std::vector<int> numbers;
        for (const int place : places) numbers.push_back(place < 0 ? -place : place);
        std::sort(numbers.begin(), numbers.end());
        for (std::size_t n = 0; n < numbers.size(); ++n)
            EXPECT_EQ(numbers[n], static_cast<int>(n + 1));
        EXPECT_TRUE(std::all_of(entry.english.begin(), entry.english.end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    }
}

// A name as a Russian Windows gives it (Windows-1251 is its narrow encoding).
const std::string kName = "\xE4\xE0\xEC\xEF.bin";
const std::string kPart = kName + ".part";

struct Sample {
    Message message;
    std::string_view name;
    std::string dialogBytes;  // written out from today's texts, not from the catalogue
};

std::vector<Sample> samples() {
    using namespace text;
    const MessageDetail name = MessageDetail::name(kName);
    const MessageDetail part = MessageDetail::name(kPart);
    const MessageDetail kept = MessageDetail::bytes(16384);
    const std::string keptIn = "16384" + std::string(kSavedInFile) + kPart;
    const auto error = [](std::string_view reason, std::string_view detail = {}) {
        return errorLine(reason, detail);
    };
    const auto with = [](std::string_view label, std::string_view detail) {
        return std::string(label) + std::string(detail) + "\r\n";
    };
    return {
        {MessageId::phoneConnected, "phone_connected", kPhoneConnected.str()},
        {MessageId::phoneDisconnected, "phone_disconnected", kPhoneDisconnected.str() + "\r\n"},
        {Message(MessageId::bootVersion, MessageDetail::phoneBytes("0C60")), "boot_version",
         with(kBootVersion, "0C60")},
        {Message(MessageId::phoneMode, MessageDetail::phoneBytes("\xC1\xCB\xC0\xCD\xCA ")),
         "phone_mode", with(kMode, "\xC1\xCB\xC0\xCD\xCA ")},
        {Message(MessageId::cg1Start, MessageDetail::phoneBytes("100A0000")), "cg1_start",
         with(kCg1Start, "100A0000")},
        {MessageId::sendingLoader, "sending_loader", kSendingLoader.str()},
        {Message(MessageId::loaderReply, MessageDetail::phoneBytes("RAM {1} [x]\n")),
         "loader_reply", "RAM {1} [x]\n\r\n"},
        {MessageId::writingData, "writing_data", kWritingData.str()},
        {Message(MessageId::readingBlock, name), "reading_block", with(kReadingBlock, kName)},
        {MessageId::startingPhone, "starting_phone", kStartingPhone.str()},
        {MessageId::settingBlank, "setting_blank", kSettingBlank.str()},
        {MessageId::success, "success", kSuccess.str()},
        {MessageId::verifyingData, "verifying_data", kVerifyingData.str()},
        {Message(MessageId::checksumsWritten, name), "checksums_written",
         with(kChecksumsWritten, kName)},
        {MessageId::phoneNotConnected, "phone_not_connected", error(kPhoneNotConnected)},
        {MessageId::noAnswer, "no_answer", error(kNoAnswerFromPhone)},
        {Message(MessageId::noUsbPermission, name), "no_usb_permission",
         error(kNoUsbPermissionTo, std::string(kName) + std::string(kNoUsbPermissionRule.view()))},
        {Message(MessageId::phoneInUse, name), "phone_in_use",
         error(kPhoneInUseBefore, std::string(kName) + std::string(kPhoneInUseAfter.view()))},
        {MessageId::usbBusUnread, "usb_bus_unread", with(kUsbBusUnread, "")},
        {Message(MessageId::cannotReadFile, name), "cannot_read_file",
         error(kCannotReadFile, kName)},
        {Message(MessageId::fileInUse, name), "file_in_use", error(kFileInUse, kName)},
        {Message(MessageId::fileTooLarge, name), "file_too_large", error(kFileTooLarge, kName)},
        {Message(MessageId::imageTooShort, name), "image_too_short", error(kImageTooShort, kName)},
        {MessageId::badAddressRange, "bad_address_range", error(kBadAddressRange)},
        {Message(MessageId::cannotCreateFile, name), "cannot_create_file",
         error(kCannotCreateFile, kName)},
        {Message(MessageId::fileExists, name), "file_exists", error(kFileExists, kName)},
        {Message(MessageId::fileExists, name, part), "file_exists",
         error(kFileExists, kName + std::string(kDumpKeptIn) + kPart)},
        {Message(MessageId::readInterrupted, kept), "read_interrupted",
         error(kReadInterrupted, "16384")},
        {Message(MessageId::readInterrupted, kept, part), "read_interrupted",
         error(kReadInterrupted, keptIn)},
        {Message(MessageId::readTooLong, kept), "read_too_long", error(kReadTooLong, "16384")},
        {Message(MessageId::readTooLong, kept, part), "read_too_long", error(kReadTooLong, keptIn)},
        {Message(MessageId::cannotWriteFile, kept, part), "cannot_write_file",
         error(kCannotWriteFile, keptIn)},
        {Message(MessageId::invalidFileName, name), "invalid_file_name",
         error(kInvalidFileName, kName)},
        {Message(MessageId::cannotRenameFile, part, name), "cannot_rename_file",
         error(kCannotRenameFile, kPart + std::string(kRenamedTo) + kName)},
        {Message(MessageId::writeNotConfirmed, MessageDetail::flashAddress(0x100A0000)),
         "write_not_confirmed", error(kWriteNotConfirmed, "100A0000")},
        {MessageId::stoppedByOperator, "stopped_by_operator", error(kStoppedByOperator)},
        {Message(MessageId::readStoppedByOperator, kept), "read_stopped_by_operator",
         error(kReadStoppedByOperator, "16384")},
        {Message(MessageId::readStoppedByOperator, kept, part), "read_stopped_by_operator",
         error(kReadStoppedByOperator, keptIn)},
        {MessageId::writeInterrupted, "write_interrupted", error(kWriteInterrupted)},
        {Message(MessageId::verifyMismatch, MessageDetail::flashAddress(0x0001ABCF)),
         "verify_mismatch", error(kVerifyMismatch, "0001ABCF")},
        {Message(MessageId::unknownCommand, MessageDetail::name("wirte")), "unknown_command",
         error(kUnknownCommand, "wirte")},
        {Message(MessageId::unknownOption, MessageDetail::name("--fast")), "unknown_option",
         error(kUnknownOption, "--fast")},
        {Message(MessageId::missingArgument, MessageDetail::name("write FILE")), "missing_argument",
         error(kMissingArgument, "write FILE")},
        {Message(MessageId::badOptionValue, MessageDetail::name("--wait x")), "bad_option_value",
         error(kBadOptionValue, "--wait x")},
        {Message(MessageId::badRangeArgument, MessageDetail::name("2000-1000")),
         "bad_range_argument", error(kBadRangeArgument, "2000-1000")},
        {MessageId::backupNeedsOneWrite, "backup_needs_one_write", error(kBackupNeedsOneWrite)},
        {Message(MessageId::fileNamedTwice, name), "file_named_twice",
         error(kFileNamedTwice, kName)},
        {Message(MessageId::noSuchPhone, MessageDetail::name("usb:1-4")), "no_such_phone",
         error(kNoSuchPhone, "usb:1-4")},
        {Message(MessageId::cannotCreateFolder, name), "cannot_create_folder",
         error(kCannotCreateFolder, kName)},
        {Message(MessageId::cannotOpenFolder, name), "cannot_open_folder",
         error(kCannotOpenFolder, kName)},
        // The command line's changed-only writes and restores, written out here.
        {MessageId::comparingBlocks, "comparing_blocks",
         Cp1251Text{u8"Сравнение блоков телефона с образом\r\n"}.str()},
        {Message(MessageId::blockDiffers, MessageDetail::flashAddress(0x10018000)), "block_differs",
         Cp1251Text{u8"Блок отличается от образа, будет записан: 10018000\r\n"}.str()},
        {Message(MessageId::blockAlreadyEqual, MessageDetail::flashAddress(0x10010000)),
         "block_already_equal",
         Cp1251Text{u8"Блок совпадает с образом, не записывается: 10010000\r\n"}.str()},
        {Message(MessageId::savingPhoneTo, name), "saving_phone_to",
         with(Cp1251Text{u8"Содержимое телефона сохраняется в папку "}, kName)},
        {Message(MessageId::restoringFrom, name), "restoring_from",
         with(Cp1251Text{u8"Восстановление из файла "}, kName)},
        {Message(MessageId::badChecksumLine, MessageDetail::name("saved/SHA256SUMS:2")),
         "bad_checksum_line",
         error(Cp1251Text{u8"неверная строка файла контрольных сумм: "}, "saved/SHA256SUMS:2")},
        {Message(MessageId::notInChecksums, name), "not_in_checksums",
         error(Cp1251Text{u8"файл не указан в контрольных суммах: "}, kName)},
        {Message(MessageId::checksumMismatch, name), "checksum_mismatch",
         error(Cp1251Text{u8"файл не совпадает со своей контрольной суммой: "}, kName)},
        {Message(MessageId::wrongRegionSize, name), "wrong_region_size",
         error(Cp1251Text{u8"размер файла не равен размеру его области: "}, kName)},
        {MessageId::jsonInOneCommand, "json_in_one_command",
         error(Cp1251Text{u8"параметр --json допускается только у одной команды"})},
        {Message(MessageId::onlyInStation, MessageDetail::name("--port")), "only_in_station",
         error(kOnlyInStation, "--port")},
        {Message(MessageId::notInStation, MessageDetail::name("list")), "not_in_station",
         error(kNotInStation, "list")},
        {Message(MessageId::outsidePhoneFolder, name), "outside_phone_folder",
         error(kOutsidePhoneFolder, kName)},
        {Message(MessageId::journalNotWritten, name), "journal_not_written",
         error(kJournalNotWritten, kName)},
        {Message(MessageId::waitingAtPorts, MessageDetail::name("1-1.3, 1-1.4")),
         "waiting_at_ports", with(Cp1251Text{u8"Ожидание телефона в местах: "}, "1-1.3, 1-1.4")},
        {Message(MessageId::imageNotPinned, name, MessageDetail::bytes(3),
                 MessageDetail::name("ab"), MessageDetail::bytes(4), MessageDetail::name("cd")),
         "image_not_pinned",
         error(Cp1251Text{u8"образ не совпадает с рецептом: "}, kName) +
             Cp1251Text{u8"файл: 3 байт, SHA-256 ab\r\nрецепт: 4 байт, SHA-256 cd\r\n"}.str()},
        {Message(MessageId::recipeNotToml, MessageDetail::name("r:2"), MessageDetail::name("x")),
         "recipe_not_toml", error(Cp1251Text{u8"рецепт r:2 не прочитан как TOML: x"})},
        {Message(MessageId::recipeUnknownKey, MessageDetail::name("r:2"), MessageDetail::name("k")),
         "recipe_unknown_key", error(Cp1251Text{u8"рецепт r:2: неизвестный ключ k"})},
        {Message(MessageId::recipeBadValue, MessageDetail::name("r:2"), MessageDetail::name("k")),
         "recipe_bad_value", error(Cp1251Text{u8"рецепт r:2: неверное значение k"})},
        {Message(MessageId::recipeMissingKey, MessageDetail::name("r:2"), MessageDetail::name("k")),
         "recipe_missing_key", error(Cp1251Text{u8"рецепт r:2: нет ключа k"})},
        {Message(MessageId::recipeBadVersion, MessageDetail::name("r:1"), MessageDetail::name("2")),
         "recipe_bad_version", error(Cp1251Text{u8"рецепт r:1: версия 2 не поддерживается"})},
        {Message(MessageId::recipeBadStep, MessageDetail::name("r:3")), "recipe_bad_step",
         error(Cp1251Text{u8"рецепт r:3: шаг не принят"})},
        {MessageId::recipeAndCommands, "recipe_and_commands",
         error(Cp1251Text{u8"с --recipe команды не указываются: они в рецепте"})},
        {Message(MessageId::notInRecipe, MessageDetail::name("--sim")), "not_in_recipe",
         error(Cp1251Text{u8"не для рецепта: --sim"})},
        {Message(MessageId::imageAsPinned, name), "image_as_pinned",
         with(Cp1251Text{u8"Образ совпадает с рецептом: "}, kName)},
        {Message(MessageId::recipeChecked, name), "recipe_checked",
         with(Cp1251Text{u8"Рецепт проверен: "}, kName)},
        {Message(MessageId::recipeWritten, name), "recipe_written",
         with(Cp1251Text{u8"Рецепт записан: "}, kName)},
        {Message(MessageId::journalLinesSkipped, name, MessageDetail::bytes(2)),
         "journal_lines_skipped",
         Cp1251Text{u8"В журнале "}.str() + kName +
             Cp1251Text{u8" пропущено строк (оборванных или нечитаемых): 2\r\n"}.str()},
        {Message(MessageId::phoneLogInFile, name), "phone_log_in_file",
         with(Cp1251Text{u8"Журнал телефона записан в файл "}, kName)},
        {Message(MessageId::servedElsewhere, MessageDetail::name("1-1.3")), "served_elsewhere",
         Cp1251Text{u8"Телефон в месте "}.str() + "1-1.3" +
             Cp1251Text{u8" обслуживает другая программа Norvale"}.str() + "\r\n"},
    };
}

// The dialog's log bytes are the program's since long before the catalogue; the phone's bytes
// and names are shown as they are, even where they look like a pattern or end a line.
TEST(MessageCatalogue, TheDialogShowsEveryMessageAsTheLogAlwaysHas) {
    std::set<MessageId> covered;
    for (const Sample& sample : samples()) {
        SCOPED_TRACE(sample.name);
        EXPECT_EQ(messageName(sample.message.id), sample.name);
        std::string shown;
        for (const std::string& line : dialogLogLines(sample.message)) shown += line;
        EXPECT_EQ(shown, sample.dialogBytes);
        covered.insert(sample.message.id);
    }
    EXPECT_EQ(covered.size(), kMessageCount) << "every message has a sample";
}

// The removal's empty line is a line of its own, as the dialog has always appended it.
TEST(MessageCatalogue, TheDialogGetsTheRemovalAsTwoLines) {
    EXPECT_EQ(dialogLogLines(MessageId::phoneDisconnected),
              (std::vector<std::string>{text::kPhoneDisconnected.str(), "\r\n"}));
}

TEST(ExitCode, FollowsTheMessageThatEndedTheRun) {
    const std::vector<std::pair<MessageId, ExitCode>> codes{
        {MessageId::noAnswer, ExitCode::transferFailed},
        {MessageId::readInterrupted, ExitCode::transferFailed},
        {MessageId::readTooLong, ExitCode::transferFailed},
        {MessageId::writeNotConfirmed, ExitCode::transferFailed},
        {MessageId::phoneNotConnected, ExitCode::noPhone},
        {MessageId::noSuchPhone, ExitCode::noPhone},
        {MessageId::noUsbPermission, ExitCode::noPhone},
        {MessageId::phoneInUse, ExitCode::noPhone},
        {MessageId::stoppedByOperator, ExitCode::interrupted},
        {MessageId::readStoppedByOperator, ExitCode::interrupted},
        {MessageId::writeInterrupted, ExitCode::interrupted},
        {MessageId::verifyMismatch, ExitCode::verifyDifference},
        {MessageId::fileExists, ExitCode::fileProblem},
        {MessageId::cannotWriteFile, ExitCode::fileProblem},
        {MessageId::cannotRenameFile, ExitCode::fileProblem},
        {MessageId::cannotOpenFolder, ExitCode::fileProblem},
        {MessageId::badAddressRange, ExitCode::usage},
        {MessageId::unknownCommand, ExitCode::usage},
        {MessageId::backupNeedsOneWrite, ExitCode::usage},
        {MessageId::jsonInOneCommand, ExitCode::usage},
        {MessageId::badChecksumLine, ExitCode::fileProblem},
        {MessageId::notInChecksums, ExitCode::fileProblem},
        {MessageId::checksumMismatch, ExitCode::fileProblem},
        {MessageId::wrongRegionSize, ExitCode::fileProblem},
        {MessageId::notInStation, ExitCode::usage},
        {MessageId::journalNotWritten, ExitCode::fileProblem},
        {MessageId::imageNotPinned, ExitCode::fileProblem},
        {MessageId::recipeUnknownKey, ExitCode::fileProblem},
        {MessageId::recipeAndCommands, ExitCode::usage},
    };
    for (const auto& [id, code] : codes) {
        SCOPED_TRACE(messageName(id));
        EXPECT_EQ(exitCodeFor(id), code);
    }
}

}  // namespace
}  // namespace norvale
