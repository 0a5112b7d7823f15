// What every file binding promises of a file opened for appending (a station's journal).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/FileSystem.h"
#include "protocol/CommandFormats.h"

namespace norvale::testing {

// On `files`, with nothing named `name` yet: openForAppending() makes the file, and opened again
// it keeps what it held; readAt() reads anywhere in it and not past its end; an append goes to
// the end without moving where readExact() goes on. `opened` is left open on the file, which
// then holds "ab\ncd". The caller checks HasFatalFailure() after it.
inline void expectAppendingKeepsAndLeavesReadingWhereItWas(FileSystem& files,
                                                           const std::string& name,
                                                           OpenedFile& opened) {
    {
        OpenedFile made = files.openForAppending(name);
        ASSERT_TRUE(made.file);
        ASSERT_TRUE(made.file->append(Bytes{'a', 'b', '\n'}));
        ASSERT_TRUE(made.file->flush());
    }
    opened = files.openForAppending(name);
    ASSERT_TRUE(opened.file);
    EXPECT_EQ(opened.file->size(), 3u);
    Bytes last(1);
    ASSERT_TRUE(opened.file->readAt(2, last));
    EXPECT_EQ(last, Bytes{'\n'});
    EXPECT_FALSE(opened.file->readAt(3, last)) << "past the end";
    ASSERT_TRUE(opened.file->append(Bytes{'c', 'd'}));
    ASSERT_TRUE(opened.file->flush());
    Bytes first(2);
    ASSERT_TRUE(opened.file->readExact(first));
    EXPECT_EQ(first, (Bytes{'a', 'b'}));
}

}  // namespace norvale::testing
