// The playground's calendar events against systemd's own: the explain
// answer of the built program (syntax=systemd) for every value of the timer
// oracle's corpus, in several zones and from two start times, must give
// systemd-analyze's verdict, its "Normalized form" and its elapse times
// (`--iterations=5`), except where the timer oracle accepts a difference;
// and the cron line given for a value must run (cron_next_runs_local) when
// systemd elapses it, but on change days.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "analyze.h"
#include "cron/calendar.h"
#include "cron/convert.h"
#include "cron/cron.h"

// The timer oracle's corpus (packaged values, edge cases, generated values)
// and its rules for accepted differences, taken from its own file so that
// the two never drift apart. Its test is compiled here as a function that
// nothing calls.
#undef TEST
#define TEST(suite, name) [[maybe_unused]] static void suite##_##name()
#include "calendar_oracle_test.cpp"
#undef TEST
#define TEST(suite, name) GTEST_TEST(suite, name)

namespace {

std::string url_encode(const std::string &s) {
    static const char k_hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += (char)c;
        } else {
            out += '%';
            out += k_hex[c >> 4];
            out += k_hex[c & 15];
        }
    }
    return out;
}

// The body of the program's explain answer for value, in zone tz at now.
nlohmann::json explain(const std::string &value, const char *tz, int64_t now) {
    const std::string query = "action=explain&syntax=systemd&expr=" + url_encode(value);
    const std::string cmd = std::string("env -i TZ=") + tz + " LD_PRELOAD=" ZV_FAKETIME_LIB +
                            " FAKETIME_FMT=%s FAKETIME=" + std::to_string(now) + " QUERY_STRING='" +
                            query + "' " ZV_PROGRAM;
    FILE *p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while (p && (n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (p) pclose(p);
    const size_t body = out.find("\r\n\r\n");
    if (body == std::string::npos) return nullptr;
    return nlohmann::json::parse(out.substr(body + 4), nullptr, false);
}

int64_t utc_seconds(const std::string &stamp) {
    int y, mo, d, h, mi, s;
    if (sscanf(stamp.c_str(), "%d-%d-%dT%d:%d:%dZ", &y, &mo, &d, &h, &mi, &s) != 6) return -1;
    return days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

// The daemon's runs of line from start against systemd's elapse times.
void check_cron_line(const std::string &line, int64_t start, std::vector<int64_t> want) {
    SCOPED_TRACE("as " + line);
    cron_expr ce;
    ASSERT_EQ(cron_parse(&ce, line.c_str()), 1);
    int64_t runs[CRON_MAX_RUNS];
    const int n = cron_next_runs_local(&ce, start, runs);
    std::vector<int64_t> got(runs, runs + n);
    if (want.size() > 5) want.resize(5);
    analyze::comparable(&got, &want, true);
    EXPECT_EQ(got, want);
}

} // namespace

TEST(PlaygroundOracle, CalendarAnswersAgreeWithSystemdAnalyze) {
    if (access(analyze::k_tool, X_OK) != 0) GTEST_SKIP() << "systemd-analyze is not installed";
    std::vector<std::string> exprs = packaged_values();
    for (const char *e : k_edge_cases) exprs.push_back(e);
    // Open repetitions that carry, and some that do not.
    for (const char *e : {"*:00/7", "*:0/13", "0/5:00", "*-*-* 00/10:19", "*-*-01/7 00:00",
                          "*:00/15", "*:05/15", "*-*-01/3 00:00", "0..22:00/7", "*-01/5-01 00:00"})
        exprs.push_back(e);
    std::vector<std::string> more = generated(400);
    exprs.insert(exprs.end(), more.begin(), more.end());
    std::set<std::string> seen;
    std::vector<std::string> distinct;
    // The empty value is the missing-parameter answer, not a verdict.
    for (const std::string &e : exprs)
        if (!e.empty() && seen.insert(e).second) distinct.push_back(e);

    // Before the clock changes of spring and autumn in Berlin and New York;
    // in UTC also the last minute of a year and of a leap February, where
    // systemd carries an open repetition ("*:00/7", "*-*-01/7") into the new
    // day, month or year past its first value, which no cron line says.
    const int64_t starts[] = {1774699200, 1793448000, 1830297540, 1835481540};
    for (const char *tz : k_zones) {
        setenv("TZ", tz, 1);
        tzset();
        for (int64_t start : starts) {
            if (start > 1800000000 && strcmp(tz, "UTC") != 0) continue;
            auto oracle = analyze::ask(distinct, tz, start, 5);
            ASSERT_FALSE(oracle.empty());
            for (const std::string &e : distinct) {
                SCOPED_TRACE("'" + e + "' TZ=" + tz + " from " + std::to_string(start));
                const nlohmann::json a = explain(e, tz, start);
                ASSERT_TRUE(a.is_object());
                auto it = oracle.find(e);
                const bool accepted = it != oracle.end() && it->second.accepted;
                ASSERT_EQ(a["valid"] == true, accepted) << a.dump();
                // A search systemd gave up on prints nothing more of the value
                // (under the clock faker a named zone's search may fail so).
                if (!accepted || it->second.gave_up) continue;
                EXPECT_EQ(a["normalized"], it->second.normalized);
                cal_spec cs;
                ASSERT_EQ(cal_parse(&cs, e.c_str()), 1);
                if (known_difference(cs)) continue;
                const int64_t limit = (start / 86400 + 7305) * 86400;
                std::vector<int64_t> want, got;
                for (int64_t t : it->second.runs)
                    if (t < limit) want.push_back(t);
                for (const auto &run : a["next"]) got.push_back(utc_seconds(run["utc"]));
                EXPECT_EQ(got, want);
                if (a["cron"].contains("expr")) check_cron_line(a["cron"]["expr"], start, want);
            }
        }
    }
    unsetenv("TZ");
    tzset();
}
