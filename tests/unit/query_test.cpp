#include <gtest/gtest.h>
#include <string>

#include "entry/entry.h"
#include "util/query.h"

namespace {

struct query_case {
    const char *query;
    const char *name;
    size_t cap;
    int found;
    std::string value;
};

} // namespace

TEST(GetQueryVal, LookupAndDecoding) {
    const std::string ten_escapes = "e=%41%41%41%41%41%41%41%41%41%41";
    const std::string long_expr = "expr=" + std::string(300, 'x');
    const query_case cases[] = {
        {nullptr, "a", 16, 0, ""},
        {"", "a", 16, 0, ""},
        {"a=1&&action=x", "action", 64, 1, "x"},
        {"a=1&", "a", 64, 1, "1"},
        {"a=1&", "b", 64, 0, ""},
        {"action=&expr=1", "action", 64, 1, ""},
        {"action=&expr=1", "expr", 64, 1, "1"},
        {"action=one&action=two", "action", 64, 1, "one"},
        {"xaction=explain&expr=1", "action", 64, 0, ""},
        {"actions=1", "action", 64, 0, ""},
        {"action&x=1", "action", 64, 0, ""},
        {"Action=1", "action", 64, 0, ""},
        {"expr=a=b", "expr", 64, 1, "a=b"},
        {"expr=*%2F15+9-17+*+*+1-5", "expr", 256, 1, "*/15 9-17 * * 1-5"},
        {"v=100%", "v", 64, 1, "100%"},
        {"v=%zz", "v", 64, 1, "%zz"},
        {"v=%4", "v", 64, 1, "%4"},
        {"v=%2541", "v", 64, 1, "%41"},
        {"v=%2B", "v", 64, 1, "+"},
        {"v=%4a%4A", "v", 64, 1, "JJ"},
        {"v=ab%00cd", "v", 64, 1, "ab"},
        {ten_escapes.c_str(), "e", 16, 2, "AAAAA"}, // 2: the raw value was cut
        {"e=%41%41%41%41%4", "e", 16, 1, "AAAA%4"},
        {"e=AAAAAAAAAAAAAA%41", "e", 16, 2, "AAAAAAAAAAAAAA%"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.query ? c.query : "(null)") + " / " + c.name);
        char out[256];
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(get_query_val(c.query, c.name, out, c.cap), c.found);
        EXPECT_EQ(std::string(out), c.value);
    }
    char out[256];
    EXPECT_EQ(get_query_val(long_expr.c_str(), "expr", out, sizeof out), 2);
    EXPECT_EQ(std::string(out), std::string(255, 'x'));
}

// The whole raw value is decoded; only what does not fit after decoding is
// cut, on a character boundary, and the return value says so.
TEST(GetQueryText, DecodesBeforeAnyCut) {
    std::string commas;
    for (int i = 0; i < 100; i++) commas += "%2C"; // 300 raw bytes, 100 decoded
    const std::string comma_query = "e=" + commas;
    const query_case cases[] = {
        {"", "e", 8, 0, ""},
        {comma_query.c_str(), "e", 256, 1, std::string(100, ',')},
        {"e=abc%00def", "e", 8, 1, "abc"},
        {"e=abcdefg", "e", 8, 1, "abcdefg"},
        {"e=abcdefgh", "e", 8, 2, "abcdefg"},
        {"e=abcde%C3%A9", "e", 8, 1, "abcde\xc3\xa9"},
        {"e=abcdef%C3%A9", "e", 8, 2, "abcdef"},                   // no half character
        {"e=abc%E2%82%AC%E2%82%AC", "e", 8, 2, "abc\xe2\x82\xac"}, // one whole euro sign
        {"e=abcdef%E9x", "e", 8, 2, "abcdef"},                     // a lone Latin-1 byte at the cut
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.query);
        char out[256];
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(get_query_text(c.query, c.name, out, c.cap), c.found);
        EXPECT_EQ(std::string(out), c.value);
    }
}

TEST(PasswordEqual, ExactBytesOnly) {
    EXPECT_TRUE(password_equal("s3cret", "s3cret"));
    EXPECT_FALSE(password_equal("s3cret ", "s3cret"));
    EXPECT_FALSE(password_equal("s3cre", "s3cret"));
    EXPECT_FALSE(password_equal("S3cret", "s3cret"));
    EXPECT_FALSE(password_equal("", "s3cret"));
    EXPECT_FALSE(password_equal("s3cret", ""));
}
