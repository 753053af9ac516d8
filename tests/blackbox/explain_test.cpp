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
        run_record("2026-11-12T10:00:00Z", "2026-11-12 10:00", 19410) + "]}\n";
    EXPECT_EQ(explain_body("*%2F15+9-17+*+*+1-5"), expected);
}

TEST(Explain, KeywordAnswers) {
    const std::string reboot =
        "{\"ok\":true,\"action\":\"explain\",\"expr\":\"@reboot\",\"valid\":true,\"keyword\":"
        "\"@reboot\",\"description\":\"When the system starts\",\"normalized\":\"@reboot\","
        "\"fields\":{\"minute\":\"@reboot\",\"hour\":\"@reboot\",\"day_of_month\":\"@reboot\","
        "\"month\":\"@reboot\",\"day_of_week\":\"@reboot\"},\"boot_only\":true," +
        k_now_utc + "," + k_now_local + ",\"next\":[]}\n";
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
        run_record("2026-12-13T00:00:00Z", "2026-12-13 00:00", 2661810) + "]}\n";
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
        run_record("2026-11-01T09:30:00Z", "2026-11-01 04:30", 18000) + "]}\n";
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
