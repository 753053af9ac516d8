#include <gtest/gtest.h>
#include <stdlib.h>
#include <string>
#include <time.h>
#include <vector>

#include "cron/calendar.h"
#include "cron/calendar_text.h"
#include "cron/convert.h"
#include "cron/cron.h"

namespace {

constexpr int64_t k_2027 = 1798761600; // 2027-01-01 00:00:00 UTC

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

const char k_forward[] = "When the clock moves forward, cron runs the times of the skipped hour "
                         "right after the change, while systemd skips them.";
const char k_back[] = "When the clock moves back, cron runs the times of the repeated hour twice, "
                      "while systemd runs them once.";

} // namespace

// Normalized forms as `systemd-analyze calendar` 252 prints them.
TEST(CalendarText, NormalizedFormIsSystemds) {
    const struct {
        const char *tz, *text, *normalized;
    } cases[] = {
        {"UTC", "daily", "*-*-* 00:00:00"},
        {"UTC", "weekly", "Mon *-*-* 00:00:00"},
        {"UTC", "*:*:0..30", "*-*-* *:*:00..30"},
        {"UTC", "*:*:0/1", "*-*-* *:*:*"},
        {"UTC", "*:*:5.5", "*-*-* *:*:05.500000"},
        {"UTC", "Mon..Sun 12:00", "*-*-* 12:00:00"},
        {"UTC", "1..5/1:00", "*-*-* 01..05:00:00"},
        {"UTC", "5..5:00", "*-*-* 05:00:00"},
        {"UTC", "1..3/5:00", "*-*-* 01:00:00"},
        {"UTC", "*-*~*", "*-*-* 00:00:00"},
        {"UTC", "@1700000000", "2023-11-14 22:13:20 UTC"},
        {"UTC", "Mon,Tue,Thu", "Mon,Tue,Thu *-*-* 00:00:00"},
        {"UTC", "Sat,Thu,Mon..Wed,Sat..Sun", "Mon..Thu,Sat,Sun *-*-* 00:00:00"},
        {"UTC", "Mon..Wed,Fri 2026..2030/2-02-29", "Mon..Wed,Fri 2026..2030/2-02-29 00:00:00"},
        {"UTC", "*-*-* 00:00:00 Europe/Berlin", "*-*-* 00:00:00 Europe/Berlin"},
        {"UTC", "*-02-27,29,29 *:32..57,35,35", "*-02-27,29 *:32..57,35:00"},
        {"UTC", "Mon..Fri,Thu *-02-28,29 20,11..15:*", "Mon..Fri *-02-28,29 11..15,20:*:00"},
        {"America/New_York", "daily EST", "*-*-* 00:00:00 EST"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " TZ=" + c.tz);
        node_zone zone(c.tz);
        cal_spec cs;
        ASSERT_EQ(cal_parse(&cs, c.text), 1) << cs.error;
        char out[256];
        EXPECT_EQ(cal_normalized(&cs, out, sizeof out), 1);
        EXPECT_STREQ(out, c.normalized);
    }
    cal_spec cs;
    ASSERT_EQ(cal_parse(&cs, "daily"), 1);
    char small[8];
    EXPECT_EQ(cal_normalized(&cs, small, sizeof small), 0);
    EXPECT_STREQ(small, "*-*-* 0");
}

TEST(Convert, CronAsTimer) {
    const struct {
        const char *tz, *expr;
        std::vector<std::string> values;
        const char *boot, *note;
    } cases[] = {
        {"UTC", "*/15 9-17 * * 1-5", {"Mon..Fri *-*-* 09..17:00,15,30,45:00"}, "", ""},
        {"UTC", "*/5 * * * *", {"*-*-* *:00..55/5:00"}, "", ""},
        {"UTC", "0 */2 * * *", {"*-*-* 00..22/2:00:00"}, "", ""},
        {"UTC", "5,7,9,11,13 * * * *", {"*-*-* *:05,07,09,11,13:00"}, "", ""},
        {"UTC", "0,1,2,4,5 0 * * *", {"*-*-* 00:00..02,04,05:00"}, "", ""},
        // The daemon's day rule: either restricted day field is enough.
        {"UTC", "0 0 1,15 * 1", {"*-*-01,15 00:00:00", "Mon *-*-* 00:00:00"}, "", ""},
        {"UTC", "0 0 */2 * 1", {"Mon *-*-01..31/2 00:00:00"}, "", ""},
        {"UTC", "0 0 1-31 * 1", {"*-*-* 00:00:00"}, "", ""},
        {"UTC", "0 0 13 * 0-6", {"*-*-* 00:00:00"}, "", ""},
        {"UTC", "0 0 * * 7", {"Sun *-*-* 00:00:00"}, "", ""},
        {"UTC", "0 12 * jan,jul sat,sun", {"Sat,Sun *-01,07-* 12:00:00"}, "", ""},
        {"UTC", "@weekly", {"Sun *-*-* 00:00:00"}, "", ""},
        {"UTC", "@monthly", {"*-*-01 00:00:00"}, "", ""},
        {"UTC", "@hourly", {"*-*-* *:00:00"}, "", ""},
        {"UTC", "@reboot", {}, "0", ""},
        {"Europe/Berlin", "30 2 * * *", {"*-*-* 02:30:00"}, "", k_forward},
        // The skipped 02:00 falls on 03:00, which runs anyway.
        {"Europe/Berlin", "0 2,3 * * *", {"*-*-* 02,03:00:00"}, "", ""},
        {"Europe/Berlin", "*/10 2 * * *", {"*-*-* 02:00,10,20,30,40,50:00"}, "", k_back},
        {"Europe/Berlin", "30 2 * * sun", {"Sun *-*-* 02:30:00"}, "", k_forward},
        // Only days of the month that are never a change day.
        {"Europe/Berlin", "30 2 10 * *", {"*-*-10 02:30:00"}, "", ""},
        {"America/New_York", "@hourly", {"*-*-* *:00:00"}, "", k_back},
        {"America/New_York", "0 1 * * *", {"*-*-* 01:00:00"}, "", ""},
        {"Australia/Lord_Howe", "15 2 * * *", {"*-*-* 02:15:00"}, "", k_forward},
        {"Asia/Kolkata", "30 2 * * *", {"*-*-* 02:30:00"}, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.expr) + " TZ=" + c.tz);
        node_zone zone(c.tz);
        cron_expr ce;
        ASSERT_EQ(cron_parse(&ce, c.expr), 1);
        timer_form t;
        ASSERT_EQ(cron_to_timer(&ce, k_2027, &t), 1);
        std::vector<std::string> values(t.on_calendar, t.on_calendar + t.count);
        EXPECT_EQ(values, c.values);
        EXPECT_STREQ(t.on_boot_sec, c.boot);
        EXPECT_STREQ(t.note, c.note);
    }
    cron_expr bad;
    ASSERT_EQ(cron_parse(&bad, "61 * * * *"), 0);
    timer_form t;
    EXPECT_EQ(cron_to_timer(&bad, k_2027, &t), 0);
    EXPECT_EQ(t.count, 0);
}

TEST(Convert, CalendarEventAsCronLine) {
    const char *const k_carried =
        "a repetition that systemd carries into the next day, month or year is not expressible "
        "in cron";
    const struct {
        const char *tz, *text, *line, *reason;
    } cases[] = {
        {"UTC", "daily", "0 0 * * *", ""},
        {"UTC", "Mon..Fri 09..17:00/15", "*/15 9-17 * * 1-5", ""},
        {"UTC", "Sat,Sun 12:00", "0 12 * * 0,6", ""},
        {"UTC", "Mon *-*-1/2", "0 0 */2 * 1", ""},
        {"UTC", "Sun *-*-1..7 1:00:00", "0 1 1-7 * */7", ""},
        {"UTC", "Sun,Tue,Thu,Sat *-*-5", "0 0 5 * */2", ""},
        {"UTC", "quarterly", "0 0 1 */3 *", ""},
        {"UTC", "*-*-* 1..3/5:00", "0 1 * * *", ""},
        {"UTC", "minutely", "* * * * *", ""},
        {"UTC", "daily UTC", "0 0 * * *", ""},
        {"Europe/Berlin", "weekly Europe/Berlin", "0 0 * * 1", ""},
        {"UTC", "*:*:0/30", "", "seconds are not expressible in cron"},
        {"UTC", "12:00:05.5", "", "seconds are not expressible in cron"},
        {"UTC", "2027-*-*", "", "years are not expressible in cron"},
        {"UTC", "@1700000040", "", "years are not expressible in cron"},
        {"UTC", "*-02~03", "",
         "days counted from the end of the month are not expressible in cron"},
        {"UTC", "Fri *-*-13", "",
         "a day of the month together with a weekday is not expressible in cron, which runs "
         "on either"},
        {"Europe/Berlin", "daily UTC", "",
         "a zone other than the node's is not expressible in cron"},
        {"UTC", "daily Europe/Berlin", "",
         "a zone other than the node's is not expressible in cron"},
        {"Europe/Berlin", "daily CET", "", "daylight saving time alone is not expressible in cron"},
        // Open repetitions: a step that lands back on the field's first value
        // is a cron step; one that carries past it into a new day, month or
        // year is not.
        {"UTC", "*:00/15", "*/15 * * * *", ""},
        {"Europe/Berlin", "*-*-01/3 00:00", "0 0 */3 * *", ""},
        {"UTC", "*-02/5-01 00:00", "0 0 1 2-12/5 *", ""},
        {"UTC", "0..22:00/7", "*/7 0-22 * * *", ""},
        {"UTC", "*:00/7", "", k_carried},
        {"Europe/Berlin", "0/5:00", "", k_carried},
        {"UTC", "*-*-01/7 00:00", "", k_carried},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text) + " TZ=" + c.tz);
        node_zone zone(c.tz);
        cal_spec cs;
        ASSERT_EQ(cal_parse(&cs, c.text), 1) << cs.error;
        cron_form f;
        EXPECT_EQ(cal_to_cron(&cs, k_2027, &f), c.line[0] != 0);
        EXPECT_STREQ(f.line, c.line);
        EXPECT_STREQ(f.reason, c.reason);
    }
    node_zone zone("Europe/Berlin");
    cal_spec cs;
    ASSERT_EQ(cal_parse(&cs, "*-*-* 02:30"), 1);
    cron_form f;
    ASSERT_EQ(cal_to_cron(&cs, k_2027, &f), 1);
    EXPECT_STREQ(f.line, "30 2 * * *");
    EXPECT_STREQ(f.note, k_forward);
}
