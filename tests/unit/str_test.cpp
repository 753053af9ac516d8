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

// Cuts fall on character boundaries and are reported; exact fits are not cuts.
TEST(StrCopy, CutsOnUtf8BoundariesAndSaysSo) {
    const struct {
        const char *src;
        size_t cap;
        const char *out;
        int cut;
    } cases[] = {
        {"abcd", 5, "abcd", 0},
        {"abcde", 5, "abcd", 1},
        {"abc\xc3\xa9", 6, "abc\xc3\xa9", 0},                   // fits exactly
        {"abc\xc3\xa9", 5, "abc", 1},                           // é would be split
        {"ab\xe2\x82\xac", 5, "ab", 1},                         // € would be split after 2 of 3
        {"a\xf0\x9f\x95\x92z", 5, "a", 1},                      // 4-byte character
        {"abc\xe9xyz", 5, "abc\xe9", 1},                        // a lone Latin-1 byte is kept
        {"abcd\xc3\xa9", 5, "abcd", 1},                         // cut right before the character
        {"\x80\x80\x80\x80\x80\x80", 5, "\x80\x80\x80\x80", 1}, // stray continuation bytes
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.src);
        char buf[16];
        EXPECT_EQ(str_copy(buf, c.cap, c.src), c.cut);
        EXPECT_STREQ(buf, c.out);
    }
    char small[4];
    EXPECT_EQ(str_set_span(small, "xyz!", 3), 0);
    EXPECT_STREQ(small, "xyz");
    EXPECT_EQ(str_set_span(small, "x\xc3\xa9!", 4), 1);
    EXPECT_STREQ(small, "x\xc3\xa9");
}

TEST(Utf8CharLen, WellFormedSequencesOnly) {
    const struct {
        const char *s;
        int len;
    } cases[] = {
        {"a", 1},
        {"\xc3\xa9", 2},
        {"\xe2\x82\xac", 3},
        {"\xf0\x9f\x95\x92", 4},
        {"\x80", 0},             // continuation byte
        {"\xc1\xbf", 0},         // overlong
        {"\xe0\x9f\xbf", 0},     // overlong
        {"\xed\xa0\x80", 0},     // surrogate
        {"\xf4\x90\x80\x80", 0}, // above U+10FFFF
        {"\xf5\x80\x80\x80", 0},
        {"\xe2\x82", 0}, // cut short
        {"\xc3x", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.s);
        EXPECT_EQ(utf8_char_len((const unsigned char *)c.s, strlen(c.s)), c.len);
    }
}
