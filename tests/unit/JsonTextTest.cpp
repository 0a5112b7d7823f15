// Text as the command line's JSON documents quote it.
#include <gtest/gtest.h>

#include "station/JsonText.h"

namespace norvale {
namespace {

TEST(JsonText, EscapesWhatJsonForbidsAndReplacesBytesThatAreNoUtf8) {
    EXPECT_EQ(jsonString("plain 0C60"), "\"plain 0C60\"");
    EXPECT_EQ(jsonString("\"\\\n\r\t\x01\x1f\x7f"), R"("\"\\\n\r\t\u0001\u001f\u007f")");
    EXPECT_EQ(jsonString(std::string("a\0b", 3)), R"("a\u0000b")");
    // A Cyrillic letter and a 4-byte sequence pass as they are.
    EXPECT_EQ(jsonString("\xD0\x99 \xF0\x9F\x98\x80"), "\"\xD0\x99 \xF0\x9F\x98\x80\"");
    // A lone continuation byte, a cut sequence, an overlong form, a surrogate: U+FFFD each byte.
    EXPECT_EQ(jsonString("\x80"), "\"\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xD0"), "\"\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

}  // namespace
}  // namespace norvale
