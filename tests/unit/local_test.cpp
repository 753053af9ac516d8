#include <gtest/gtest.h>
#include <string>
#include <time.h>
#include <vector>

#include "cron/cron.h"
#include "util/platform.h"

namespace {

int64_t utc(int y, int mo, int d, int h, int mi) {
    return days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60;
}

// Local calendar fields of a local minute number (minutes since 1970 on the
// local wall clock).
struct wall {
    int mon, mday, wday, hour, min;
};

wall wall_of(int64_t local_minute) {
    time_t t = (time_t)(local_minute * 60);
    struct tm tm;
    gmtime_r(&t, &tm);
    return {tm.tm_mon + 1, tm.tm_mday, tm.tm_wday, tm.tm_hour, tm.tm_min};
}

int64_t local_minute_at(int64_t t) {
    time_t tt = (time_t)t;
    struct tm tm;
    localtime_r(&tt, &tm);
    return (t + tm.tm_gmtoff) / 60;
}

// The daemon as its manual pages describe it, one minute at a time: each
// minute it looks at the local clock; minutes skipped by a forward change
// run their fixed-time jobs now; minutes seen before (a backward change)
// run wildcard jobs only.
std::vector<int64_t> simulate(const char *expr, int64_t now, int days) {
    cron_expr ce;
    EXPECT_EQ(cron_parse(&ce, expr), 1) << expr;
    std::string text = expr;
    bool keyword = text[0] == '@';
    bool wildcard =
        keyword ? text == "@hourly" : (ce.field_text[0][0] == '*' || ce.field_text[1][0] == '*');
    bool dom_star = keyword ? !ce.dom_restricted : ce.field_text[2][0] == '*';
    bool dow_star = keyword ? !ce.dow_restricted : ce.field_text[4][0] == '*';
    auto matches = [&](int64_t lm) {
        wall w = wall_of(lm);
        bool dom = ce.days_of_month[w.mday], dow = ce.days_of_week[w.wday];
        bool day = dom_star || dow_star ? dom && dow : dom || dow;
        return ce.minutes[w.min] && ce.hours[w.hour] && ce.months[w.mon] && day;
    };
    std::vector<int64_t> found;
    int64_t seen = local_minute_at(now);
    for (int64_t t = (now / 60 + 1) * 60; t < now + days * 86400LL && found.size() < 5; t += 60) {
        int64_t cur = local_minute_at(t), prev = local_minute_at(t - 60);
        bool run = false;
        if (wildcard) {
            run = matches(cur);
        } else {
            for (int64_t k = prev + 1; k < cur; k++) run = run || matches(k);
            run = run || (cur > seen && matches(cur));
        }
        if (cur > seen) seen = cur;
        if (run) found.push_back(t);
    }
    return found;
}

std::vector<int64_t> search(const char *expr, int64_t now) {
    cron_expr ce;
    cron_parse(&ce, expr);
    int64_t out[CRON_MAX_RUNS];
    int n = cron_next_runs_local(&ce, now, out);
    return std::vector<int64_t>(out, out + n);
}

struct zone_case {
    const char *zone;
    int64_t now;
};

// Both changes of 2027, from the evening before each.
const zone_case k_zones[] = {
    {"Europe/Berlin", utc(2027, 3, 27, 20, 30)},   // 28 Mar 02:00 -> 03:00
    {"Europe/Berlin", utc(2027, 10, 30, 20, 30)},  // 31 Oct 03:00 -> 02:00
    {"America/New_York", utc(2027, 3, 14, 1, 30)}, // 14 Mar 02:00 -> 03:00
    {"America/New_York", utc(2027, 11, 7, 1, 30)}, // 7 Nov 02:00 -> 01:00
    {"America/New_York", utc(2027, 11, 7, 5, 30)}, // inside the first pass of 01:xx
};

const char *const k_exprs[] = {
    "30 2 * * *", // fixed, in the skipped hour of both zones / repeated in Berlin
    "30 1 * * *", // repeated in New York
    "0 2 * * *",    "59 2 * * *",  "0 3 * * *",
    "*/20 * * * *", // wildcard minute through both changes
    "15 * * * *",   // fixed minute, wildcard hour: a wildcard job
    "*/30 2 * * *", // wildcard minute, fixed hour in the gap / the repeat
    "0 0 * * *",    "59 23 * * *", "0,30 1-3 * * *", "@hourly",    "@daily",
    "0 0 1-31 * 1", "0 0 */2 * 1", "0 12 1 * 0",     "0 12 * * 0",
};

} // namespace

TEST(CronNextRunsLocal, AgreesWithAMinuteByMinuteDaemonAcrossDaylightSavingChanges) {
    for (const zone_case &z : k_zones) {
        ASSERT_EQ(plat_zone_push(z.zone), 1);
        for (const char *expr : k_exprs) {
            SCOPED_TRACE(std::string(z.zone) + " " + std::to_string(z.now) + " " + expr);
            EXPECT_EQ(search(expr, z.now), simulate(expr, z.now, 120));
        }
        plat_zone_pop();
    }
}

TEST(CronNextRunsLocal, FixedTimeInTheSkippedHourRunsOnceAtTheChange) {
    ASSERT_EQ(plat_zone_push("Europe/Berlin"), 1);
    std::vector<int64_t> got = search("30 2 * * *", utc(2027, 3, 27, 20, 30));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], utc(2027, 3, 28, 1, 0)); // 03:00 CEST, just after the change
    got = search("30 2 * * *", utc(2027, 10, 30, 20, 30));
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0], utc(2027, 10, 31, 0, 30)); // first 02:30, summer time
    EXPECT_EQ(got[1], utc(2027, 11, 1, 1, 30));  // not again at 02:30 winter time
    plat_zone_pop();
}

TEST(CronNextRunsLocal, DayRuleFollowsTheDaemon) {
    ASSERT_EQ(plat_zone_push("UTC"), 1);
    // 1-31 is restricted for the daemon, so a Monday rule adds nothing:
    // every day runs. */2 is not, so only odd days that are Mondays do.
    const int64_t now = utc(2027, 1, 1, 12, 0); // a Friday
    std::vector<int64_t> every_day = {utc(2027, 1, 2, 0, 0), utc(2027, 1, 3, 0, 0),
                                      utc(2027, 1, 4, 0, 0), utc(2027, 1, 5, 0, 0),
                                      utc(2027, 1, 6, 0, 0)};
    EXPECT_EQ(search("0 0 1-31 * 1", now), every_day);
    std::vector<int64_t> odd_mondays = {utc(2027, 1, 11, 0, 0), utc(2027, 1, 25, 0, 0),
                                        utc(2027, 2, 1, 0, 0), utc(2027, 2, 15, 0, 0),
                                        utc(2027, 3, 1, 0, 0)};
    EXPECT_EQ(search("0 0 */2 * 1", now), odd_mondays);
    plat_zone_pop();
}

TEST(CronNextRunsLocal, NoRunsForBootOnlyOrInvalidOrFarTimes) {
    EXPECT_TRUE(search("@reboot", utc(2027, 1, 1, 0, 0)).empty());
    EXPECT_TRUE(search("61 * * * *", utc(2027, 1, 1, 0, 0)).empty());
    EXPECT_TRUE(search("* * * * *", INT64_MAX).empty());
    EXPECT_TRUE(search("* * * * *", INT64_MIN).empty());
}
