// Whole-file loading with every failure told apart, and nothing allocated for a refused size.
#include "protocol/WholeFile.h"

#include <new>

namespace norvale {

LoadedFile loadWholeFile(FileSystem& files, const std::string& name) {
    OpenedFile opened = files.openForReading(name);
    if (!opened.file) {
        return {opened.error == FileError::sharingViolation ? LoadOutcome::inUse
                                                            : LoadOutcome::cannotOpen,
                {}};
    }
    const std::optional<std::uint64_t> size = opened.file->size();
    if (!size) return {LoadOutcome::cannotRead, {}};
    if (*size == 0) return {LoadOutcome::empty, {}};
    if ((*size >> 32) != 0) return {LoadOutcome::tooLarge, {}};
    LoadedFile loaded{LoadOutcome::loaded, {}};
    try {
        loaded.data.resize(static_cast<std::size_t>(*size));
    } catch (const std::bad_alloc&) {
        return {LoadOutcome::cannotRead, {}};
    } catch (const std::length_error&) {
        return {LoadOutcome::cannotRead, {}};
    }
    if (!opened.file->readExact(loaded.data)) return {LoadOutcome::cannotRead, {}};
    return loaded;
}

MessageId loadFailureReason(LoadOutcome outcome) {
    switch (outcome) {
        case LoadOutcome::inUse: return MessageId::fileInUse;
        case LoadOutcome::tooLarge: return MessageId::fileTooLarge;
        case LoadOutcome::loaded:
        case LoadOutcome::cannotOpen:
        case LoadOutcome::empty:
        case LoadOutcome::cannotRead: break;
    }
    return MessageId::cannotReadFile;
}

}  // namespace norvale
