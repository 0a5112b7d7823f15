// Error messages to exit codes.
#include "station/ExitCode.h"

namespace norvale {

ExitCode exitCodeFor(MessageId reason) {
    switch (reason) {
        case MessageId::phoneNotConnected:
        // Nothing reached the phone: to the run it is as if none were attached.
        case MessageId::noUsbPermission:
        case MessageId::phoneInUse:
        case MessageId::noSuchPhone: return ExitCode::noPhone;
        case MessageId::stoppedByOperator:
        case MessageId::readStoppedByOperator:
        // The operator's stop all the same; the error line and the journal's reason say the
        // flash needs the write again, and a station counts the phone as failed.
        case MessageId::writeInterrupted: return ExitCode::interrupted;
        case MessageId::verifyMismatch: return ExitCode::verifyDifference;
        case MessageId::badAddressRange:
        case MessageId::unknownCommand:
        case MessageId::unknownOption:
        case MessageId::missingArgument:
        case MessageId::badOptionValue:
        case MessageId::badRangeArgument:
        case MessageId::backupNeedsOneWrite:
        case MessageId::jsonInOneCommand:
        case MessageId::onlyInStation:
        case MessageId::notInStation:
        case MessageId::outsidePhoneFolder:
        case MessageId::recipeAndCommands:
        case MessageId::notInRecipe: return ExitCode::usage;
        case MessageId::cannotReadFile:
        case MessageId::fileInUse:
        case MessageId::fileTooLarge:
        case MessageId::imageTooShort:
        case MessageId::cannotCreateFile:
        case MessageId::fileExists:
        case MessageId::cannotWriteFile:
        case MessageId::invalidFileName:
        case MessageId::cannotRenameFile:
        case MessageId::fileNamedTwice:
        case MessageId::cannotCreateFolder:
        case MessageId::cannotOpenFolder:
        // A backup folder that can't be restored.
        case MessageId::badChecksumLine:
        case MessageId::notInChecksums:
        case MessageId::checksumMismatch:
        case MessageId::wrongRegionSize:
        case MessageId::journalNotWritten:
        // A recipe that can't be read, or an image that is not the one it pins.
        case MessageId::imageNotPinned:
        case MessageId::recipeNotToml:
        case MessageId::recipeUnknownKey:
        case MessageId::recipeBadValue:
        case MessageId::recipeMissingKey:
        case MessageId::recipeBadVersion:
        case MessageId::recipeBadStep: return ExitCode::fileProblem;
        // The phone's: no answer, no data, too much data, a block not confirmed.
        case MessageId::noAnswer:
        case MessageId::readInterrupted:
        case MessageId::readTooLong:
        case MessageId::writeNotConfirmed: return ExitCode::transferFailed;
        // Lines that are no error end no command.
        case MessageId::phoneConnected:
        case MessageId::phoneDisconnected:
        case MessageId::bootVersion:
        case MessageId::phoneMode:
        case MessageId::cg1Start:
        case MessageId::sendingLoader:
        case MessageId::loaderReply:
        case MessageId::writingData:
        case MessageId::readingBlock:
        case MessageId::startingPhone:
        case MessageId::settingBlank:
        case MessageId::success:
        case MessageId::verifyingData:
        case MessageId::checksumsWritten:
        case MessageId::comparingBlocks:
        case MessageId::blockDiffers:
        case MessageId::blockAlreadyEqual:
        case MessageId::savingPhoneTo:
        case MessageId::restoringFrom:
        case MessageId::usbBusUnread:
        case MessageId::waitingAtPorts:
        case MessageId::imageAsPinned:
        case MessageId::recipeChecked:
        case MessageId::recipeWritten:
        case MessageId::journalLinesSkipped:

        case MessageId::phoneLogInFile:
        case MessageId::servedElsewhere: break;
    }
    return ExitCode::transferFailed;
}

}  // namespace norvale
