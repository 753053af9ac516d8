#include <gtest/gtest.h>
#include <random>
#include <string>
#include <time.h>
#include <vector>

#include "cron/cron.h"

namespace {

constexpr int64_t k_now = 1794458190; // 2026-11-12 04:36:30 UTC, a Thursday

int64_t at(int y, int mo, int d, int h, int mi) {
    return days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60;
}

std::vector<int64_t> runs(const char *expr, int64_t now = k_now) {
    cron_expr ce;
    cron_parse(&ce, expr);
    int64_t out[5];
    int n = cron_next_runs(&ce, now, out);
    return std::vector<int64_t>(out, out + n);
}

// Whether the calendar fields allow day number day (days since 1970-01-01),
// written out plainly as the reference for the searches.
bool date_matches(const cron_expr &ce, int64_t day) {
    int64_t y;
    int m, d;
    civil_from_days(day, &y, &m, &d);
    int wday = (int)(((day % 7) + 11) % 7);
    bool dom = ce.days_of_month[d], dow = ce.days_of_week[wday];
    bool day_ok = ce.dom_restricted && ce.dow_restricted ? (dom || dow)
                  : ce.dom_restricted                    ? dom
                  : ce.dow_restricted                    ? dow
                                                         : true;
    return ce.months[m] && day_ok;
}

// Minute-by-minute reference over the same rules; it only jumps a whole day
// when the date cannot match, to stay affordable.
std::vector<int64_t> brute_force(const cron_expr &ce, int64_t now, int64_t horizon_days) {
    std::vector<int64_t> found;
    int64_t t = (now / 60 + 1) * 60;
    int64_t end = (now / 86400 + horizon_days) * 86400;
    while (t < end && found.size() < 5) {
        int64_t day = t / 86400;
        if (!date_matches(ce, day)) {
            t = (day + 1) * 86400;
            continue;
        }
        int mi = (int)(t % 3600 / 60), h = (int)(t % 86400 / 3600);
        if (ce.minutes[mi] && ce.hours[h]) found.push_back(t);
        t += 60;
    }
    return found;
}

} // namespace

TEST(CronNextRuns, Examples) {
    const struct {
        const char *expr;
        std::vector<int64_t> expected;
    } cases[] = {
        {"* * * * *",
         {at(2026, 11, 12, 4, 37), at(2026, 11, 12, 4, 38), at(2026, 11, 12, 4, 39),
          at(2026, 11, 12, 4, 40), at(2026, 11, 12, 4, 41)}},
        {"36 4 * * *",
         {at(2026, 11, 13, 4, 36), at(2026, 11, 14, 4, 36), at(2026, 11, 15, 4, 36),
          at(2026, 11, 16, 4, 36), at(2026, 11, 17, 4, 36)}},
        {"0 9 * * *",
         {at(2026, 11, 12, 9, 0), at(2026, 11, 13, 9, 0), at(2026, 11, 14, 9, 0),
          at(2026, 11, 15, 9, 0), at(2026, 11, 16, 9, 0)}},
        {"*/15 9-17 * * 1-5",
         {at(2026, 11, 12, 9, 0), at(2026, 11, 12, 9, 15), at(2026, 11, 12, 9, 30),
          at(2026, 11, 12, 9, 45), at(2026, 11, 12, 10, 0)}},
        {"@hourly",
         {at(2026, 11, 12, 5, 0), at(2026, 11, 12, 6, 0), at(2026, 11, 12, 7, 0),
          at(2026, 11, 12, 8, 0), at(2026, 11, 12, 9, 0)}},
        {"@weekly",
         {at(2026, 11, 15, 0, 0), at(2026, 11, 22, 0, 0), at(2026, 11, 29, 0, 0),
          at(2026, 12, 6, 0, 0), at(2026, 12, 13, 0, 0)}},
        {"0 0 1 * 1",
         {at(2026, 11, 16, 0, 0), at(2026, 11, 23, 0, 0), at(2026, 11, 30, 0, 0),
          at(2026, 12, 1, 0, 0), at(2026, 12, 7, 0, 0)}},
        {"0 0 31 2 1",
         {at(2027, 2, 1, 0, 0), at(2027, 2, 8, 0, 0), at(2027, 2, 15, 0, 0), at(2027, 2, 22, 0, 0),
          at(2028, 2, 7, 0, 0)}},
        {"0 12 1 1 *",
         {at(2027, 1, 1, 12, 0), at(2028, 1, 1, 12, 0), at(2029, 1, 1, 12, 0),
          at(2030, 1, 1, 12, 0), at(2031, 1, 1, 12, 0)}},
        {"0 0 29 2 *",
         {at(2028, 2, 29, 0, 0), at(2032, 2, 29, 0, 0), at(2036, 2, 29, 0, 0),
          at(2040, 2, 29, 0, 0), at(2044, 2, 29, 0, 0)}},
        {"0 0 30 2 *", {}},
        {"0 0 31 4 *", {}},
        {"@reboot", {}},
        {"61 * * * *", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expr);
        EXPECT_EQ(runs(c.expr), c.expected);
    }
}

TEST(CronNextRuns, RunAtExactlyNowIsNotReturned) {
    int64_t now = at(2026, 11, 12, 4, 36);
    EXPECT_EQ(runs("* * * * *", now).front(), at(2026, 11, 12, 4, 37));
}

TEST(CronNextRuns, HorizonIs7305DaysFromToday) {
    // From 2008-03-01 the 7305th day is 2028-02-29; a day earlier it is not.
    auto r = runs("0 0 29 2 *", at(2008, 3, 1, 0, 0) + 30);
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r.back(), at(2028, 2, 29, 0, 0));
    EXPECT_EQ(runs("0 0 29 2 *", at(2008, 2, 29, 12, 0)).size(), 4u);
    // 2100 is no leap year.
    EXPECT_EQ(runs("0 0 29 2 *", at(2090, 3, 1, 0, 0)),
              (std::vector<int64_t>{at(2092, 2, 29, 0, 0), at(2096, 2, 29, 0, 0),
                                    at(2104, 2, 29, 0, 0), at(2108, 2, 29, 0, 0)}));
}

TEST(CivilDays, RoundTripsAcrossErasAndBeforeTheEpoch) {
    for (int64_t day = -800000; day <= 800000; day += 997) {
        int64_t y;
        int m, d;
        civil_from_days(day, &y, &m, &d);
        ASSERT_EQ(days_from_civil(y, m, d), day);
    }
    EXPECT_EQ(days_from_civil(1970, 1, 1), 0);
    EXPECT_EQ(days_from_civil(2000, 3, 1), 11017);
    EXPECT_EQ(days_from_civil(1969, 12, 31), -1);
}

// The C library's gmtime is the reference for the weekday, the month length
// and the day of a time, before 1970 too.
TEST(CivilDays, WeekdayMonthLengthAndDayOfATimeAgreeWithGmtime) {
    for (int64_t day = -800000; day <= 800000; day += 997) {
        const time_t t = (time_t)(day * 86400);
        struct tm tm;
        ASSERT_NE(gmtime_r(&t, &tm), nullptr);
        ASSERT_EQ(weekday_of_day(day), tm.tm_wday) << day;
        ASSERT_EQ(floor_div(day * 86400, 86400), day);
        ASSERT_EQ(floor_div(day * 86400 - 1, 86400), day - 1);
        ASSERT_EQ(floor_div(day * 86400 + 86399, 86400), day);
        const time_t last = (time_t)((day - tm.tm_mday + 1) * 86400 - 86400);
        struct tm before; // the last day of the month before
        ASSERT_NE(gmtime_r(&last, &before), nullptr);
        ASSERT_EQ(month_length(before.tm_year + 1900, before.tm_mon + 1), before.tm_mday) << day;
    }
}

// Generated expressions against the minute-by-minute reference, over a
// horizon the reference can afford (three years); runs found by the real
// search inside that horizon must agree exactly.
TEST(CronNextRuns, AgreesWithBruteForceOnGeneratedExpressions) {
    std::mt19937 rng(20261209);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto field = [&](int lo, int hi, int kind) {
        switch (kind) {
        case 0:
            return std::string("*");
        case 1:
            return std::to_string(pick(lo, hi));
        case 2: {
            int a = pick(lo, hi), b = pick(a, hi);
            return std::to_string(a) + "-" + std::to_string(b);
        }
        case 3:
            return "*/" + std::to_string(pick(1, hi - lo + 2));
        case 4:
            return std::to_string(pick(lo, hi)) + "," + std::to_string(pick(lo, hi));
        default: {
            int a = pick(lo, hi);
            return std::to_string(a) + "-" + std::to_string(pick(a, hi)) + "/" +
                   std::to_string(pick(1, 4));
        }
        }
    };
    const int64_t horizon = 3 * 366;
    int checked = 0;
    for (int i = 0; i < 3000; i++) {
        std::string e = field(0, 59, pick(0, 5)) + " " + field(0, 23, pick(0, 5)) + " " +
                        (pick(0, 9) == 0 ? "29" : field(1, 31, pick(0, 5))) + " " +
                        (pick(0, 9) == 0 ? "2" : field(1, 12, pick(0, 5))) + " " +
                        field(0, 7, pick(0, 5));
        SCOPED_TRACE(e);
        cron_expr ce;
        ASSERT_EQ(cron_parse(&ce, e.c_str()), 1) << ce.error;
        int64_t now = k_now + (int64_t)pick(-5000000, 5000000) * 60 + pick(0, 59);
        int64_t out[5];
        int n = cron_next_runs(&ce, now, out);
        std::vector<int64_t> got(out, out + n);
        for (int k = 0; k < n; k++) {
            ASSERT_EQ(out[k] % 60, 0);
            ASSERT_GT(out[k], now);
            if (k) { ASSERT_GT(out[k], out[k - 1]); }
        }
        // Only the first three years: the reference scans minute by minute.
        std::vector<int64_t> within;
        for (int64_t t : got)
            if (t < (now / 86400 + horizon) * 86400) within.push_back(t);
        ASSERT_EQ(within, brute_force(ce, now, horizon));
        checked++;
    }
    EXPECT_EQ(checked, 3000);
}

// The search passes over months that cannot match; a plain day-by-day scan of
// the whole 7305-day window must find exactly the same runs, also for rare
// and impossible days and across centuries (1900 and 2100 have no 29
// February, 2000 has).
TEST(CronNextRuns, MatchesADayByDayScanOfTheWholeWindow) {
    auto day_by_day = [](const cron_expr &ce, int64_t now) {
        std::vector<int64_t> found;
        int64_t today = now >= 0 ? now / 86400 : (now - 86399) / 86400;
        for (int64_t day = today; day < today + 7305 && found.size() < 5; day++) {
            if (!date_matches(ce, day)) continue;
            for (int h = 0; h < 24 && found.size() < 5; h++)
                for (int mi = 0; mi < 60 && found.size() < 5; mi++)
                    if (ce.hours[h] && ce.minutes[mi] && day * 86400 + h * 3600 + mi * 60 > now)
                        found.push_back(day * 86400 + h * 3600 + mi * 60);
        }
        return found;
    };
    const char *const days[] = {"29", "30", "31", "30,31", "1", "15-17", "28-31/3", "*"};
    const char *const months[] = {"2", "4,6", "2,4,6,9,11", "12", "1-3", "*"};
    const char *const weekdays[] = {"*", "1", "0,6", "5-7"};
    const int64_t starts[] = {at(1896, 2, 28, 23, 59) + 30, at(1999, 12, 31, 12, 0),
                              at(2026, 11, 12, 4, 36) + 30, at(2084, 3, 1, 0, 0),
                              at(2096, 2, 29, 0, 0) - 1,    at(1969, 12, 31, 23, 59)};
    for (const char *dom : days)
        for (const char *mon : months)
            for (const char *dow : weekdays)
                for (int64_t now : starts) {
                    std::string e = std::string("7 1 ") + dom + " " + mon + " " + dow;
                    SCOPED_TRACE(e + " from " + std::to_string(now));
                    cron_expr ce;
                    ASSERT_EQ(cron_parse(&ce, e.c_str()), 1) << ce.error;
                    int64_t out[5];
                    int n = cron_next_runs(&ce, now, out);
                    ASSERT_EQ(std::vector<int64_t>(out, out + n), day_by_day(ce, now));
                }
}

TEST(CronNextRuns, ClockAtTheEndsOfTheRangeDoesNotOverflow) {
    const int64_t max = INT64_MAX, min = INT64_MIN;
    for (int64_t now : {max, max - 60, max - 86400 * 3, min, min + 1}) {
        SCOPED_TRACE(now);
        std::vector<int64_t> found = runs("* * * * *", now);
        EXPECT_LE(found.size(), 5u);
        for (size_t i = 0; i < found.size(); i++) {
            EXPECT_GT(found[i], now);
            EXPECT_EQ(found[i] % 60, 0);
            if (i) { EXPECT_GT(found[i], found[i - 1]); }
        }
    }
    // Near the low end the runs are the very next minutes, as anywhere.
    EXPECT_EQ(runs("* * * * *", min + 1).size(), 5u);
}
