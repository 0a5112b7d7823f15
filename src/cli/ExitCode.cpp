// Error reasons to exit codes.
#include "cli/ExitCode.h"

#include <array>

#include "core/OperatorTexts.h"

namespace norvale {
namespace {

struct ReasonCode {
    std::string_view reason;
    ExitCode code;
};

const std::array kCodes{
    ReasonCode{text::kPhoneNotConnected, ExitCode::noPhone},
    ReasonCode{text::kNoSuchPhone, ExitCode::noPhone},
    ReasonCode{text::kStoppedByOperator, ExitCode::interrupted},
    ReasonCode{text::kReadStoppedByOperator, ExitCode::interrupted},
    ReasonCode{text::kVerifyMismatch, ExitCode::verifyDifference},
    ReasonCode{text::kBadAddressRange, ExitCode::usage},
    ReasonCode{text::kUnknownCommand, ExitCode::usage},
    ReasonCode{text::kUnknownOption, ExitCode::usage},
    ReasonCode{text::kMissingArgument, ExitCode::usage},
    ReasonCode{text::kBadOptionValue, ExitCode::usage},
    ReasonCode{text::kBadRangeArgument, ExitCode::usage},
    ReasonCode{text::kBackupNeedsOneWrite, ExitCode::usage},
    ReasonCode{text::kOnlyInStation, ExitCode::usage},
    ReasonCode{text::kJournalNotWritten, ExitCode::fileProblem},
    ReasonCode{text::kNotInStation, ExitCode::usage},
    ReasonCode{text::kOutsidePhoneFolder, ExitCode::usage},
    ReasonCode{text::kCannotReadFile, ExitCode::fileProblem},
    ReasonCode{text::kFileInUse, ExitCode::fileProblem},
    ReasonCode{text::kFileTooLarge, ExitCode::fileProblem},
    ReasonCode{text::kImageTooShort, ExitCode::fileProblem},
    ReasonCode{text::kCannotCreateFile, ExitCode::fileProblem},
    ReasonCode{text::kFileExists, ExitCode::fileProblem},
    ReasonCode{text::kCannotWriteFile, ExitCode::fileProblem},
    ReasonCode{text::kInvalidFileName, ExitCode::fileProblem},
    ReasonCode{text::kCannotRenameFile, ExitCode::fileProblem},
    ReasonCode{text::kFileNamedTwice, ExitCode::fileProblem},
    ReasonCode{text::kCannotCreateFolder, ExitCode::fileProblem},
    ReasonCode{text::kCannotOpenFolder, ExitCode::fileProblem},
};

}  // namespace

ExitCode exitCodeFor(std::string_view reason) {
    for (const ReasonCode& entry : kCodes) {
        if (entry.reason == reason) return entry.code;
    }
    // The rest is the phone's: no answer, no data, too much data, a block not confirmed.
    return ExitCode::transferFailed;
}

}  // namespace norvale
