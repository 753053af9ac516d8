#include <gtest/gtest.h>

#include "cron/daemon.h"

// The forms Debian's cron rejects: a step after a single value, in any
// field and any item of a list; after "*" or a range a step is fine.
TEST(CronDaemon, Rejection) {
    const char *const k_step_rejected =
        "step after a single value, which cron rejects (write a range, as 5-59/10)";
    const struct {
        const char *schedule;
        bool rejected;
    } cases[] = {
        {"5/10 * * * *", true},     {"0 1,3/2 * * *", true}, {"* * * * 1/2", true},
        {"5-59/10 * * * *", false}, {"*/5 * * * *", false},  {"0 0 1-31/2 * *", false},
        {"0 3 * * *", false},       {"*/0 * * * *", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.schedule);
        const char *why = cron_daemon_rejection(c.schedule);
        EXPECT_STREQ(why ? why : "", c.rejected ? k_step_rejected : "");
    }
}

// The daemon's day rule where it differs from the general description.
TEST(CronDaemon, Describe) {
    const struct {
        const char *schedule, *description;
    } cases[] = {
        {"0 0 1-31 * 1", "At 00:00, every day"},
        {"0 0 */2 * 1", "At 00:00, on Monday, if it is one of days 1, 3, 5, 7, 9, 11, 13, 15, 17, "
                        "19, 21, 23, 25, 27, 29, 31 of the month"},
        {"0 0 13 * */2", "At 00:00, on Sunday, Tuesday, Thursday, Saturday, if it is day 13 of the "
                         "month"},
        {"0 0 13 * 5", "At 00:00, on Friday or day 13 of the month"},
        {"0 3 * * *", "At 03:00, every day"},
        {"@weekly", "Every Sunday at midnight"}, // a keyword keeps its own text
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.schedule);
        cron_expr ce;
        ASSERT_EQ(cron_parse(&ce, c.schedule), 1);
        char out[CRON_DESCRIPTION_CAP];
        snprintf(out, sizeof out, "%s", ce.description);
        cron_daemon_describe(&ce, out);
        EXPECT_STREQ(out, c.description);
    }
}
