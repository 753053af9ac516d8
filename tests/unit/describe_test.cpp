#include <gtest/gtest.h>
#include <string>

#include "cron/cron.h"

TEST(CronDescribe, Examples) {
    const struct {
        const char *expr, *description;
    } cases[] = {
        {"@reboot", "When the system starts"},
        {"@hourly", "Every hour, on the hour"},
        {"@daily", "Every day at midnight"},
        {"@midnight", "Every day at midnight"},
        {"@weekly", "Every Sunday at midnight"},
        {"@monthly", "The 1st of every month at midnight"},
        {"@yearly", "1 January at midnight"},
        {"@annually", "1 January at midnight"},
        {"* * * * *", "Every minute"},
        {"*/15 * * * *", "Every 15 minutes"},
        {"*/1 * * * *", "Every minute"},
        {"*/60 * * * *", "Every 60 minutes"},
        {"*/90 * * * *", "Every hour at minute 0"}, // a step wider than the hour runs at :00 only
        {"0,30 * * * *", "Every hour at minute 0 and 30"},
        {"0,10,20,30,40,50 * * * *", "Every hour at minute 0 and 10 and 20 and 30 and 40 and 50"},
        {"0-6 * * * *", "Every hour at 7 selected minutes"},
        {"5 */3 * * *", "Every 3 hours at minute 5"},
        {"5 */3,1 * * *", "At minute 5 past hours 0, 1, 3, 6, 9, 12, 15, 18, 21, every day"},
        {"5 */30 * * *", "At 00:05, every day"},
        {"0 */2 * * *",
         "At minute 0 past hours 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, every day"},
        {"5 */3 * * 1", "At minute 5 past hours 0, 3, 6, 9, 12, 15, 18, 21, on Monday"},
        {"*/15 9-17 * * 1-5", "Every 15 minutes, between 09:00 and 17:59, on Monday, Tuesday, "
                              "Wednesday, Thursday, Friday"},
        {"*/15 9,17 * * *", "At 8 times a day, every day"}, // nothing runs from 10:00 to 16:59
        {"*/15 9,10,11 * * *", "Every 15 minutes, between 09:00 and 11:59"},
        {"*/90 9-17 * * *", "At minute 0 past hours 9, 10, 11, 12, 13, 14, 15, 16, 17, every day"},
        {"*/1 9-17 * * *", "Every 1 minutes, between 09:00 and 17:59"},
        {"*/15 */2 * * *", "At 48 times a day, every day"},
        {"*/15 9 * * *", "At 09:00, 09:15, 09:30, 09:45, every day"},
        {"*/10 9 * * *", "At 09:00, 09:10, 09:20, 09:30, 09:40, 09:50, every day"},
        {"*/5 9 * * *", "At 12 times a day, every day"},
        {"0 9 * * *", "At 09:00, every day"},
        {"0,30 9,17 * * *", "At 09:00, 09:30, 17:00, 17:30, every day"},
        {"0 1,2,3,4,5,6 * * *", "At 01:00, 02:00, 03:00, 04:00, 05:00, 06:00, every day"},
        {"0 1,2,3,4,5,6,7 * * *", "At minute 0 past hours 1, 2, 3, 4, 5, 6, 7, every day"},
        {"* 9-17 * * *", "At 540 times a day, every day"},
        {"5 0-23 * * *", "At 24 times a day, every day"},
        {"* * * * 1-5", "Every minute, on Monday, Tuesday, Wednesday, Thursday, Friday"},
        {"0 0 * * 0,7", "At 00:00, on Sunday"},
        {"0 0 * * */2", "At 00:00, on Sunday, Tuesday, Thursday, Saturday"},
        {"0 0 1 * *", "At 00:00, on day 1 of the month"},
        {"0 0 1,15 * *", "At 00:00, on days 1, 15 of the month"},
        {"0 0 */5 * *", "At 00:00, every 5 days of the month"},
        {"0 0 */10,5 * *", "At 00:00, on days 1, 5, 11, 21, 31 of the month"},
        {"0 0 */40 * *", "At 00:00, on day 1 of the month"},
        {"0 0 1-31/5 * *", "At 00:00, on days 1, 6, 11, 16, 21, 26, 31 of the month"},
        {"0 0 1 1 *", "At 00:00, in January on day 1 of the month"},
        {"0 0 * 1,7 *", "At 00:00, in January, July"},
        {"0 0 * */2 *", "At 00:00, in January, March, May, July, September, November"},
        {"0 0 13 * 5", "At 00:00, on Friday or day 13 of the month"},
        {"30 4 1,15 * 5", "At 04:30, on Friday or on selected days of the month"},
        {"0 0 1 6 1,3", "At 00:00, in June on Monday, Wednesday or day 1 of the month"},
        {"0 12 * jan-mar mon-fri",
         "At 12:00, in January, February, March on Monday, Tuesday, Wednesday, Thursday, Friday"},
        {"0 0 1-8 1-11 *", "At 00:00, in January, February, March, April, May, June, July, August, "
                           "September, October, November on days 1, 2, 3, 4, 5, 6, 7, 8 of the"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expr);
        cron_expr ce;
        ASSERT_EQ(cron_parse(&ce, c.expr), 1) << ce.error;
        EXPECT_STREQ(ce.description, c.description);
    }
}

TEST(CronDescribe, LongSentenceIsCutAt223Characters) {
    cron_expr ce;
    ASSERT_EQ(cron_parse(&ce, "0 0-22 * 1-11 0-5"), 1);
    std::string d = ce.description;
    EXPECT_EQ(d.size(), 223u);
    EXPECT_EQ(d.substr(0, 39), "At minute 0 past hours 0, 1, 2, 3, 4, 5");
    const std::string tail = "on Sunday, Monday, Tuesday, ";
    EXPECT_EQ(d.substr(d.size() - tail.size()), tail);
}

TEST(CronDescribe, UnknownKeywordTextIsCustomSchedule) {
    cron_expr ce;
    ASSERT_EQ(cron_parse(&ce, "@daily"), 1);
    strcpy(ce.keyword, "@often");
    char out[CRON_DESCRIPTION_CAP];
    cron_describe(&ce, out);
    EXPECT_STREQ(out, "Custom schedule");
}
