#include <gtest/gtest.h>
#include <string>

#include "cron/cron.h"

namespace {

// The selected values of a table as a comma list, for compact expectations.
std::string values(const unsigned char *t, int from, int to) {
    std::string s;
    for (int i = from; i <= to; i++)
        if (t[i]) s += (s.empty() ? "" : ",") + std::to_string(i);
    return s;
}

std::string range(int from, int to) {
    std::string s;
    for (int i = from; i <= to; i++) s += (s.empty() ? "" : ",") + std::to_string(i);
    return s;
}

struct accept_case {
    std::string expr;
    std::string minutes, hours, dom, months, dow;
    int dom_restricted, dow_restricted;
};

} // namespace

TEST(CronParse, AcceptedExpressionsFillTablesAndFlags) {
    const std::string all_min = range(0, 59), all_h = range(0, 23), all_d = range(1, 31),
                      all_m = range(1, 12), all_w = range(0, 6);
    const accept_case cases[] = {
        {"* * * * *", all_min, all_h, all_d, all_m, all_w, 0, 0},
        {"5/2 * * * *",
         "5,7,9,11,13,15,17,19,21,23,25,27,29,31,33,35,37,39,41,43,45,47,49,51,53,55,57,59", all_h,
         all_d, all_m, all_w, 0, 0},
        {"1-3/2 * * * *", "1,3", all_h, all_d, all_m, all_w, 0, 0},
        {"0 0 * * MON-FRI", "0", "0", all_d, all_m, "1,2,3,4,5", 0, 1},
        {"0 0 * * 7", "0", "0", all_d, all_m, "0", 0, 1},
        {"0 0 * * 0-7", "0", "0", all_d, all_m, all_w, 0, 0},
        {"0 0 * * 1/2", "0", "0", all_d, all_m, "0,1,3,5", 0, 1},
        {"*/100 * * * *", "0", all_h, all_d, all_m, all_w, 0, 0},
        {"0 */25 * * *", "0", "0", all_d, all_m, all_w, 0, 0},
        {"0 0 * * */8", "0", "0", all_d, all_m, "0", 0, 1},
        {"0 0 * * mon-7", "0", "0", all_d, all_m, all_w, 0, 0},
        {"* * * JAN *", all_min, all_h, all_d, "1", all_w, 0, 0},
        {"* * * Dec,feb *", all_min, all_h, all_d, "2,12", all_w, 0, 0},
        {"1,2, * * * *", "1,2", all_h, all_d, all_m, all_w, 0, 0},
        // Whole fields are parsed, however long: no minute is lost to a cut.
        {"0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17 * * * *", range(0, 17), all_h, all_d, all_m,
         all_w, 0, 0},
        {all_min + " * * * *", all_min, all_h, all_d, all_m, all_w, 0, 0},
        {std::string(130, ' ') + "* * * * *", all_min, all_h, all_d, all_m, all_w, 0, 0},
        {std::string(150, '0') + "5 * * * *", "5", all_h, all_d, all_m, all_w, 0, 0},
        {"* * 1-31 * *", all_min, all_h, all_d, all_m, all_w, 0, 0},
        {"* * */1 * sun-sat", all_min, all_h, all_d, all_m, all_w, 0, 0},
        {"* * 31 2 *", all_min, all_h, "31", "2", all_w, 1, 0},
        {"007 0 1 1 1-7", "7", "0", "1", "1", all_w, 1, 0},
        {" \t0\t0   *  * 5 ", "0", "0", all_d, all_m, "5", 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expr);
        cron_expr ce;
        ASSERT_EQ(cron_parse(&ce, c.expr.c_str()), 1) << ce.error;
        EXPECT_EQ(ce.valid, 1);
        EXPECT_STREQ(ce.error, "");
        EXPECT_NE(ce.description[0], 0);
        EXPECT_EQ(values(ce.minutes, 0, 59), c.minutes);
        EXPECT_EQ(values(ce.hours, 0, 23), c.hours);
        EXPECT_EQ(values(ce.days_of_month, 0, 31), c.dom); // slot 0 stays 0
        EXPECT_EQ(values(ce.months, 0, 12), c.months);
        EXPECT_EQ(values(ce.days_of_week, 0, 6), c.dow);
        EXPECT_EQ(ce.dom_restricted, c.dom_restricted);
        EXPECT_EQ(ce.dow_restricted, c.dow_restricted);
        EXPECT_EQ(ce.boot_only, 0);
        EXPECT_STREQ(ce.keyword, "");
    }
}

TEST(CronParse, RejectedExpressionsGiveTheirErrorText) {
    const struct {
        std::string expr, error;
    } cases[] = {
        {"", "empty expression"},
        {"   \t ", "empty expression"},
        {"*/0 * * * *", "bad minute field"},
        {"0 0 * * monday", "bad day-of-week field"},
        {"60 * * * *", "minute out of range 0-59"},
        {"100000 * * * *", "minute out of range 0-59"},
        {"100001 * * * *", "bad minute field"},
        {"30-10 * * * *", "minute out of range 0-59"},
        {"0 0 * * sat-sun", "day-of-week out of range 0-7"},
        {"0 0 * * 8", "day-of-week out of range 0-7"},
        {"* 24 * * *", "hour out of range 0-23"},
        {"* x * * *", "bad hour field"},
        {"* * 0 * *", "day-of-month out of range 1-31"},
        {"* * 32 * *", "day-of-month out of range 1-31"},
        {"* * L * *", "bad day-of-month field"},
        {"* * * 0 *", "month out of range 1-12"},
        {"* * * 13 *", "month out of range 1-12"},
        {"* * * january *", "bad month field"},
        {"jan * * * *", "bad minute field"},
        {",1 * * * *", "bad minute field"},
        {"1,,2 * * * *", "bad minute field"},
        {"*/5/2 * * * *", "bad minute field"},
        {"*/ * * * *", "bad minute field"},
        {"1-2-3 * * * *", "bad minute field"},
        {"? * * * *", "bad minute field"},
        {"-1 * * * *", "bad minute field"},
        {"+1 * * * *", "bad minute field"},
        {"* * * * 5-", "bad day-of-week field"},
        {"* * * * -5", "bad day-of-week field"},
        {"* * * * 5#2", "bad day-of-week field"},
        {"* * * *", "expected 5 fields"},
        {"* * * * * *", "too many fields"},
        {"1 2 3 4 5 6 7 8 9", "too many fields"},
        {"@DAILY", "unknown @keyword"},
        {"@daily x", "unknown @keyword"},
        {"@", "unknown @keyword"},
        {"@daily * * * *", "unknown @keyword"},
        {"@daily" + std::string(16, ' ') + "x", "unknown @keyword"},
        {"@daily" + std::string(17, ' ') + "x", "unknown @keyword"},
        {"@daily" + std::string(300, ' ') + "x", "unknown @keyword"},
        {std::string(1020, '0') + "5 * * * *", "expression too long"},
        {"  " + std::string(1015, '0') + "5 * * * *  ", "expression too long"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expr);
        cron_expr ce;
        EXPECT_EQ(cron_parse(&ce, c.expr.c_str()), 0);
        EXPECT_EQ(ce.valid, 0);
        EXPECT_EQ(std::string(ce.error), c.error);
        EXPECT_STREQ(ce.description, "");
        EXPECT_STREQ(ce.keyword, "");
    }
}

TEST(CronParse, FieldTextsStayFilledAfterAFieldError) {
    cron_expr ce;
    EXPECT_EQ(cron_parse(&ce, "0 0 * * x"), 0);
    EXPECT_STREQ(ce.error, "bad day-of-week field");
    const char *expected[5] = {"0", "0", "*", "*", "x"};
    for (int i = 0; i < 5; i++) EXPECT_STREQ(ce.field_text[i], expected[i]);
    EXPECT_EQ(cron_parse(&ce, "* * * * * *"), 0);
    for (int i = 0; i < 5; i++) EXPECT_STREQ(ce.field_text[i], "");
}

// expr and field_text are display copies: cut to 127 and 39 bytes, never
// inside a UTF-8 character, while the parse judges the whole text.
TEST(CronParse, DisplayCopiesAreCutButTheWholeTextIsJudged) {
    cron_expr ce;
    std::string minute = "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17";
    ASSERT_EQ(cron_parse(&ce, (minute + " * * * *").c_str()), 1);
    EXPECT_STREQ(ce.field_text[0], "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,1");
    EXPECT_EQ(ce.minutes[17], 1);
    std::string longtext(200, 'a');
    cron_parse(&ce, longtext.c_str());
    EXPECT_EQ(std::string(ce.expr), std::string(127, 'a'));
    EXPECT_STREQ(ce.error, "expected 5 fields");
    cron_parse(&ce, "  @daily  ");
    EXPECT_STREQ(ce.expr, "  @daily  ");
    // 126 ASCII bytes, then a two-byte character that would straddle the cut.
    std::string accented = std::string(126, 'a') + "\xc3\xa9";
    cron_parse(&ce, accented.c_str());
    EXPECT_EQ(std::string(ce.expr), std::string(126, 'a'));
}

TEST(CronParse, Keywords) {
    const struct {
        std::string expr, keyword, minutes, hours, dom, months, dow;
        int dom_r, dow_r, boot;
    } cases[] = {
        {"@reboot", "@reboot", range(0, 59), range(0, 23), range(0, 31), range(0, 12), range(0, 6),
         0, 0, 1},
        {"@hourly", "@hourly", "0", range(0, 23), range(0, 31), range(0, 12), range(0, 6), 0, 0, 0},
        {"@daily", "@daily", "0", "0", range(0, 31), range(0, 12), range(0, 6), 0, 0, 0},
        {"  @daily  ", "@daily", "0", "0", range(0, 31), range(0, 12), range(0, 6), 0, 0, 0},
        {"@midnight", "@midnight", "0", "0", range(0, 31), range(0, 12), range(0, 6), 0, 0, 0},
        {"@weekly", "@weekly", "0", "0", range(0, 31), range(0, 12), "0", 0, 1, 0},
        {"@monthly", "@monthly", "0", "0", "1", range(0, 12), range(0, 6), 1, 0, 0},
        {"@yearly", "@yearly", "0", "0", "1", "1", range(0, 6), 1, 0, 0},
        {"@annually", "@annually", "0", "0", "1", "1", range(0, 6), 1, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expr);
        cron_expr ce;
        ASSERT_EQ(cron_parse(&ce, c.expr.c_str()), 1);
        EXPECT_EQ(std::string(ce.keyword), c.keyword);
        EXPECT_EQ(values(ce.minutes, 0, 59), c.minutes);
        EXPECT_EQ(values(ce.hours, 0, 23), c.hours);
        EXPECT_EQ(values(ce.days_of_month, 0, 31), c.dom);
        EXPECT_EQ(values(ce.months, 0, 12), c.months);
        EXPECT_EQ(values(ce.days_of_week, 0, 6), c.dow);
        EXPECT_EQ(ce.dom_restricted, c.dom_r);
        EXPECT_EQ(ce.dow_restricted, c.dow_r);
        EXPECT_EQ(ce.boot_only, c.boot);
        for (int i = 0; i < 5; i++) EXPECT_STREQ(ce.field_text[i], "");
    }
}

TEST(ParseValue, NamesNumbersAndLimits) {
    int v = -1;
    EXPECT_EQ(parse_value("Mon", 3, k_dow_names, 7, 0, &v), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(parse_value("DECx", 3, k_mon_names, 12, 1, &v), 1); // only len chars count
    EXPECT_EQ(v, 12);
    EXPECT_EQ(parse_value("mon", 3, nullptr, 0, 0, &v), 0);
    EXPECT_EQ(parse_value("00042", 5, nullptr, 0, 0, &v), 1);
    EXPECT_EQ(v, 42);
    v = -1;
    EXPECT_EQ(parse_value("", 0, nullptr, 0, 0, &v), 0);
    EXPECT_EQ(parse_value("100001", 6, nullptr, 0, 0, &v), 0);
    EXPECT_EQ(parse_value("1 2", 3, nullptr, 0, 0, &v), 0);
    EXPECT_EQ(v, -1); // nothing stored on failure
}

TEST(ParseField, ReturnCodesAndMarksKeptFromEarlierItems) {
    unsigned char t[60] = {};
    EXPECT_EQ(parse_field("1,70", &k_cron_fields[0], t), -1);
    EXPECT_EQ(t[1], 1); // earlier items stay marked
    EXPECT_EQ(parse_field("", &k_cron_fields[0], t), 0);
    EXPECT_EQ(parse_field(std::string(256, '1').c_str(), &k_cron_fields[0], t), 0);
    EXPECT_EQ(parse_field("70/0", &k_cron_fields[0], t), 0); // the step is checked first
}
