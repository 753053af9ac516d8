// The calendar evaluator against systemd's own: `systemd-analyze calendar
// --iterations=5` with its clock pinned by libfaketime, for the OnCalendar=
// values of packaged timers and a few hundred generated expressions, in
// several zones and from several start times. Acceptance and every elapse
// time must agree, except for the reasons listed in known_difference().
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "analyze.h"
#include "cron/calendar.h"
#include "cron/cron.h"

namespace {

const char *const k_analyze = analyze::k_tool;

using oracle_answer = analyze::answer;

// What systemd-analyze calendar --iterations=5 says of each of the distinct
// exprs in zone tz with the clock frozen at now.
std::map<std::string, oracle_answer> ask_oracle(const std::vector<std::string> &exprs,
                                                const char *tz, int64_t now) {
    return analyze::ask(exprs, tz, now, 5);
}

// Expressions whose elapse times are shown differently on purpose.
const char *known_difference(const cal_spec &cs) {
    // Runs are whole seconds: a time with a fraction shows its second, and a
    // repetition below one second collapses to one run per second.
    const cal_field &s = cs.fields[CAL_SECOND];
    for (int i = 0; i < s.count; i++)
        if (s.parts[i].start % 1000000 || (s.parts[i].stop >= 0 && s.parts[i].stop % 1000000) ||
            s.parts[i].repeat % 1000000)
            return "fractional seconds";
    return nullptr;
}

std::vector<std::string> packaged_values() {
    std::vector<std::string> dirs = {"/lib/systemd/system", ZV_DATA_DIR "/timers/debian"};
    std::set<std::string> values;
    for (const std::string &dir : dirs) {
        DIR *d = opendir(dir.c_str());
        if (!d) continue;
        while (struct dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() < 7 || name.substr(name.size() - 6) != ".timer") continue;
            std::ifstream f(dir + "/" + name);
            std::string line;
            while (std::getline(f, line))
                if (line.rfind("OnCalendar=", 0) == 0) {
                    std::string v = line.substr(11);
                    size_t b = v.find_first_not_of(" \t"), e2 = v.find_last_not_of(" \t");
                    if (b != std::string::npos) values.insert(v.substr(b, e2 - b + 1));
                }
        }
        closedir(d);
    }
    return std::vector<std::string>(values.begin(), values.end());
}

// Hand-picked texts at the grammar's edges: shorthands, zones, leap days,
// the days around clock changes, and texts systemd rejects.
const char *const k_edge_cases[] = {
    "minutely",
    "hourly",
    "daily",
    "weekly",
    "monthly",
    "yearly",
    "annually",
    "quarterly",
    "semiannually",
    "semi-annually",
    "biannually",
    "bi-annually",
    "Daily",
    "HOURLY",
    "daily UTC",
    "daily utc",
    "weekly Pacific/Auckland",
    "12:00 Europe/Paris",
    "daily EST",
    "daily CET",
    "daily CEST",
    "daily PST",
    "daily MET",
    "daily Foo/Bar",
    "daily Asia/Kolkata",
    "*:0/30 Australia/Lord_Howe",
    "Mon..Fri 09:00 America/New_York",
    "*-*-* 02:30",
    "*-*-* 02:30 Europe/Berlin",
    "*-*-* 01:30 America/New_York",
    "*-*-* 02:00:00",
    "*-*-* 02,03:00",
    "*-03-29 02:*",
    "*-10-25 02:*:00",
    "*-11-01 01:*:00",
    "Sun *-03-25..31 01..03:00,30",
    "Sun *-10-25..31 02:15",
    "*:0/20",
    "*:00/15 UTC",
    "*-02-29",
    "*-02-29 UTC",
    "2028-02-29 12:00",
    "*-02~01",
    "*-02~03",
    "Mon *-05~07/1",
    "*-*~1..3",
    "*-*~05/2",
    "*~1",
    "02~03",
    "*-02-30",
    "*-04-31",
    "*-*-31",
    "*-*-1..31/7",
    "Wed, 17:48",
    "Wed ,Thu 17:48",
    "wed..fri",
    "Mon..Wed..Fri",
    "Fri..Mon",
    "Mon-Fri 9:00",
    "sat-sun",
    "Mon-Wed,Fri *-*-1..7",
    "Mon-Wed-Fri",
    "Mon..Wed-Fri",
    "Mon-Wed..Fri",
    "Fri-Mon",
    "Mon-",
    "Mon- 9:00",
    "Mon-2027-01-01",
    "Mon,",
    "Mon..",
    "Monday",
    "Mond",
    "Mon 12",
    "12",
    "12 ",
    " daily",
    "daily ",
    "Mon  12:00",
    "Mon *-*-*  12:00",
    "*-*-* *:*",
    "*-*-* *",
    "*/5:00",
    "*:*/15",
    "*,1:00",
    "1,,2:00",
    "+1:00",
    "1.5:00",
    "10..5:00",
    "5..5:00",
    "1..3/0:00",
    "1/5..10:00",
    "*:00/0",
    "00:00:60",
    "*-0-1",
    "*-*-0",
    "*-*-32",
    "*-*~0",
    "*-*~32",
    "*-*-~1",
    "1969-*-*",
    "2200-*-*",
    "2199-12-31 23:59:59",
    "0-1-1",
    "12,80-*-*",
    "70-*-* 00:00",
    "*-*-*",
    "4294967296:00",
    "99999999999999999999:00",
    "00:00 UTC UTC",
    "@1700000000",
    "@4102444800",
    "@abc",
    "",
    "UTC",
    "1:2:3.5",
    "1:2:3.5/0.5",
    "01:02:03.0000001",
    "00:00:01..03",
    "*:*:0.5/10",
    "*:*:*",
    "*:*:0/7",
    "Sat,Thu,Mon..Wed,Sat..Sun",
    "Mon,Sun 12-*-* 2,1:23",
    "Wed *-1",
    "Wed..Wed,Wed *-1",
    "Wed..Sat,Tue 12-10-15 1:2:3",
    "*-*-7 0:0:0",
    "10-15",
    "monday *-12-* 17:00",
    "Mon,Fri *-*-3,1,2 *:30:45",
    "12,14,13,12:20,10,30",
    "12..14:10,20,30",
    "mon,fri *-1/2-1,3 *:30:45",
    "03-05 08:05:40",
    "08:05:40",
    "05:40",
    "Sat,Sun 12-05 08:05:40",
    "Sat,Sun 08:05:40",
    "2003-03-05 05:40",
    "05:40:23.4200004/3.1700005",
    "2003-02..04-05",
    "2003-03-05 05:40 UTC",
    "2003-03-05",
    "03-05",
    "*:2/3",
    "Fri *-*-13 13:13",
    "Sun *-*-1..7 1:00:00",
    "*-*-* 6,18:00",
    "Thu 2026-*-1,5 11:12:13",
    "2026..2030/2-02-29",
    "*-1..12/5-1/10 0/7:0/25:0/35",
    "*-*-* 02:59:59",
    "*-*-* 01:59:59",
    "*-*-* 02:*:*",
    "*-*-* 01:*:59 America/New_York",
    "*-*-* 01:45 Australia/Lord_Howe",
    "*-*-* 01:59:59 Australia/Lord_Howe",
    "*-*-* 01:30..59/10:* Australia/Lord_Howe",
    "*-10~7 02:30",
    "*-10~1,7 *:*:* Europe/Berlin",
    "*-11~25..27 01:30 America/New_York",
    "*:00/7:41..45",
    "*:00/23:*",
    "*:*:00/7",
    "0/5:00",
    "0/5:00/7",
    "*-*-1/3 00:00:00/20",
    "*-1/5-* 0/7:00",
    "*-1/5~1/5 0/7:00",
};

// A deterministic mix of lists, ranges, repetitions, "~", weekdays and
// seconds, with some values out of bounds so that rejection is compared too.
std::vector<std::string> generated(int count) {
    std::mt19937 rng(20261210);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    const char *days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun", "monday", "FRIDAY"};
    const char *zones[] = {"", "", "", "", " UTC", " Europe/Berlin", " America/New_York"};
    auto value = [&](int lo, int hi) { return lo + pick(hi - lo + 2 - (pick(12) ? 1 : 0)); };
    auto chain = [&](int lo, int hi, int star_odds) {
        if (pick(star_odds) == 0) return std::string("*");
        std::string s;
        int items = 1 + pick(3);
        for (int i = 0; i < items; i++) {
            if (i) s += ",";
            int a = value(lo, hi);
            s += std::to_string(a);
            int form = pick(5);
            if (form == 1) s += ".." + std::to_string(a + pick(hi - lo + 1) / 2);
            if (form == 2) s += "/" + std::to_string(1 + pick(hi - lo));
            if (form == 3)
                s += ".." + std::to_string(a + pick(hi - lo + 1)) + "/" +
                     std::to_string(1 + pick(6));
        }
        return s;
    };
    std::vector<std::string> out;
    while ((int)out.size() < count) {
        std::string e;
        if (pick(3) == 0) {
            int a = pick(7), b = a + pick(7 - a);
            e += days[a];
            if (b > a) e += std::string("..") + days[b];
            if (pick(2)) e += std::string(",") + days[pick(9)];
            e += " ";
        }
        int date = pick(6);
        if (date == 1) e += chain(2024, 2031, 2) + "-" + chain(1, 12, 2) + "-" + chain(1, 31, 2);
        if (date == 2) e += "*-" + chain(1, 12, 2) + "-" + chain(1, 31, 3);
        if (date == 3) e += "*-" + chain(1, 12, 2) + "~" + chain(1, 7, 4);
        if (date == 4) e += chain(1, 12, 3) + "-" + chain(28, 31, 4);
        if (date == 5) e += "*-02-" + chain(27, 29, 4);
        if (date) e += " ";
        e += chain(0, 23, 3) + ":" + chain(0, 59, 3);
        if (pick(3) == 0) e += ":" + chain(0, 59, 3);
        e += zones[pick(7)];
        out.push_back(e);
    }
    return out;
}

struct start_time {
    const char *label;
    int64_t t;
    const char *zone; // the one zone to start from, or every zone of k_zones
};

// Before each clock change of 2026 in Berlin and New York (the day before,
// and 40 minutes before), in the last second of the first occurrence of the
// repeated hour, inside its second occurrence and just after it, across a
// leap day, at a year's end, and mid-summer; and before, inside both
// occurrences of and after Lord Howe's half hour that occurs twice (01:30
// to 02:00 on 5 April 2026).
const start_time k_starts[] = {
    {"2026-03-07 12:00 UTC", 1772884800, nullptr},
    {"2026-03-08 06:20 UTC", 1772950800, nullptr},
    {"2026-03-28 12:00 UTC", 1774699200, nullptr},
    {"2026-03-29 00:20 UTC", 1774743600, nullptr},
    {"2026-07-15 09:30:15 UTC", 1784107815, nullptr},
    {"2026-10-24 12:00 UTC", 1792843200, nullptr},
    {"2026-10-25 00:20 UTC", 1792887600, nullptr},
    {"2026-10-25 00:59:59 UTC", 1792889999, nullptr},
    {"2026-10-25 01:30 UTC", 1792891800, nullptr},
    {"2026-10-25 02:00 UTC", 1792893600, nullptr},
    {"2026-10-31 12:00 UTC", 1793448000, nullptr},
    {"2026-11-01 05:20 UTC", 1793510400, nullptr},
    {"2026-11-01 05:59:59 UTC", 1793512799, nullptr},
    {"2026-11-01 06:30 UTC", 1793514600, nullptr},
    {"2026-11-01 07:00 UTC", 1793516400, nullptr},
    {"2026-12-31 23:59:30 UTC", 1798761570, nullptr},
    {"2028-02-27 12:00 UTC", 1835352000, nullptr},
    {"2026-04-04 12:00 UTC", 1775304000, "Australia/Lord_Howe"},
    {"2026-04-04 14:40 UTC", 1775313600, "Australia/Lord_Howe"},
    {"2026-04-04 14:59:59 UTC", 1775314799, "Australia/Lord_Howe"},
    {"2026-04-04 15:10 UTC", 1775315400, "Australia/Lord_Howe"},
    {"2026-04-04 15:40 UTC", 1775317200, "Australia/Lord_Howe"},
};

// Wall times of the zone searched from, in the last second of a day, of a
// month (the day of a clock change in Berlin; a leap day) and of a year,
// where a repetition carries into the next day, month or year.
const char *const k_local_starts[] = {
    "2027-03-10 23:59:59", "2027-06-30 23:59:59", "2027-10-31 23:59:59",
    "2028-02-29 23:59:59", "2027-12-31 23:59:59",
};

const char *const k_zones[] = {"UTC", "Europe/Berlin", "America/New_York"};

// The wall time "YYYY-MM-DD HH:MM:SS" (one that occurs once) in the zone TZ
// names.
int64_t local_time(const char *text) {
    struct tm tm = {};
    sscanf(text, "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
           &tm.tm_sec);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return (int64_t)mktime(&tm);
}

} // namespace

TEST(CalendarOracle, AgreesWithSystemdAnalyze) {
    if (access(k_analyze, X_OK) != 0) GTEST_SKIP() << "systemd-analyze is not installed";
    std::vector<std::string> exprs = packaged_values();
    for (const char *e : k_edge_cases) exprs.push_back(e);
    std::vector<std::string> more = generated(400);
    exprs.insert(exprs.end(), more.begin(), more.end());
    std::set<std::string> seen;
    std::vector<std::string> distinct;
    for (const std::string &e : exprs)
        if (seen.insert(e).second) distinct.push_back(e);
    exprs = distinct;

    // Each zone with the starts for every zone and its own wall times, then
    // the starts kept for one zone.
    std::vector<std::pair<const char *, start_time>> runs_from;
    for (const char *tz : k_zones) {
        for (const start_time &start : k_starts)
            if (!start.zone) runs_from.push_back({tz, start});
        for (const char *wall : k_local_starts) runs_from.push_back({tz, {wall, 0, nullptr}});
    }
    for (const start_time &start : k_starts)
        if (start.zone) runs_from.push_back({start.zone, start});

    for (auto &[tz, start] : runs_from) {
        setenv("TZ", tz, 1);
        tzset();
        if (!start.t) start.t = local_time(start.label);
        std::map<std::string, oracle_answer> oracle = ask_oracle(exprs, tz, start.t);
        ASSERT_FALSE(oracle.empty()) << "no answer from " << k_analyze;
        for (const std::string &e : exprs) {
            SCOPED_TRACE("'" + e + "' TZ=" + tz + " from " + start.label);
            cal_spec cs;
            int ok = cal_parse(&cs, e.c_str());
            auto it = oracle.find(e);
            bool accepted = it != oracle.end() && it->second.accepted;
            ASSERT_EQ(ok == 1, accepted) << cs.error;
            // When systemd's search refuses to move backwards (a cursor
            // carried across a clock change by a month past December) it
            // reports an error instead of times; we keep searching.
            if (!ok || known_difference(cs) || it->second.gave_up) continue;
            int64_t runs[CAL_MAX_RUNS];
            int n = cal_next_runs(&cs, start.t, runs);
            // Beyond our 7305-day horizon systemd goes on to 2199.
            int64_t limit = (start.t / 86400 + 7305) * 86400;
            std::vector<int64_t> want;
            for (int64_t t : it->second.runs)
                if (t < limit) want.push_back(t);
            std::vector<int64_t> got(runs, runs + n);
            // Exact, in a wall time that occurs twice too: the occurrence
            // systemd lists.
            ASSERT_EQ(got, want);
        }
    }
    unsetenv("TZ");
    tzset();
}
