// The station's journal: a file that gets one JSON line per phone run, whole or not at all.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/FileSystem.h"
#include "station/JournalRecord.h"

namespace norvale {

// Every session appends its phone's record when the phone ends; the lock orders them, and it is
// held only for the append and the flush of one line, never across a transfer. A line goes out
// in one append and is flushed to the disk before append() returns, so a crash or power cut can
// lose only the line of a phone still running. A line an earlier run left torn (the file does not
// end in "\n") is ended first, so it never swallows the next record.
class StationJournal {
public:
    StationJournal(FileSystem& files, std::string name);

    // Opens the file for appending, creating it when there is none; nothing in it changes.
    FileError open();
    // Appends the record's line and flushes it. A failure is the file system's: the line may be
    // missing or partly written, and the next append starts on a line of its own.
    FileError append(const JournalRecord& record);

    const std::string& name() const { return name_; }

private:
    FileSystem& files_;
    std::string name_;
    std::mutex mutex_;
    std::unique_ptr<File> file_;
};

}  // namespace norvale
