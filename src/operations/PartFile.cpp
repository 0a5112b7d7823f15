// The error lines of a file written under its ".part" name.
#include "operations/PartFile.h"

#include "core/OperatorTexts.h"

namespace norvale {

std::string_view createFailureReason(FileError error) {
    switch (error) {
        case FileError::alreadyExists: return text::kFileExists;
        case FileError::invalidName: return text::kInvalidFileName;
        case FileError::sharingViolation: return text::kFileInUse;
        case FileError::none:
        case FileError::notFound:
        case FileError::accessDenied:
        case FileError::diskFull:
        case FileError::other: break;
    }
    return text::kCannotCreateFile;
}

FileFailure renameFailure(FileError error, const std::string& partName, const std::string& name) {
    FileFailure failure;
    if (error == FileError::alreadyExists) {
        failure.reason = text::kFileExists;
        failure.detail = name;
        failure.detail += text::kDumpKeptIn.view();
        failure.detail += partName;
    } else {
        failure.reason = text::kCannotRenameFile;
        failure.detail = partName;
        failure.detail += text::kRenamedTo.view();
        failure.detail += name;
    }
    return failure;
}

}  // namespace norvale
