#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <time.h>

#include "api/api.h"

namespace {

template <class F> std::string capture(F f) {
    fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string json(const std::string &s) {
    return capture([&] { json_str(s.c_str()); });
}

// Sets TZ for the scope of one test and restores UTC afterwards.
struct zone {
    explicit zone(const char *tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    ~zone() {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

} // namespace

TEST(JsonStr, EscapeTable) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"", "\"\""},
        {"plain / text \x7f", "\"plain / text \x7f\""},
        {"\t\n\r", "\"\\t\\n\\r\""},
        {"\"\\", "\"\\\"\\\\\""},
        {"\x01\x08\x0c\x1b\x1f", "\"\\u0001\\u0008\\u000c\\u001b\\u001f\""},
        // Well-formed UTF-8 passes; any other byte is read as Latin-1.
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x95\x92",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x95\x92\""},
        {"caf\xe9 \xff\xfe", "\"caf\\u00e9 \\u00ff\\u00fe\""},
        {"\xc3", "\"\\u00c3\""},                   // lead byte at the end
        {"\xe2\x82x", "\"\\u00e2\\u0082x\""},      // sequence cut short
        {"\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80", // overlong, surrogate, above U+10FFFF
         "\"\\u00c0\\u00af \\u00ed\\u00a0\\u0080 \\u00f4\\u0090\\u0080\\u0080\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(json(c.in), c.out);
    }
}

TEST(Stamps, UtcAndLocalInTwoZones) {
    const int64_t t = 1794458190; // 2026-11-12 04:36:30 UTC
    char buf[40];
    {
        zone z("UTC");
        utc_stamp(t, buf);
        EXPECT_STREQ(buf, "2026-11-12T04:36:30Z");
        local_stamp(t, buf);
        EXPECT_STREQ(buf, "2026-11-12 04:36");
    }
    {
        zone z("Asia/Kolkata");
        utc_stamp(t, buf);
        EXPECT_STREQ(buf, "2026-11-12T04:36:30Z");
        local_stamp(t, buf);
        EXPECT_STREQ(buf, "2026-11-12 10:06");
    }
}

// The stamps must be the bytes strftime writes, for every field width and
// for years that are not four digits long.
TEST(Stamps, SameBytesAsStrftime) {
    zone z("America/St_Johns");                         // half-hour offset with daylight saving
    const int64_t starts[] = {-30610224000 - 86400 * 3, // a few days before 1000-01-01
                              -62167219200 + 3600,      // year 0
                              -1,
                              1794458190,
                              253402300799 - 86400 * 3, // days before 9999-12-31 23:59:59
                              253402300800};            // 10000-01-01
    char buf[40], want[40];
    for (int64_t start : starts)
        for (int64_t t = start; t < start + 86400 * 7; t += 3917) {
            SCOPED_TRACE(t);
            time_t tt = (time_t)t;
            struct tm tm;
            gmtime_r(&tt, &tm);
            strftime(want, sizeof want, "%Y-%m-%dT%H:%M:%SZ", &tm);
            utc_stamp(t, buf);
            ASSERT_STREQ(buf, want);
            localtime_r(&tt, &tm);
            strftime(want, sizeof want, "%Y-%m-%d %H:%M", &tm);
            local_stamp(t, buf);
            ASSERT_STREQ(buf, want);
        }
}

TEST(Stamps, FallbackWhenTheTimeCannotBeConverted) {
    char buf[40];
    const int64_t huge = INT64_MAX;
    utc_stamp(huge, buf);
    EXPECT_STREQ(buf, "1970-01-01T00:00:00Z");
    local_stamp(huge, buf);
    EXPECT_STREQ(buf, "1970-01-01 00:00");
}

TEST(PrintRuns, RecordsAndEmptyList) {
    zone z("UTC");
    EXPECT_EQ(capture([] { print_runs(nullptr, 0, 0); }), "[]");
    EXPECT_EQ(capture([] { print_runs(nullptr, -3, 0); }), "[]");
    const int64_t runs[2] = {1794458220, 1794458280};
    EXPECT_EQ(
        capture([&] { print_runs(runs, 2, 1794458190); }),
        "[{\"utc\":\"2026-11-12T04:37:00Z\",\"local\":\"2026-11-12 04:37\",\"in_seconds\":30},"
        "{\"utc\":\"2026-11-12T04:38:00Z\",\"local\":\"2026-11-12 04:38\",\"in_seconds\":90}]");
    EXPECT_EQ(
        capture([&] { print_runs(runs, 1, 1794458300); }),
        "[{\"utc\":\"2026-11-12T04:37:00Z\",\"local\":\"2026-11-12 04:37\",\"in_seconds\":-80}]");
}
