// The error lines of a file written under its ".part" name.
#include "operations/PartFile.h"

namespace norvale {

MessageId createFailureReason(FileError error) {
    switch (error) {
        case FileError::alreadyExists: return MessageId::fileExists;
        case FileError::invalidName: return MessageId::invalidFileName;
        case FileError::sharingViolation: return MessageId::fileInUse;
        case FileError::none:
        case FileError::notFound:
        case FileError::accessDenied:
        case FileError::diskFull:
        case FileError::other: break;
    }
    return MessageId::cannotCreateFile;
}

Message renameFailure(FileError error, const std::string& partName, const std::string& name) {
    if (error == FileError::alreadyExists) {
        return Message(MessageId::fileExists, MessageDetail::name(name),
                       MessageDetail::name(partName));
    }
    return Message(MessageId::cannotRenameFile, MessageDetail::name(partName),
                   MessageDetail::name(name));
}

}  // namespace norvale
