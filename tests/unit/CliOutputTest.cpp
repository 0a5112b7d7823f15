// How norvale-cli shows what the log says: lines in the operator's language, progress figures.
#include <gtest/gtest.h>

#include <string>

#include "cli/LineTranslation.h"
#include "cli/ProgressLine.h"
#include "core/OperatorTexts.h"

namespace norvale {
namespace {

std::string u8string(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// A file name as Linux gives it: UTF-8 from the command line.
const NativeToUtf8 kUtf8Names = [](std::string_view name) { return std::string(name); };

TEST(LineTranslation, KnownTextsAreTranslatedAndTheirDetailsKeepTheirOwnEncoding) {
    const std::string cyrillicName = u8string(u8"прошивка.bin");
    const std::string missing = text::errorLine(text::kCannotReadFile, cyrillicName);
    EXPECT_EQ(translateLine(missing, Language::english, kUtf8Names),
              "ERROR - could not read the file " + cyrillicName);
    EXPECT_EQ(translateLine(missing, Language::russian, kUtf8Names),
              u8string(u8"ОШИБКА - не удалось прочитать файл ") + cyrillicName);

    // The mode comes from the phone: its bytes are shown as the dialog shows them, Windows-1251.
    const std::string mode = std::string(text::kMode) + "\xC1\xCB\xC0\xCD\xCA " + "\r\n";
    EXPECT_EQ(translateLine(mode, Language::english, kUtf8Names), u8string(u8"Mode: БЛАНК "));

    // The longer of two texts that share a beginning wins.
    EXPECT_EQ(translateLine(text::errorLine(text::kReadStoppedByOperator, "16384"),
                            Language::english, kUtf8Names),
              "ERROR - stopped by the operator, bytes saved: 16384");
    EXPECT_EQ(
        translateLine(text::errorLine(text::kStoppedByOperator), Language::english, kUtf8Names),
        "ERROR - stopped by the operator");
    // A whole-line text with something after it is no longer that text: the phone's, as it is.
    EXPECT_EQ(translateLine("\xD3\xF1\xEF\xE5\xF8\xED\xEEX\r\n", Language::english, kUtf8Names),
              u8string(u8"УспешноX"));
    EXPECT_EQ(translateLine(text::kSuccess, Language::english, kUtf8Names), "Success");
    EXPECT_EQ(translateLine("JMP01\r\n", Language::russian, kUtf8Names), "JMP01");
}

TEST(LineTranslation, APartFilesDetailIsTranslatedAroundItsNames) {
    const std::string saved = std::string(text::kSavedInFile);
    EXPECT_EQ(
        translateLine(text::errorLine(text::kReadStoppedByOperator, "8192" + saved + "d.part"),
                      Language::english, kUtf8Names),
        "ERROR - stopped by the operator, bytes saved: 8192 in the file d.part");
    EXPECT_EQ(translateLine(text::errorLine(text::kReadInterrupted, "0" + saved + "d.part"),
                            Language::russian, kUtf8Names),
              u8string(u8"ОШИБКА - чтение прервано, сохранено байт: 0 в файле d.part"));

    // A name that holds the joining words itself is split only where the shape fits.
    const std::string name = u8string(u8"в файле.bin");
    const std::string kept = name + std::string(text::kDumpKeptIn) + name + ".part";
    EXPECT_EQ(
        translateLine(text::errorLine(text::kFileExists, kept), Language::english, kUtf8Names),
        "ERROR - the file already exists: " + name + ", the dump is kept in the file " + name +
            ".part");
    EXPECT_EQ(
        translateLine(text::errorLine(text::kFileExists, name), Language::english, kUtf8Names),
        "ERROR - the file already exists: " + name);
    const std::string renamed = "a.part" + std::string(text::kRenamedTo) + "a";
    EXPECT_EQ(translateLine(text::errorLine(text::kCannotRenameFile, renamed), Language::english,
                            kUtf8Names),
              "ERROR - could not rename the file a.part to a");
    EXPECT_EQ(translateLine(text::errorLine(text::kCannotRenameFile, renamed), Language::russian,
                            kUtf8Names),
              u8string(u8"ОШИБКА - не удалось переименовать файл a.part в a"));
}

TEST(LineTranslation, Windows1251UpperHalfBecomesItsUnicodeCharacters) {
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
