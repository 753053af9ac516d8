#include <gtest/gtest.h>
#include <string.h>

#include "util/str.h"

TEST(StrCopy, CutsToCapacityAndTerminates) {
    char buf[5];
    memset(buf, 'x', sizeof buf);
    str_copy(buf, sizeof buf, "abcdefgh");
    EXPECT_STREQ(buf, "abcd");
    str_copy(buf, sizeof buf, nullptr);
    EXPECT_STREQ(buf, "");
    str_copy(buf, 1, "abc");
    EXPECT_STREQ(buf, "");
    str_copy(nullptr, 4, "abc"); // does nothing
}

TEST(StrTrim, TrimsAsciiWhiteSpaceOnly) {
    struct {
        const char *in, *out;
    } cases[] = {
        {"", ""},       {" \t\n\v\f\r", ""},        {"  a b  ", "a b"}, {"\ta", "a"},
        {"a\r\n", "a"}, {"\xa0x\xa0", "\xa0x\xa0"}, // bytes from 128 up are never white space
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        char buf[32];
        strcpy(buf, c.in);
        str_trim(buf);
        EXPECT_STREQ(buf, c.out);
    }
}

TEST(StrAppend, BoundedAppendCutsMidWordAndThenDropsEverything) {
    char buf[8] = "ab";
    str_append(buf, sizeof buf, "cdefghij");
    EXPECT_STREQ(buf, "abcdefg");
    str_append(buf, sizeof buf, "z");
    EXPECT_STREQ(buf, "abcdefg");
}
