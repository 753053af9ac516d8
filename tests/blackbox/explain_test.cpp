// The explain action, answered byte for byte with the clock pinned.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <vector>

#include "runner.h"

using nlohmann::json;

namespace {

const std::string k_now_utc = "\"now_utc\":\"2026-11-12T04:36:30Z\"";
const std::string k_now_local = "\"now_local\":\"2026-11-12 04:36\"";

std::string explain_body(const std::string &expr_param, const std::string &tz = "UTC",
                         long long now = k_now) {
    auto r = run_query("action=explain&expr=" + expr_param, {}, now, tz);
    std::string body = json_body(r);
    EXPECT_TRUE(json::accept(body)) << body;
    return body;
}

std::string run_record(const std::string &utc, const std::string &local, long long in) {
    return "{\"utc\":\"" + utc + "\",\"local\":\"" + local +
           "\",\"in_seconds\":" + std::to_string(in) + "}";
}

} // namespace

TEST(Explain, ValidFiveFieldExpression) {
    const std::string expected =
        "{\"ok\":true,\"action\":\"explain\",\"expr\":\"*/15 9-17 * * 1-5\",\"valid\":true,"
        "\"keyword\":\"\",\"description\":\"Every 15 minutes, between 09:00 and 17:59, on Monday, "
        "Tuesday, Wednesday, Thursday, Friday\",\"normalized\":\"*/15 9-17 * * 1-5\","
        "\"fields\":{\"minute\":\"*/15\",\"hour\":\"9-17\",\"day_of_month\":\"*\",\"month\":\"*\","
        "\"day_of_week\":\"1-5\"},\"boot_only\":false," +
        k_now_utc + "," + k_now_local + ",\"next\":[" +
        run_record("2026-11-12T09:00:00Z", "2026-11-12 09:00", 15810) + "," +
        run_record("2026-11-12T09:15:00Z", "2026-11-12 09:15", 16710) + "," +
        run_record("2026-11-12T09:30:00Z", "2026-11-12 09:30", 17610) + "," +
        run_record("2026-11-12T09:45:00Z", "2026-11-12 09:45", 18510) + "," +
        run_record("2026-11-12T10:00:00Z", "2026-11-12 10:00", 19410) +
        "],\"systemd\":{\"on_calendar\":[\"Mon..Fri *-*-* 09..17:00,15,30,45:00\"]}}\n";
    EXPECT_EQ(explain_body("*%2F15+9-17+*+*+1-5"), expected);
}

TEST(Explain, KeywordAnswers) {
    const std::string reboot =
        "{\"ok\":true,\"action\":\"explain\",\"expr\":\"@reboot\",\"valid\":true,\"keyword\":"
        "\"@reboot\",\"description\":\"When the system starts\",\"normalized\":\"@reboot\","
        "\"fields\":{\"minute\":\"@reboot\",\"hour\":\"@reboot\",\"day_of_month\":\"@reboot\","
        "\"month\":\"@reboot\",\"day_of_week\":\"@reboot\"},\"boot_only\":true," +
        k_now_utc + "," + k_now_local + ",\"next\":[],\"systemd\":{\"on_boot_sec\":\"0\"}}\n";
    EXPECT_EQ(explain_body("@reboot"), reboot);

    const std::string weekly =
        "{\"ok\":true,\"action\":\"explain\",\"expr\":\"@weekly\",\"valid\":true,\"keyword\":"
        "\"@weekly\",\"description\":\"Every Sunday at midnight\",\"normalized\":\"@weekly\","
        "\"fields\":{\"minute\":\"0\",\"hour\":\"0\",\"day_of_month\":\"*\",\"month\":\"*\","
        "\"day_of_week\":\"0\"},\"boot_only\":false," +
        k_now_utc + "," + k_now_local + ",\"next\":[" +
        run_record("2026-11-15T00:00:00Z", "2026-11-15 00:00", 242610) + "," +
        run_record("2026-11-22T00:00:00Z", "2026-11-22 00:00", 847410) + "," +
        run_record("2026-11-29T00:00:00Z", "2026-11-29 00:00", 1452210) + "," +
        run_record("2026-12-06T00:00:00Z", "2026-12-06 00:00", 2057010) + "," +
        run_record("2026-12-13T00:00:00Z", "2026-12-13 00:00", 2661810) +
        "],\"systemd\":{\"on_calendar\":[\"Sun *-*-* 00:00:00\"]}}\n";
    EXPECT_EQ(explain_body("@weekly"), weekly);

    const struct {
        const char *keyword, *fields;
    } rows[] = {
        {"@hourly", "{\"minute\":\"0\",\"hour\":\"*\",\"day_of_month\":\"*\",\"month\":\"*\",\"day_"
                    "of_week\":\"*\"}"},
        {"@daily", "{\"minute\":\"0\",\"hour\":\"0\",\"day_of_month\":\"*\",\"month\":\"*\",\"day_"
                   "of_week\":\"*\"}"},
        {"@midnight", "{\"minute\":\"0\",\"hour\":\"0\",\"day_of_month\":\"*\",\"month\":\"*\","
                      "\"day_of_week\":\"*\"}"},
        {"@monthly", "{\"minute\":\"0\",\"hour\":\"0\",\"day_of_month\":\"1\",\"month\":\"*\","
                     "\"day_of_week\":\"*\"}"},
        {"@yearly", "{\"minute\":\"0\",\"hour\":\"0\",\"day_of_month\":\"1\",\"month\":\"1\",\"day_"
                    "of_week\":\"*\"}"},
        {"@annually", "{\"minute\":\"0\",\"hour\":\"0\",\"day_of_month\":\"1\",\"month\":\"1\","
                      "\"day_of_week\":\"*\"}"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.keyword);
        std::string body = explain_body(std::string("+") + row.keyword + "++");
        EXPECT_NE(body.find("\"expr\":\" " + std::string(row.keyword) + "  \""), std::string::npos);
        EXPECT_NE(body.find("\"keyword\":\"" + std::string(row.keyword) + "\""), std::string::npos);
        EXPECT_NE(body.find("\"normalized\":\"" + std::string(row.keyword) + "\""),
                  std::string::npos);
        EXPECT_NE(body.find(std::string("\"fields\":") + row.fields + ",\"boot_only\":false"),
                  std::string::npos);
        EXPECT_EQ(json::parse(body)["next"].size(), 5u);
    }
}

TEST(Explain, InvalidAndMissingAnswers) {
    const std::string missing =
        "{\"ok\":false,\"error\":\"missing expr parameter\",\"valid\":false}\n";
    EXPECT_EQ(missing.size(), 60u);
    for (const char *q : {"action=explain", "action=explain&expr=", "action=explain&expr=%00abc",
                          "expr=&action=explain"}) {
        SCOPED_TRACE(q);
        EXPECT_ANSWER(run_query(q), k_json_header + missing);
    }
    const struct {
        std::string param, echoed, error;
    } cases[] = {
        {"+++", "   ", "empty expression"},
        {"61+*+*+*+*", "61 * * * *", "minute out of range 0-59"},
        {"@DAILY", "@DAILY", "unknown @keyword"},
        {"%01%09x%22%5C", "\\u0001\\tx\\\"\\\\", "expected 5 fields"},
        {"caf%C3%A9", "caf\xc3\xa9", "expected 5 fields"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.param);
        EXPECT_EQ(explain_body(c.param),
                  "{\"ok\":true,\"action\":\"explain\",\"expr\":\"" + c.echoed +
                      "\",\"valid\":false,\"error\":\"" + c.error +
                      "\",\"description\":\"\",\"keyword\":\"\",\"next\":[]," + k_now_utc + "," +
                      k_now_local + "}\n");
    }
}

TEST(Explain, FieldsAreCutTo11BytesButNormalizedIsWhole) {
    auto body = json::parse(explain_body("0,5,10,15,20,25+++1+*+*+*++"));
    EXPECT_EQ(body["expr"], "0,5,10,15,20,25   1 * * *  ");
    EXPECT_EQ(body["fields"]["minute"], "0,5,10,15,2");
    EXPECT_EQ(body["normalized"], "0,5,10,15,20,25 1 * * *");
}

TEST(Explain, NeverFiringScheduleIsValidWithNoRuns) {
    auto body = json::parse(explain_body("0+0+30+2+*"));
    EXPECT_EQ(body["valid"], true);
    EXPECT_EQ(body["boot_only"], false);
    EXPECT_TRUE(body["next"].empty());
}

// Long expressions are judged whole, however they were encoded; one too long
// to read whole is refused as such, never judged in part.
TEST(Explain, LongExpressionsAreJudgedWhole) {
    std::string minutes, encoded; // 0,1,...,59: 170 bytes; 287 as the page encodes commas
    for (int m = 0; m < 60; m++) {
        minutes += (m ? "," : "") + std::to_string(m);
        encoded += (m ? "%2C" : "") + std::to_string(m);
    }
    auto every = json::parse(explain_body(encoded + "%20*%20*%20*%20*"));
    EXPECT_EQ(every["valid"], true) << every.dump();
    EXPECT_EQ(every["expr"], minutes + " * * * *");
    EXPECT_EQ(every["normalized"], minutes + " * * * *");
    EXPECT_EQ(every["description"], "Every minute");
    EXPECT_EQ(every["next"][0]["utc"], "2026-11-12T04:37:00Z");
    EXPECT_EQ(every["next"][4]["utc"], "2026-11-12T04:41:00Z");

    // Minutes 16 and 17 lie past the 39 bytes a field text keeps for display.
    const long long quarter_past = 1794456930; // 2026-11-12 04:15:30 UTC
    auto list = json::parse(
        explain_body("0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17+*+*+*+*", "UTC", quarter_past));
    EXPECT_EQ(list["fields"]["minute"], "0,1,2,3,4,5");
    std::vector<std::string> runs;
    for (const auto &r : list["next"]) runs.push_back(r["utc"]);
    EXPECT_EQ(runs, (std::vector<std::string>{"2026-11-12T04:16:00Z", "2026-11-12T04:17:00Z",
                                              "2026-11-12T05:00:00Z", "2026-11-12T05:01:00Z",
                                              "2026-11-12T05:02:00Z"}));

    auto padded = json::parse(explain_body(std::string(130, '+') + "*+*+*+*+*"));
    EXPECT_EQ(padded["valid"], true);
    EXPECT_EQ(padded["expr"], std::string(130, ' ') + "* * * * *");
    EXPECT_EQ(padded["normalized"], "* * * * *");
}

TEST(Explain, TextAfterAKeywordOrTooLongATextIsRefused) {
    const std::string tail = ",\"description\":\"\",\"keyword\":\"\",\"next\":[]," + k_now_utc +
                             "," + k_now_local + "}\n";
    EXPECT_EQ(explain_body("@daily" + std::string(17, '+') + "x"),
              "{\"ok\":true,\"action\":\"explain\",\"expr\":\"@daily" + std::string(17, ' ') +
                  "x\",\"valid\":false,\"error\":\"unknown @keyword\"" + tail);
    const std::string zeros(1100, '0');
    EXPECT_EQ(explain_body(zeros + "5+*+*+*+*"),
              "{\"ok\":true,\"action\":\"explain\",\"expr\":\"" + zeros +
                  "5 * * * *\",\"valid\":false,\"error\":\"expression too long\"" + tail);
    // More than the request buffer holds: the echo is cut, the verdict is the same.
    auto huge = json::parse(explain_body(std::string(5000, '0') + "5+*+*+*+*"));
    EXPECT_EQ(huge["valid"], false);
    EXPECT_EQ(huge["error"], "expression too long");
    EXPECT_EQ(huge["expr"], std::string(4095, '0'));
}

// Local stamps follow the node's zone, through a daylight-saving change,
// while the matching stays in UTC: 01:30 local happens twice.
TEST(Explain, LocalStampsFollowTheZoneAcrossDaylightSaving) {
    // msvcrt reads TZ only as NAME[+|-]h[:mm][DST NAME], with US daylight dates.
    const bool win = program_is_windows();
    const std::string new_york = win ? "EST5EDT" : "America/New_York";
    const std::string india = win ? "IST-5:30" : "Asia/Kolkata";
    const long long now = 1793507400; // 2026-11-01 04:30:00 UTC = 00:30 EDT
    const std::string expected =
        "{\"ok\":true,\"action\":\"explain\",\"expr\":\"30 * * * *\",\"valid\":true,"
        "\"keyword\":\"\",\"description\":\"Every hour at minute 30\",\"normalized\":\"30 * * * "
        "*\","
        "\"fields\":{\"minute\":\"30\",\"hour\":\"*\",\"day_of_month\":\"*\",\"month\":\"*\","
        "\"day_of_week\":\"*\"},\"boot_only\":false,\"now_utc\":\"2026-11-01T04:30:00Z\","
        "\"now_local\":\"2026-11-01 00:30\",\"next\":[" +
        run_record("2026-11-01T05:30:00Z", "2026-11-01 01:30", 3600) + "," +
        run_record("2026-11-01T06:30:00Z", "2026-11-01 01:30", 7200) + "," +
        run_record("2026-11-01T07:30:00Z", "2026-11-01 02:30", 10800) + "," +
        run_record("2026-11-01T08:30:00Z", "2026-11-01 03:30", 14400) + "," +
        run_record("2026-11-01T09:30:00Z", "2026-11-01 04:30", 18000) +
        "],\"systemd\":{\"on_calendar\":[\"*-*-* *:30:00\"],\"note\":\"When the clock moves "
        "back, cron runs the times of the repeated hour twice, while systemd runs them once.\"}}\n";
    EXPECT_EQ(explain_body("30+*+*+*+*", new_york, now), expected);
    auto kolkata = json::parse(explain_body("0+9+*+*+*", india));
    EXPECT_EQ(kolkata["now_local"], "2026-11-12 10:06");
    EXPECT_EQ(kolkata["next"][0]["utc"], "2026-11-12T09:00:00Z");
    EXPECT_EQ(kolkata["next"][0]["local"], "2026-11-12 14:30");
}

TEST(Explain, EveryInSecondsIsMeasuredFromTheStampedNow) {
    auto body = json::parse(explain_body("*+*+*+*+*"));
    EXPECT_EQ(body["now_utc"], "2026-11-12T04:36:30Z");
    long long expected = 30;
    for (const auto &run : body["next"]) {
        EXPECT_EQ(run["in_seconds"].get<long long>(), expected);
        expected += 60;
    }
}

// A valid cron expression's answer ends with the timer that runs it as the
// node's cron does: two values when either day field suffices, OnBootSec=
// for @reboot, and a note where the two part on the days the clock changes.
TEST(Explain, CronAnswersEndWithTheTimer) {
    const struct {
        const char *param, *tz, *systemd;
    } cases[] = {
        {"0+0+1%2C15+*+1", "UTC",
         "{\"on_calendar\":[\"*-*-01,15 00:00:00\",\"Mon *-*-* 00:00:00\"]}"},
        {"0+0+*%2F2+*+1", "UTC", "{\"on_calendar\":[\"Mon *-*-01..31/2 00:00:00\"]}"},
        {"0+0+1-31+*+1", "UTC", "{\"on_calendar\":[\"*-*-* 00:00:00\"]}"},
        {"%40monthly", "UTC", "{\"on_calendar\":[\"*-*-01 00:00:00\"]}"},
        {"30+2+*+*+*", "Europe/Berlin",
         "{\"on_calendar\":[\"*-*-* 02:30:00\"],\"note\":\"When the clock moves forward, cron runs "
         "the times of the skipped hour right after the change, while systemd skips them.\"}"},
        {"30+2+*+*+*", "UTC", "{\"on_calendar\":[\"*-*-* 02:30:00\"]}"},
        {"*+1-3+*+*+*", "America/New_York",
         "{\"on_calendar\":[\"*-*-* 01..03:*:00\"],\"note\":\"When the clock moves back, cron runs "
         "the times of the repeated hour twice, while systemd runs them once.\"}"},
        // A line the node's cron rejects: the timer, and that cron never runs it.
        {"5%2F10+*+*+*+*", "Europe/Berlin",
         "{\"on_calendar\":[\"*-*-* *:05,15,25,35,45,55:00\"],\"note\":\"The node's cron rejects "
         "this line and never runs it: step after a single value, which cron rejects (write a "
         "range, as 5-59/10).\"}"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.param) + " " + c.tz);
        if (program_is_windows() && std::string(c.tz).find('/') != std::string::npos) continue;
        const std::string body = explain_body(c.param, c.tz);
        const std::string tail = ",\"systemd\":" + std::string(c.systemd) + "}\n";
        ASSERT_GE(body.size(), tail.size());
        EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
        EXPECT_EQ(json::parse(body).count("systemd"), 1u);
    }
    // An invalid expression has no timer.
    EXPECT_EQ(json::parse(explain_body("61+*+*+*+*")).count("systemd"), 0u);
}

// syntax=systemd reads expr as an OnCalendar= value.
TEST(Explain, CalendarEventAnswers) {
    const std::string weekdays =
        "{\"ok\":true,\"action\":\"explain\",\"syntax\":\"systemd\",\"expr\":\"Mon..Fri 9:00\","
        "\"valid\":true,\"normalized\":\"Mon..Fri *-*-* 09:00:00\",\"description\":\"Every "
        "Monday to Friday at 09:00\"," +
        k_now_utc + "," + k_now_local + ",\"next\":[" +
        run_record("2026-11-12T09:00:00Z", "2026-11-12 09:00", 15810) + "," +
        run_record("2026-11-13T09:00:00Z", "2026-11-13 09:00", 102210) + "," +
        run_record("2026-11-16T09:00:00Z", "2026-11-16 09:00", 361410) + "," +
        run_record("2026-11-17T09:00:00Z", "2026-11-17 09:00", 447810) + "," +
        run_record("2026-11-18T09:00:00Z", "2026-11-18 09:00", 534210) +
        "],\"cron\":{\"expr\":\"0 9 * * 1-5\"}}\n";
    EXPECT_EQ(explain_body("Mon..Fri+9%3A00&syntax=systemd"), weekdays);

    // A named zone times the runs; the local stamps stay the node's. (The
    // Windows runtime knows no zone names, so there the value is rejected.)
    if (!program_is_windows()) {
        auto berlin = json::parse(explain_body("daily+Europe%2FBerlin&syntax=systemd"));
        EXPECT_EQ(berlin["normalized"], "*-*-* 00:00:00 Europe/Berlin");
        EXPECT_EQ(berlin["next"][0]["utc"], "2026-11-12T23:00:00Z");
        EXPECT_EQ(berlin["next"][0]["local"], "2026-11-12 23:00");
        EXPECT_EQ(berlin["cron"], json::parse("{\"reason\":\"a zone other than the node's is "
                                              "not expressible in cron\"}"));
    }

    const struct {
        const char *param, *cron;
    } reverse[] = {
        {"*%3A*%3A0%2F30", "{\"reason\":\"seconds are not expressible in cron\"}"},
        {"2027-*-*", "{\"reason\":\"years are not expressible in cron\"}"},
        {"*-02~01", "{\"reason\":\"days counted from the end of the month are not expressible in "
                    "cron\"}"},
        {"Fri+*-*-13", "{\"reason\":\"a day of the month together with a weekday is not "
                       "expressible in cron, which runs on either\"}"},
        {"Sun+*-*-1..7+1%3A00", "{\"expr\":\"0 1 1-7 * */7\"}"},
        {"quarterly", "{\"expr\":\"0 0 1 */3 *\"}"},
        {"daily+UTC", "{\"expr\":\"0 0 * * *\"}"},
    };
    for (const auto &c : reverse) {
        SCOPED_TRACE(c.param);
        auto body = json::parse(explain_body(std::string(c.param) + "&syntax=systemd"));
        EXPECT_EQ(body["valid"], true);
        EXPECT_EQ(body["cron"], json::parse(c.cron));
    }

    const std::string invalid =
        "{\"ok\":true,\"action\":\"explain\",\"syntax\":\"systemd\",\"expr\":\"*-*-32\","
        "\"valid\":false,\"error\":\"value out of range\",\"normalized\":\"\",\"description\":"
        "\"\",\"next\":[]," +
        k_now_utc + "," + k_now_local + "}\n";
    EXPECT_EQ(explain_body("*-*-32&syntax=systemd"), invalid);
    auto long_one = json::parse(explain_body(std::string(1100, '0') + "&syntax=systemd"));
    EXPECT_EQ(long_one["error"], "expression too long");
    EXPECT_EQ(json_body(run_query("action=explain&syntax=systemd")),
              "{\"ok\":false,\"error\":\"missing expr parameter\",\"valid\":false}\n");
    EXPECT_EQ(json_body(run_query("action=explain&expr=daily&syntax=SYSTEMD")),
              "{\"ok\":false,\"error\":\"unknown syntax\",\"valid\":false}\n");
    // syntax=cron is the default, byte for byte.
    EXPECT_EQ(explain_body("%40daily&syntax=cron"), explain_body("%40daily"));
}
