// Cron lines turned into timers, against systemd's own calendar: for every
// cron expression of the test suites, the fixtures and Debian's crontabs
// (tests/data/live), and a few hundred generated ones, the elapse times that
// `systemd-analyze calendar` gives for the OnCalendar= values must be the
// runs the node's cron makes (cron_next_runs_local) on every day of 2027
// without a clock change, in UTC, Europe/Berlin and America/New_York; and
// the note must be there exactly where the two part on the change days.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "analyze.h"
#include "cron/convert.h"
#include "cron/cron.h"

namespace {

std::string read_file(const std::string &path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (struct dirent *e = readdir(d))
            if (e->d_name[0] != '.') out.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The schedules of a crontab-format file: "@keyword" or the first five
// fields of each line that is no comment and no variable assignment.
std::vector<std::string> crontab_schedules(const std::string &path) {
    std::vector<std::string> out;
    std::istringstream lines(read_file(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> w;
        std::string word;
        while (words >> word) w.push_back(word);
        if (w.empty() || w[0][0] == '#' || w[0].find('=') != std::string::npos) continue;
        if (w[0][0] == '@') {
            out.push_back(w[0]);
        } else if (w.size() >= 5) {
            out.push_back(w[0] + " " + w[1] + " " + w[2] + " " + w[3] + " " + w[4]);
        }
    }
    return out;
}

// Every string literal of a test source (simple escapes undone).
std::vector<std::string> literals(const std::string &path) {
    std::vector<std::string> out;
    const std::string text = read_file(path);
    static const std::regex k_literal("\"((?:[^\"\\\\\\n]|\\\\.)*)\"");
    for (std::sregex_iterator it(text.begin(), text.end(), k_literal), end; it != end; ++it) {
        std::string raw = (*it)[1], s;
        for (size_t i = 0; i < raw.size(); i++) {
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                char c = raw[++i];
                s += c == 't' ? '\t' : c == 'n' ? '\n' : c;
            } else {
                s += raw[i];
            }
        }
        out.push_back(s);
    }
    return out;
}

// A deterministic mix of values, ranges, steps, names and lists in every
// field, day fields that begin with "*" or not, and the keywords.
std::vector<std::string> generated(int count) {
    std::mt19937 rng(20271);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    const char *dows[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    const char *mons[] = {"jan", "feb", "mar", "apr", "may", "jun",
                          "jul", "aug", "sep", "oct", "nov", "dec"};
    auto field = [&](int lo, int hi, int star_odds, const char *const *names) {
        int form = pick(star_odds);
        if (form == 0) return std::string("*");
        if (form == 1) return "*/" + std::to_string(2 + pick(hi - lo));
        std::string s;
        int items = 1 + pick(3);
        for (int i = 0; i < items; i++) {
            if (i) s += ",";
            int a = lo + pick(hi - lo + 1);
            if (names && pick(3) == 0)
                s += names[a - lo];
            else
                s += std::to_string(a);
            int kind = pick(4);
            if (kind >= 2 && a < hi) {
                int b = a + 1 + pick(hi - a);
                s += "-" + std::to_string(b);
                if (kind == 3) s += "/" + std::to_string(1 + pick(4));
            }
        }
        return s;
    };
    const char *keywords[] = {"@hourly",  "@daily",  "@midnight", "@weekly",
                              "@monthly", "@yearly", "@annually"};
    std::vector<std::string> out;
    while ((int)out.size() < count) {
        if (pick(20) == 0) {
            out.push_back(keywords[pick(7)]);
            continue;
        }
        // Hours near the clock changes (1 to 3) come often.
        std::string hour = pick(3) == 0 ? std::to_string(1 + pick(3)) : field(0, 23, 5, nullptr);
        out.push_back(field(0, 59, 5, nullptr) + " " + hour + " " + field(1, 31, 3, nullptr) + " " +
                      field(1, 12, 2, mons) + " " + field(0, 7, 3, dows));
    }
    return out;
}

std::vector<std::string> corpus() {
    std::vector<std::string> texts;
    auto add = [&](const std::vector<std::string> &more) {
        texts.insert(texts.end(), more.begin(), more.end());
    };
    for (const char *f : {"/data/mixed.crontab", "/data/live/etc/crontab",
                          "/data/live/var/spool/cron/crontabs/alice", "/browser/fixture.crontab"})
        add(crontab_schedules(std::string(ZV_TESTS_DIR) + f));
    add(crontab_schedules(std::string(ZV_TESTS_DIR) + "/../examples/node.crontab"));
    for (const std::string &f : files_in(std::string(ZV_TESTS_DIR) + "/data/live/etc/cron.d"))
        add(crontab_schedules(f));
    for (const char *dir : {"/unit", "/blackbox"})
        for (const std::string &f : files_in(std::string(ZV_TESTS_DIR) + dir))
            if (f.size() > 4 && f.substr(f.size() - 4) == ".cpp") add(literals(f));
    add(generated(300));
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const std::string &t : texts) {
        cron_expr ce;
        if (cron_parse(&ce, t.c_str()) && !ce.boot_only && seen.insert(t).second) out.push_back(t);
    }
    return out;
}

int64_t offset_at(int64_t t) {
    time_t tt = (time_t)t;
    struct tm tm;
    localtime_r(&tt, &tm);
    return tm.tm_gmtoff;
}

// The instant of local midnight starting local day day (days since 1970).
int64_t local_midnight(int64_t day) {
    int64_t t = day * 86400 - offset_at(day * 86400);
    return day * 86400 - offset_at(t);
}

struct job {
    std::string expr;
    cron_expr ce;
    timer_form timer;
};

// The five earliest distinct elapse times of the job's values.
std::vector<int64_t> timer_runs(const job &j, const std::map<std::string, analyze::answer> &a) {
    std::set<int64_t> all;
    for (int i = 0; i < j.timer.count; i++) {
        auto it = a.find(j.timer.on_calendar[i]);
        if (it != a.end()) all.insert(it->second.runs.begin(), it->second.runs.end());
    }
    std::vector<int64_t> out(all.begin(), all.end());
    if (out.size() > 5) out.resize(5);
    return out;
}

std::vector<int64_t> cron_runs(const job &j, int64_t from) {
    int64_t runs[CRON_MAX_RUNS];
    int n = cron_next_runs_local(&j.ce, from, runs);
    return std::vector<int64_t>(runs, runs + n);
}

// The clock changes in [from, to): the first instant of each new offset.
std::vector<int64_t> clock_changes(int64_t from, int64_t to) {
    std::vector<int64_t> out;
    for (int64_t a = from; a < to; a += 86400) {
        int64_t lo = a, hi = a + 86400;
        if (offset_at(lo) == offset_at(hi)) continue;
        while (hi - lo > 1) {
            int64_t mid = lo + (hi - lo) / 2;
            (offset_at(mid) == offset_at(lo) ? lo : hi) = mid;
        }
        out.push_back(hi);
    }
    return out;
}

} // namespace

TEST(ConvertOracle, TimersRunWhenTheNodesCronRuns) {
    if (access(analyze::k_tool, X_OK) != 0) GTEST_SKIP() << "systemd-analyze is not installed";
    const std::vector<std::string> exprs = corpus();
    ASSERT_GT(exprs.size(), 300u);
    for (const char *tz : {"UTC", "Europe/Berlin", "America/New_York"}) {
        SCOPED_TRACE(tz);
        setenv("TZ", tz, 1);
        tzset();
        const int64_t first_day = days_from_civil(2027, 1, 1),
                      year_start = local_midnight(first_day);
        const int64_t year_end = local_midnight(days_from_civil(2028, 1, 1));
        std::vector<job> jobs;
        std::set<std::string> distinct;
        for (const std::string &e : exprs) {
            job j;
            j.expr = e;
            ASSERT_EQ(cron_parse(&j.ce, e.c_str()), 1) << e;
            ASSERT_EQ(cron_to_timer(&j.ce, year_start, &j.timer), 1) << e;
            ASSERT_GE(j.timer.count, 1) << e;
            for (int i = 0; i < j.timer.count; i++) distinct.insert(j.timer.on_calendar[i]);
            jobs.push_back(j);
        }
        const std::vector<std::string> values(distinct.begin(), distinct.end());

        // From 30 seconds after each local midnight of the year (a start
        // in the last seconds of a day meets systemd's own carry rules).
        for (int64_t day = first_day; day < days_from_civil(2028, 1, 1); day++) {
            const int64_t start = local_midnight(day) + 30;
            auto answers = analyze::ask(values, tz, start, 5);
            ASSERT_FALSE(answers.empty());
            for (const job &j : jobs) {
                for (int i = 0; i < j.timer.count; i++) {
                    auto it = answers.find(j.timer.on_calendar[i]);
                    ASSERT_TRUE(it != answers.end() && it->second.accepted)
                        << j.expr << " -> " << j.timer.on_calendar[i];
                }
                std::vector<int64_t> want = cron_runs(j, start), got = timer_runs(j, answers);
                analyze::comparable(&got, &want, true);
                ASSERT_EQ(got, want)
                    << "'" << j.expr << "' from " << start << " as " << j.timer.on_calendar[0]
                    << (j.timer.count > 1 ? std::string(" and ") + j.timer.on_calendar[1] : "");
            }
        }

        // Around each clock change, the runs as a timer makes them, each
        // from the one before: systemd's iterations and cron's runs from 70
        // minutes before to 70 minutes after it. Where they differ, the
        // two part.
        std::map<std::string, bool> parts;
        const int iterations = 150; // a run a minute, twice over the window
        for (int64_t change : clock_changes(year_start, year_end)) {
            const int64_t from = change - 70 * 60, to = change + 70 * 60;
            auto answers = analyze::ask(values, tz, from, iterations);
            for (const job &j : jobs) {
                std::set<int64_t> timer;
                int64_t limit = to;
                for (int i = 0; i < j.timer.count; i++) {
                    const analyze::answer &a = answers[j.timer.on_calendar[i]];
                    timer.insert(a.runs.begin(), a.runs.end());
                    if ((int)a.runs.size() == iterations) limit = std::min(limit, a.runs.back());
                }
                std::set<int64_t> cron;
                for (int64_t t = from;;) {
                    std::vector<int64_t> more = cron_runs(j, t);
                    if (more.empty()) break;
                    cron.insert(more.begin(), more.end());
                    t = more.back();
                    if (t > limit) break;
                }
                std::erase_if(timer, [&](int64_t t) { return t > limit; });
                std::erase_if(cron, [&](int64_t t) { return t > limit; });
                if (timer != cron) parts[j.expr] = true;
            }
        }
        for (const job &j : jobs)
            EXPECT_EQ(parts[j.expr], j.timer.note[0] != 0)
                << "'" << j.expr << "' as " << j.timer.on_calendar[0] << ": " << j.timer.note;
    }
    unsetenv("TZ");
    tzset();
}
