// One table keyed by the operator texts: the English for each and what kind of detail follows it.
#include "cli/LineTranslation.h"

#include <algorithm>
#include <array>

#include "core/OperatorTexts.h"

namespace norvale {
namespace {

enum class Detail {
    none,        // the text is the whole line
    file,        // a file or folder name, an id, an argument: in the system's narrow encoding
    phone,       // bytes from the phone or a file, shown as Windows-1251
    savedBytes,  // a byte count, and then " в файле " and the file that holds them, if said
    keptIn,   // NAME, and then ", дамп сохранён в файле " and NAME.part, if said
    renamed,  // NAME.part, " в ", NAME
};

struct KnownText {
    std::string_view russian;  // Windows-1251, as the log gets it
    std::string_view english;
    Detail detail;
};

// The texts that begin a line.
const std::array kLineTexts{
    KnownText{text::kPhoneConnected, "Phone connected", Detail::none},
    KnownText{text::kPhoneDisconnected, "Phone disconnected", Detail::none},
    KnownText{text::kBootVersion, "Boot version: ", Detail::phone},
    KnownText{text::kMode, "Mode: ", Detail::phone},
    KnownText{text::kCg1Start, "CG1 start - ", Detail::phone},
    KnownText{text::kSendingLoader, "Sending the loader", Detail::none},
    KnownText{text::kWritingData, "Writing data to the phone", Detail::none},
    KnownText{text::kReadingBlock, "Reading data block ", Detail::file},
    KnownText{text::kStartingPhone, "Starting the phone", Detail::none},
    KnownText{text::kSettingBlank, "Setting BLANK mode", Detail::none},
    KnownText{text::kSuccess, "Success", Detail::none},
    KnownText{text::kVerifyingData, "Verifying the written data", Detail::none},
    KnownText{text::kChecksumsWritten, "Checksums written to ", Detail::file},
};

// The reasons that follow "ОШИБКА - ".
const std::array kReasons{
    KnownText{text::kPhoneNotConnected, "Phone not connected", Detail::none},
    KnownText{text::kNoAnswerFromPhone, "no connection with the phone", Detail::none},
    KnownText{text::kCannotReadFile, "could not read the file ", Detail::file},
    KnownText{text::kFileInUse, "the file is in use by another program: ", Detail::file},
    KnownText{text::kFileTooLarge, "the file is too large: ", Detail::file},
    KnownText{text::kImageTooShort,
              "the image file is shorter than the region to be written: ", Detail::file},
    KnownText{text::kBadAddressRange, "invalid address range", Detail::none},
    KnownText{text::kCannotCreateFile, "could not create the file ", Detail::file},
    KnownText{text::kFileExists, "the file already exists: ", Detail::keptIn},
    KnownText{text::kReadInterrupted, "reading interrupted, bytes saved: ", Detail::savedBytes},
    KnownText{text::kReadTooLong,
              "the phone sent more than was asked for, bytes saved: ", Detail::savedBytes},
    KnownText{text::kCannotWriteFile,
              "could not write to the file, bytes saved: ", Detail::savedBytes},
    KnownText{text::kInvalidFileName, "invalid file name: ", Detail::file},
    KnownText{text::kCannotRenameFile, "could not rename the file ", Detail::renamed},
    KnownText{text::kWriteNotConfirmed, "the phone did not confirm writing the block ",
              Detail::file},
    KnownText{text::kStoppedByOperator, "stopped by the operator", Detail::none},
    KnownText{text::kReadStoppedByOperator,
              "stopped by the operator, bytes saved: ", Detail::savedBytes},
    KnownText{text::kVerifyMismatch, "the written data differ from the image at address ",
              Detail::file},
    KnownText{text::kUnknownCommand, "unknown command: ", Detail::file},
    KnownText{text::kUnknownOption, "unknown option: ", Detail::file},
    KnownText{text::kMissingArgument, "missing argument: ", Detail::file},
    KnownText{text::kBadOptionValue, "invalid option value: ", Detail::file},
    KnownText{text::kBadRangeArgument, "invalid address range: ", Detail::file},
    KnownText{text::kBackupNeedsOneWrite,
              "--backup before the commands needs exactly one write command", Detail::none},
    KnownText{text::kFileNamedTwice, "the file is named twice: ", Detail::file},
    KnownText{text::kNoSuchPhone, "no phone with the id ", Detail::file},
    KnownText{text::kCannotCreateFolder, "could not create the folder ", Detail::file},
    KnownText{text::kCannotOpenFolder, "could not open the folder ", Detail::file},
    KnownText{text::kJournalNotWritten, "could not write the journal's line to the file ",
              Detail::file},
    KnownText{text::kOnlyInStation, "only with --station: ", Detail::file},
    KnownText{text::kNotInStation, "not in a station: ", Detail::file},
    KnownText{text::kOutsidePhoneFolder,
              "a station writes files only into the phone's folder, the name must be relative: ",
              Detail::file},
};

std::string_view withoutLineEnd(std::string_view text) {
    if (text.size() >= 2 && text.substr(text.size() - 2) == text::kLineEnd) {
        text.remove_suffix(2);
    }
    return text;
}

// The longest known text that `line` begins with (and, for a text with no detail, is), or null.
template <std::size_t N>
const KnownText* knownAt(std::string_view line, const std::array<KnownText, N>& table) {
    const KnownText* best = nullptr;
    std::size_t bestLength = 0;
    for (const KnownText& known : table) {
        const std::string_view russian = withoutLineEnd(known.russian);
        const bool matches = known.detail == Detail::none
                                 ? line == russian
                                 : line.substr(0, russian.size()) == russian;
        if (matches && russian.size() >= bestLength) {
            best = &known;
            bestLength = russian.size();
        }
    }
    return best;
}

// The words that join the parts of a detail.
struct Joint {
    std::string_view russian;
    std::string_view english;
};
constexpr Joint kSavedIn{text::kSavedInFile, " in the file "};
constexpr Joint kKeptIn{text::kDumpKeptIn, ", the dump is kept in the file "};
constexpr Joint kRenamedTo{text::kRenamedTo, " to "};

std::string joined(std::string_view before, const Joint& joint, std::string_view after,
                   Language language, const NativeToUtf8& native) {
    return native(before) +
           (language == Language::english ? std::string(joint.english)
                                          : utf8FromCp1251(joint.russian)) +
           native(after);
}

// A detail of two names around a joint, where the names are one name, with and without
// ".part" (`partFirst` says which comes first): split only where it has that shape, as a file
// name may hold the joint's words itself.
std::string twoNames(std::string_view rest, const Joint& joint, bool partFirst, Language language,
                     const NativeToUtf8& native) {
    constexpr std::string_view kPart = ".part";
    const std::size_t fixed = joint.russian.size() + kPart.size();
    if (rest.size() < fixed || (rest.size() - fixed) % 2 != 0) return native(rest);
    const std::size_t nameLength = (rest.size() - fixed) / 2;
    const std::size_t before = nameLength + (partFirst ? kPart.size() : 0);
    const std::string_view first = rest.substr(0, before);
    const std::string_view second = rest.substr(before + joint.russian.size());
    const std::string_view name = rest.substr(0, nameLength);
    const std::string_view part = partFirst ? first : second;
    const std::string_view plain = partFirst ? second : first;
    if (rest.substr(before, joint.russian.size()) != joint.russian || plain != name ||
        part.substr(0, nameLength) != name || part.substr(nameLength) != kPart) {
        return native(rest);
    }
    return joined(first, joint, second, language, native);
}

std::string detailOf(Detail detail, std::string_view rest, Language language,
                     const NativeToUtf8& native) {
    switch (detail) {
        case Detail::none:
        case Detail::file: return native(rest);
        case Detail::phone: return utf8FromCp1251(rest);
        case Detail::savedBytes: {
            const std::size_t digits = std::min(rest.find_first_not_of("0123456789"), rest.size());
            const std::string_view after = rest.substr(digits);
            if (after.substr(0, kSavedIn.russian.size()) != kSavedIn.russian) {
                return native(rest);
            }
            return joined(rest.substr(0, digits), kSavedIn, after.substr(kSavedIn.russian.size()),
                          language, native);
        }
        case Detail::keptIn:
            // The name alone is the usual case: no joint, nothing to split.
            if (rest.find(kKeptIn.russian) == std::string_view::npos) return native(rest);
            return twoNames(rest, kKeptIn, false, language, native);
        case Detail::renamed: return twoNames(rest, kRenamedTo, true, language, native);
    }
    return native(rest);
}

std::string render(const KnownText& known, std::string_view rest, Language language,
                   const NativeToUtf8& native) {
    std::string out = language == Language::english ? std::string(known.english)
                                                    : utf8FromCp1251(withoutLineEnd(known.russian));
    return out + detailOf(known.detail, rest, language, native);
}

}  // namespace

std::string translateLine(std::string_view line, Language language, const NativeToUtf8& native) {
    line = withoutLineEnd(line);
    const std::string_view prefix = text::kErrorPrefix;
    if (line.substr(0, prefix.size()) == prefix) {
        const std::string_view rest = line.substr(prefix.size());
        std::string out = language == Language::english ? "ERROR - " : utf8FromCp1251(prefix);
        if (const KnownText* reason = knownAt(rest, kReasons)) {
            return out + render(*reason, rest.substr(withoutLineEnd(reason->russian).size()),
                                language, native);
        }
        return out + utf8FromCp1251(rest);
    }
    if (const KnownText* known = knownAt(line, kLineTexts)) {
        return render(*known, line.substr(withoutLineEnd(known->russian).size()), language, native);
    }
    return utf8FromCp1251(line);
}

std::string utf8FromCp1251(std::string_view text) {
    // The upper half's code points below 0x0410; the letters А to я (0xC0 to 0xFF) follow on.
    static constexpr std::array<char16_t, 64> kUpperHalf{
        0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
        0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
        0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
        0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
        0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    };
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
            continue;
        }
        const unsigned code = byte >= 0xC0 ? 0x0410 + (byte - 0xC0) : kUpperHalf[byte - 0x80];
        if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        }
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

}  // namespace norvale
