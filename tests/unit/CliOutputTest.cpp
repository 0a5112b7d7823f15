// How norvale-cli shows messages: lines in the operator's language, progress figures.
#include <gtest/gtest.h>

#include <string>

#include "station/ConsoleText.h"
#include "cli/ProgressLine.h"
#include "core/Cp1251.h"

namespace norvale {
namespace {

std::string u8string(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// A file name as Linux gives it: UTF-8 from the command line.
const NativeToUtf8 kUtf8Names = [](std::string_view name) { return std::string(name); };

std::string english(const Message& message) {
    return consoleText(message, Language::english, kUtf8Names);
}
std::string russian(const Message& message) {
    return consoleText(message, Language::russian, kUtf8Names);
}

TEST(ConsoleText, MessagesAreInTheLanguageAskedAndTheirDetailsKeepTheirOwnEncoding) {
    const std::string cyrillicName = u8string(u8"прошивка.bin");
    const Message missing(MessageId::cannotReadFile, MessageDetail::name(cyrillicName));
    EXPECT_EQ(english(missing), "ERROR - could not read the file " + cyrillicName);
    EXPECT_EQ(russian(missing), u8string(u8"ОШИБКА - не удалось прочитать файл ") + cyrillicName);

    // The mode comes from the phone: its bytes are shown as the dialog shows them, Windows-1251.
    EXPECT_EQ(
        english(Message(MessageId::phoneMode, MessageDetail::phoneBytes("\xC1\xCB\xC0\xCD\xCA "))),
        u8string(u8"Mode: БЛАНК "));
    // A name goes through the system's conversion, never through Windows-1251.
    const NativeToUtf8 marked = [](std::string_view name) { return "<" + std::string(name) + ">"; };
    EXPECT_EQ(consoleText(Message(MessageId::readingBlock, MessageDetail::name("\xC0.bin")),
                          Language::english, marked),
              "Reading data block <\xC0.bin>");

    EXPECT_EQ(english(Message(MessageId::readStoppedByOperator, MessageDetail::bytes(16384))),
              "ERROR - stopped by the operator, bytes saved: 16384");
    EXPECT_EQ(english(MessageId::stoppedByOperator), "ERROR - stopped by the operator");
    EXPECT_EQ(english(MessageId::success), "Success");
    EXPECT_EQ(russian(MessageId::success), u8string(u8"Успешно"));
    EXPECT_EQ(russian(Message(MessageId::loaderReply, MessageDetail::phoneBytes("JMP01"))),
              "JMP01");
    EXPECT_EQ(english(Message(MessageId::verifyMismatch, MessageDetail::flashAddress(0x1001A0C0))),
              "ERROR - the written data differ from the image at address 1001A0C0");
    // The removal is set off from what follows by an empty line.
    EXPECT_EQ(english(MessageId::phoneDisconnected), "Phone disconnected\n");
}

TEST(ConsoleText, APartFileIsNamedOnlyWhereOneHoldsTheBytes) {
    const MessageDetail part = MessageDetail::name("d.part");
    EXPECT_EQ(english(Message(MessageId::readStoppedByOperator, MessageDetail::bytes(8192), part)),
              "ERROR - stopped by the operator, bytes saved: 8192 in the file d.part");
    EXPECT_EQ(russian(Message(MessageId::readInterrupted, MessageDetail::bytes(0), part)),
              u8string(u8"ОШИБКА - чтение прервано, сохранено байт: 0 в файле d.part"));

    // A name that holds the joining words itself is a name all the same.
    const std::string name = u8string(u8"в файле.bin");
    EXPECT_EQ(english(Message(MessageId::fileExists, MessageDetail::name(name),
                              MessageDetail::name(name + ".part"))),
              "ERROR - the file already exists: " + name + ", the dump is kept in the file " +
                  name + ".part");
    EXPECT_EQ(english(Message(MessageId::fileExists, MessageDetail::name(name))),
              "ERROR - the file already exists: " + name);
    const Message renamed(MessageId::cannotRenameFile, MessageDetail::name("a.part"),
                          MessageDetail::name("a"));
    EXPECT_EQ(english(renamed), "ERROR - could not rename the file a.part to a");
    EXPECT_EQ(russian(renamed), u8string(u8"ОШИБКА - не удалось переименовать файл a.part в a"));
}

TEST(ConsoleText, Windows1251UpperHalfBecomesItsUnicodeCharacters) {
    EXPECT_EQ(utf8FromCp1251("\xA8\xB8\xB9\x88\x96\xC0\xFF\x98"), u8string(u8"Ёё№€–Ая\uFFFD"));
}

TEST(ProgressLine, FiguresFollowTheTransferAndTheBarFitsTheTerminal) {
    // 24 KiB of 64 KiB in 2 s: 12 KiB/s, 40 KiB to go; 80 columns leave the bar 25.
    EXPECT_EQ(formatProgress(24 * 1024, 64 * 1024, 2000, 80),
              "[#########................]  24.0 KiB of 64.0 KiB  12.0 KiB/s  0:03 left");
    EXPECT_EQ(formatProgress(0, 0x12C0000, 50, 120),
              "[" + std::string(40, '.') + "]  0 B of 18.8 MiB  --/s  --:-- left");
    // Too narrow for a bar: the figures alone, cut to the line.
    EXPECT_EQ(formatProgress(512, 1024, 10, 30), "  512 B of 1.0 KiB  --/s  --:");
}

}  // namespace
}  // namespace norvale
