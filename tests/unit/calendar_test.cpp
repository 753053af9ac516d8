#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <time.h>
#include <vector>

#include "cron/calendar.h"
#include "cron/cron.h"
#include "cron/zone_cache.h"
#include "util/platform.h"

namespace {

constexpr int64_t k_now = 1794458190; // 2026-11-12 04:36:30 UTC, a Thursday

int64_t at(int y, int mo, int d, int h, int mi, int s = 0) {
    return days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

// Runs the test body in the node zone tz and puts the process zone back.
struct node_zone {
    explicit node_zone(const char *tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    ~node_zone() {
        unsetenv("TZ");
        tzset();
    }
};

std::vector<int64_t> runs(const char *text, int64_t now = k_now) {
    cal_spec cs;
    EXPECT_EQ(cal_parse(&cs, text), 1) << text << ": " << cs.error;
    int64_t out[CAL_MAX_RUNS];
    int n = cal_next_runs(&cs, now, out);
    return std::vector<int64_t>(out, out + n);
}

} // namespace

TEST(CalendarParse, RejectsWithAClearText) {
    struct {
        const char *text, *error;
    } cases[] = {
        {"", "empty calendar expression"},
        {"Fri..Mon", "weekday range runs backwards"},
        {"Mond", "invalid weekday"},
        {"Mon..Wed..Fri", "invalid weekday"},
        {"12", "invalid date"},
        {"*-*-* *", "invalid time"},
        {"*/5:00", "invalid date"},
        {"*-*-32", "value out of range"},
        {"*-*~29", "value out of range"},
        {"1969-*-*", "value out of range"},
        {"00:00:60", "value out of range"},
        {"4294967296:00", "value out of range"},
        {"10..5:00", "range runs backwards"},
        {"*:00/0", "repetition must be greater than 0"},
        {"0/24:00", "repetition too large"},
        {"*-*~2/5", "repetition too large"},
        {"daily CEST", "unknown time zone"},
        {"daily Foo/Bar", "unknown time zone"},
        {"00:00 UTC UTC", "unknown time zone"},
        {"1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,0,1,2,3,4,5,6,7,8,9:00",
         "too many values in one field"},
    };
    node_zone tz("UTC");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        cal_spec cs;
        EXPECT_EQ(cal_parse(&cs, c.text), 0);
        EXPECT_STREQ(cs.error, c.error);
        int64_t out[CAL_MAX_RUNS];
        EXPECT_EQ(cal_next_runs(&cs, k_now, out), 0);
    }
}

// A trailing abbreviation is the node's own zone's, whatever zone is pushed
// for conversions while the value is parsed: in Berlin "CET" is the node's
// standard time and "EST" a zone of the database, in New York the other way
// round, and "CEST" no zone at all. First runs are systemd-analyze's
// (systemd 252), started at 00:00 local on Monday 2027-01-04; in Berlin it
// never finds summer time named in winter.
TEST(CalendarParse, AbbreviationsAreTheNodesWhateverZoneIsPushed) {
    struct {
        const char *node, *text;
        int valid, dst;
        const char *zone;
        int64_t now, first; // first 0: no run
    } cases[] = {
        {"Europe/Berlin", "Mon 09:00 CET", 1, 0, "", at(2027, 1, 3, 23, 0), at(2027, 1, 4, 8, 0)},
        {"Europe/Berlin", "Mon 09:00 CEST", 1, 1, "", at(2027, 1, 3, 23, 0), 0},
        {"Europe/Berlin", "Mon 09:00 EST", 1, -1, "EST", at(2027, 1, 3, 23, 0),
         at(2027, 1, 4, 14, 0)},
        {"America/New_York", "Mon 09:00 CET", 1, -1, "CET", at(2027, 1, 4, 5, 0),
         at(2027, 1, 4, 8, 0)},
        {"America/New_York", "Mon 09:00 EST", 1, 0, "", at(2027, 1, 4, 5, 0),
         at(2027, 1, 4, 14, 0)},
        {"America/New_York", "Mon 09:00 CEST", 0, -1, "", 0, 0},
    };
    for (const auto &c : cases) {
        node_zone tz(c.node);
        for (const char *pushed : {"", "CET", "America/New_York", "Europe/Berlin"}) {
            SCOPED_TRACE(std::string(c.node) + " " + c.text + " pushed " + pushed);
            if (pushed[0]) { ASSERT_EQ(plat_zone_push(pushed), 1); }
            cal_spec cs;
            const int ok = cal_parse(&cs, c.text);
            if (pushed[0]) plat_zone_pop();
            EXPECT_EQ(ok, c.valid) << cs.error;
            EXPECT_EQ(cs.dst, c.dst);
            EXPECT_STREQ(cs.zone, c.zone);
            EXPECT_EQ(cs.utc, 0);
            if (!ok) continue;
            int64_t out[CAL_MAX_RUNS];
            const int n = cal_next_runs(&cs, c.now, out);
            EXPECT_EQ(n > 0 ? out[0] : 0, c.first);
        }
    }
}

TEST(CalendarNext, NodeZoneRules) {
    node_zone tz("Europe/Berlin");
    struct {
        const char *text;
        int64_t now;
        std::vector<int64_t> want;
    } cases[] = {
        // 02:30 does not exist on 2026-03-29 in Berlin: that day is skipped.
        {"*-*-* 02:30",
         at(2026, 3, 28, 12, 0),
         {at(2026, 3, 30, 0, 30), at(2026, 3, 31, 0, 30), at(2026, 4, 1, 0, 30),
          at(2026, 4, 2, 0, 30), at(2026, 4, 3, 0, 30)}},
        // The last day of February, in a leap year and the next.
        {"*-02~01 12:00",
         k_now,
         {at(2027, 2, 28, 11, 0), at(2028, 2, 29, 11, 0), at(2029, 2, 28, 11, 0),
          at(2030, 2, 28, 11, 0), at(2031, 2, 28, 11, 0)}},
        // The first Sunday of a month, as mdcheck_start.timer has it.
        {"Sun *-*-1..7 1:00:00",
         k_now,
         {at(2026, 12, 6, 0, 0), at(2027, 1, 3, 0, 0), at(2027, 2, 7, 0, 0), at(2027, 3, 7, 0, 0),
          at(2027, 4, 3, 23, 0)}},
        // Beyond the 7305-day horizon nothing is listed.
        {"2047-01-01", k_now, {}},
        {"2199-12-31 23:59:59", k_now, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(runs(c.text, c.now), c.want);
    }
}

TEST(CalendarNext, NamedZoneLeavesTheNodeZoneAlone) {
    node_zone tz("Asia/Tokyo");
    EXPECT_EQ(runs("Mon..Fri 09:00 America/New_York"),
              (std::vector<int64_t>{at(2026, 11, 12, 14, 0), at(2026, 11, 13, 14, 0),
                                    at(2026, 11, 16, 14, 0), at(2026, 11, 17, 14, 0),
                                    at(2026, 11, 18, 14, 0)}));
    struct tm local;
    time_t t = (time_t)k_now;
    localtime_r(&t, &local);
    EXPECT_EQ(local.tm_hour, 13); // still Tokyo
    EXPECT_EQ(runs("daily UTC")[0], at(2026, 11, 13, 0, 0));
}

// A wall time that occurs twice (clocks going back at midnight) resolves the
// way systemd-analyze resolves it, whatever was searched before in the same
// process. Expected times are systemd-analyze's, from 2026-10-15 00:00 UTC.
TEST(CalendarNext, RepeatedMidnightDoesNotDependOnEarlierSearches) {
    const int64_t from = at(2026, 10, 15, 0, 0);
    {
        node_zone tz("America/Havana");
        const int64_t first = at(2026, 11, 1, 4, 0); // 00:00 CDT, the first 00:00
        EXPECT_EQ(runs("monthly", from)[0], first);
        for (const char *before : {"weekly", "2026-10-26 12:00", "*-*-* 23:30"}) {
            SCOPED_TRACE(before);
            runs(before, from);
            EXPECT_EQ(runs("monthly", from)[0], first);
        }
    }
    node_zone tz("America/New_York");
    runs("weekly", from);
    EXPECT_EQ(runs("*-10-25 00:30 Atlantic/Azores", from)[0], at(2026, 10, 25, 0, 30));
}

TEST(CalendarNext, RunsAreStrictlyLaterAndMatch) {
    node_zone tz("America/New_York");
    const char *texts[] = {"minutely",
                           "*:*:0/7",
                           "hourly",
                           "*-*-* 01:30",
                           "Sat,Sun 12-05 08:05:40",
                           "*-*~1..3",
                           "*-10-25..31 01..02:*:00/30"};
    for (int64_t now : {at(2026, 11, 1, 5, 0), at(2026, 3, 8, 6, 59, 59)}) {
        for (const char *text : texts) {
            SCOPED_TRACE(text);
            cal_spec cs;
            ASSERT_EQ(cal_parse(&cs, text), 1);
            int64_t out[CAL_MAX_RUNS];
            int n = cal_next_runs(&cs, now, out);
            EXPECT_GT(n, 0);
            for (int i = 0; i < n; i++) {
                EXPECT_GT(out[i], i ? out[i - 1] : now);
                EXPECT_TRUE(cal_matches(&cs, out[i])) << out[i];
            }
        }
    }
}

// The zone cache answers as the C library does, next to clock changes too:
// hourly steps of a little more than an hour pass every change of the year
// at another minute, in zones with changes of an hour, of half an hour (Lord
// Howe), none (Kolkata), and in UTC.
TEST(ZoneCache, AnswersAsTheCLibrary) {
    for (const char *zone :
         {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe", "Asia/Kolkata", "UTC"}) {
        SCOPED_TRACE(zone);
        node_zone tz(zone);
        zone_cache *z = zone_cache_for(0);
        for (int64_t t = at(2026, 1, 1, 0, 0); t < at(2027, 1, 1, 0, 0); t += 3607) {
            const time_t tt = (time_t)t;
            struct tm want, got;
            ASSERT_NE(localtime_r(&tt, &want), nullptr);
            ASSERT_EQ(zone_break_down(z, t, &got), 1);
            const int w[] = {want.tm_year, want.tm_mon,  want.tm_mday, want.tm_hour, want.tm_min,
                             want.tm_sec,  want.tm_wday, want.tm_yday, want.tm_isdst};
            const int g[] = {got.tm_year, got.tm_mon,  got.tm_mday, got.tm_hour, got.tm_min,
                             got.tm_sec,  got.tm_wday, got.tm_yday, got.tm_isdst};
            ASSERT_EQ(std::vector<int>(g, g + 9), std::vector<int>(w, w + 9)) << t;
            ASSERT_EQ(got.tm_gmtoff, want.tm_gmtoff) << t;
            int32_t offset = 0;
            ASSERT_EQ(zone_offset_at(z, t, &offset), 1);
            ASSERT_EQ(offset, want.tm_gmtoff) << t;
            // Back from the wall time, the zone deciding, as mktime does.
            struct tm fields = want, by_mktime;
            fields.tm_isdst = -1;
            const int64_t back = zone_to_time(z, &fields);
            by_mktime = want;
            by_mktime.tm_isdst = -1;
            ASSERT_EQ(back, (int64_t)mktime(&by_mktime)) << t;
            ASSERT_EQ(fields.tm_hour, by_mktime.tm_hour) << t;
        }
    }
}

TEST(CalendarMerge, AscendingDistinctAtMostFive) {
    int64_t acc[CAL_MAX_RUNS] = {10, 20, 30};
    int count = 3;
    const int64_t add[] = {5, 20, 25, 40, 50};
    merge_runs(acc, &count, add, 5);
    EXPECT_EQ(std::vector<int64_t>(acc, acc + count), (std::vector<int64_t>{5, 10, 20, 25, 30}));
}

TEST(CalendarDescribe, Sentences) {
    struct {
        const char *text, *want;
    } cases[] = {
        {"daily", "Every day at 00:00"},
        {"weekly", "Every Monday at 00:00"},
        {"*-*-* 6,18:00", "At 06:00 and 18:00, every day"},
        {"Sun *-*-* 03:10:00", "Every Sunday at 03:10"},
        {"Mon..Fri 09:00 America/New_York",
         "Every Monday to Friday at 09:00 (America/New_York time)"},
        {"*-*-* 07..23:30", "At minute 30, between 07:00 and 23:59, every day"},
        {"*:00/10", "Every 10 minutes, every day"},
        {"Sun *-*-1..7 1:00:00", "At 01:00, on day 1 to 7 of every month, if a Sunday"},
        {"*-02~01", "At 00:00, on the last day in February"},
        {"*-*~03 12:00 UTC", "At 12:00, on the 3rd last day of every month (UTC)"},
        {"2028-02-29 12:00:30", "At 12:00:30, on day 29 in February of 2028"},
    };
    node_zone tz("UTC");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        cal_spec cs;
        ASSERT_EQ(cal_parse(&cs, c.text), 1) << cs.error;
        char out[224];
        cal_describe(&cs, out, sizeof out);
        EXPECT_STREQ(out, c.want);
    }
}

// Where systemd's search starts (one microsecond after the last run, in that
// run's second and occurrence) and what it leaves behind in mktime decide
// which runs it lists. Expected times are systemd-analyze's.
TEST(CalendarNext, StartsWithinTheLastRunsSecond) {
    struct {
        const char *tz, *text;
        int64_t now;
        std::vector<int64_t> want; // the first two runs
    } cases[] = {
        // 02:59:59 occurs twice on 2027-10-31 in Berlin; after the first the
        // search carries to 03:00 and on to the next day.
        {"Europe/Berlin",
         "*-*-* 02:59:59",
         at(2027, 10, 30, 22, 50),
         {at(2027, 10, 31, 0, 59, 59), at(2027, 11, 1, 1, 59, 59)}},
        {"America/New_York",
         "*-*-* 01:59:59",
         at(2027, 11, 7, 4, 50),
         {at(2027, 11, 7, 5, 59, 59), at(2027, 11, 8, 6, 59, 59)}},
        // From 23:59:59 on 31 December a carried minute is kept past the
        // year's end: minute 63 is 00:03, and the next 0/7 minute 00:07.
        {"America/New_York",
         "*:00/7:41..45",
         at(2028, 1, 1, 4, 59, 59),
         {at(2028, 1, 1, 5, 7, 41), at(2028, 1, 1, 5, 7, 42)}},
        {"America/New_York",
         "*:00/23:*",
         at(2028, 1, 1, 4, 59, 59),
         {at(2028, 1, 1, 5, 23, 0), at(2028, 1, 1, 5, 23, 1)}},
        // The same past a day's end and past a month's end (hours), and the
        // seconds past an hour's end.
        {"UTC",
         "*:00/7",
         at(2027, 6, 15, 23, 59, 59),
         {at(2027, 6, 16, 0, 7), at(2027, 6, 16, 0, 14)}},
        {"UTC",
         "0/5:00",
         at(2027, 6, 30, 23, 59, 59),
         {at(2027, 7, 1, 5, 0), at(2027, 7, 1, 10, 0)}},
        {"UTC",
         "0/5:00",
         at(2027, 6, 15, 23, 59, 59),
         {at(2027, 6, 16, 0, 0), at(2027, 6, 16, 5, 0)}},
        {"UTC",
         "*:*:00/7",
         at(2027, 6, 15, 10, 59, 59),
         {at(2027, 6, 15, 11, 0, 7), at(2027, 6, 15, 11, 0, 14)}},
        // A start before 1970 searches from its first second.
        {"UTC", "*:*:*", -1, {0, 1}},
        {"Europe/Berlin", "*:*:*", -1, {0, 1}},
        // From 02:20 CEST on 2026-10-25, the first occurrence of Berlin's
        // repeated hour: a "~" day is looked up on other days, the last of
        // which is in CET, so 02:30 is found in its second occurrence.
        {"Europe/Berlin",
         "*-10~7 02:30",
         at(2026, 10, 25, 0, 20),
         {at(2026, 10, 25, 1, 30), at(2027, 10, 25, 0, 30)}},
        {"Europe/Berlin",
         "*-10-25 02:30",
         at(2026, 10, 25, 0, 20),
         {at(2026, 10, 25, 0, 30), at(2027, 10, 25, 0, 30)}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.tz) + " " + c.text);
        node_zone tz(c.tz);
        std::vector<int64_t> got = runs(c.text, c.now);
        if (got.size() > 2) got.resize(2);
        EXPECT_EQ(got, c.want);
    }
}
