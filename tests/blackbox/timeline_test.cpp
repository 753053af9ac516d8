// The timeline answer: every run of every job over the next hours, from the
// sample crontab and from a node's tree of cron files, systemd timers and
// task definitions; its runs are the jobs answer's, over clock changes too.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "runner.h"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// 2027-03-27 20:00 UTC and 2027-10-30 20:00 UTC: the evenings before
// Berlin's clocks go forward and back.
constexpr long long k_before_spring = 1806177600;
constexpr long long k_before_autumn = 1824926400;

std::string sample_crontab() {
    return std::string(ZV_DATA_DIR) + "/../../examples/node.crontab";
}

// A node with every kind of job: Debian's cron files (tests/data/live),
// Debian's packaged timers enabled, a timer in a named zone and a frequent
// one, and real task definitions in the task folder the test build reads.
std::string node_tree() {
    std::string root = make_temp_dir();
    fs::create_directories(root + "/bin");
    fs::copy(data_path("live"), root, fs::copy_options::recursive);
    put_file(root, "usr/sbin/cron", "");
    fs::permissions(root + "/usr/sbin/cron", fs::perms(0755));
    EXPECT_EQ(chown((root + "/etc/cron.d/mine").c_str(), 1000, 1000), 0);
    fs::permissions(root + "/etc/cron.d/shared", fs::perms(0664));
    fs::permissions(root + "/var/spool/cron/crontabs/alice", fs::perms(0600));
    for (const char *name : {"apt-daily", "logrotate", "certbot", "sysstat-collect"}) {
        for (const char *type : {".timer", ".service"})
            put_file(root, "lib/systemd/system/" + std::string(name) + type,
                     read_file(data_path(std::string("timers/debian/") + name + type)));
        link_to(root, "etc/systemd/system/timers.target.wants/" + std::string(name) + ".timer",
                "/lib/systemd/system/" + std::string(name) + ".timer");
    }
    put_file(root, "etc/systemd/system/report.timer",
             "[Timer]\nOnCalendar=*-*-* 02:30 Europe/Berlin\nOnCalendar=Mon..Sun 01,03:00 UTC\n");
    put_file(root, "etc/systemd/system/often.timer", "[Timer]\nOnCalendar=*:0/10\n");
    for (const char *name : {"report", "often"})
        link_to(root, "etc/systemd/system/timers.target.wants/" + std::string(name) + ".timer",
                "/etc/systemd/system/" + std::string(name) + ".timer");
    std::ifstream list(data_path("tasks/tree.txt"));
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        put_file(root, "Windows/System32/Tasks/" + line.substr(0, tab),
                 read_file(data_path("windows-tasks/" + line.substr(tab + 1))));
    }
    return root;
}

run_result ask(const std::string &root, const std::string &query, long long now,
               const std::string &tz) {
    auto env = base_env(now, tz);
    env.push_back("QUERY_STRING=" + query);
    env.push_back("PATH=" + root + "/bin");
    return run_in_tree(root, env);
}

json answer(const run_result &r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return json::parse(json_body(r));
}

// Every job of the timeline against the same job of the jobs answer: the
// same record, the runs in the window are the first runs of next (all five
// when there are five), and a job given by counts has more runs than the
// threshold, its counts summing to its total.
void expect_runs_of_jobs_answer(const json &timeline, const json &jobs) {
    ASSERT_EQ(timeline["jobs"].size(), jobs["jobs"].size());
    const long long window = timeline["hours"].get<long long>() * 3600;
    int compared = 0, counted = 0;
    for (size_t i = 0; i < jobs["jobs"].size(); i++) {
        const json &job = jobs["jobs"][i];
        const json &lane = timeline["jobs"][i];
        SCOPED_TRACE(job["source"].get<std::string>() + " " + job["command"].get<std::string>());
        EXPECT_EQ(lane["index"], i);
        EXPECT_EQ(lane["source"], job["source"]);
        EXPECT_EQ(lane["expr"], job["expr"]);
        EXPECT_EQ(lane["command"], job["command"]);
        std::vector<long long> next;
        for (const auto &r : job["next"])
            if (r["in_seconds"].get<long long>() < window) next.push_back(r["in_seconds"]);
        if (lane.contains("counts")) {
            EXPECT_GT(lane["total"], timeline["threshold"]);
            long long sum = 0;
            for (const auto &c : lane["counts"]) sum += c.get<long long>();
            EXPECT_EQ(sum, lane["total"]);
            EXPECT_EQ(lane["counts"].size(), timeline["hours"]);
            EXPECT_EQ(next.size(), job["next"].size());
            counted++;
            continue;
        }
        std::vector<long long> runs = lane["runs"];
        EXPECT_EQ(lane["total"], runs.size());
        if (runs.size() >= job["next"].size()) {
            EXPECT_EQ(std::vector<long long>(runs.begin(), runs.begin() + (long)next.size()), next);
            EXPECT_EQ(next.size(), job["next"].size());
        } else {
            EXPECT_EQ(runs, next);
        }
        for (size_t k = 1; k < runs.size(); k++) EXPECT_LT(runs[k - 1], runs[k]);
        if (!runs.empty()) { EXPECT_LT(runs.back(), window); }
        compared++;
    }
    EXPECT_GT(compared, 10);
    EXPECT_GT(counted, 0);
}

} // namespace

TEST(Timeline, SampleCrontabMatchesTheReviewedReference) {
    auto r = run_query("action=timeline", {"CRONTAB_FILE=" + sample_crontab()});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(json_body(r), read_file(data_path("timeline.expected.json")));
}

TEST(Timeline, BusiestMinutesAreCountedFromTheRuns) {
    json t = answer(
        run_query("action=timeline", {"CRONTAB_FILE=" + sample_crontab()}, k_now, "Europe/Berlin"));
    // Every job given by its runs: the minutes counted here; the jobs given
    // by counts run every five minutes, in each minute divisible by five.
    std::map<long long, int> starts;
    const long long first_minute = k_now - k_now % 60;
    for (const auto &lane : t["jobs"]) {
        if (lane.contains("counts")) {
            EXPECT_EQ(lane["expr"], "*/5 * * * *");
            for (long long m = first_minute + 60; m < k_now + 24 * 3600; m += 60)
                if (m % 300 == 0) starts[m]++;
            continue;
        }
        for (const auto &s : lane["runs"]) starts[(k_now + s.get<long long>()) / 60 * 60]++;
    }
    int most = 0;
    for (const auto &[minute, n] : starts) most = std::max(most, n);
    ASSERT_EQ(t["busiest"].size(), 10u);
    EXPECT_EQ(t["busiest"][0]["jobs"], most);
    int last = most;
    long long last_in = -1;
    for (const auto &b : t["busiest"]) {
        const long long at = k_now + b["in_seconds"].get<long long>();
        EXPECT_EQ(at % 60, 0);
        EXPECT_EQ(b["jobs"], starts[at]);
        EXPECT_LE(b["jobs"].get<int>(), last);
        if (b["jobs"] == last) { EXPECT_GT(at, last_in); }
        last = b["jobs"];
        last_in = at;
    }
}

TEST(Timeline, HoursAreClamped) {
    struct hours_case {
        const char *query;
        int hours;
        const char *to_utc;
    } cases[] = {
        {"action=timeline", 24, "2026-11-13T04:36:30Z"},
        {"action=timeline&hours=", 24, "2026-11-13T04:36:30Z"},
        {"action=timeline&hours=abc", 24, "2026-11-13T04:36:30Z"},
        {"action=timeline&hours=-5", 24, "2026-11-13T04:36:30Z"},
        {"action=timeline&hours=6", 6, "2026-11-12T10:36:30Z"},
        {"action=timeline&hours=0", 1, "2026-11-12T05:36:30Z"},
        {"action=timeline&hours=168", 168, "2026-11-19T04:36:30Z"},
        {"action=timeline&hours=169", 168, "2026-11-19T04:36:30Z"},
        {"action=timeline&hours=99999999999999", 168, "2026-11-19T04:36:30Z"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.query);
        json t = answer(run_query(c.query, {"CRONTAB_FILE=" + sample_crontab()}));
        EXPECT_EQ(t["hours"], c.hours);
        EXPECT_EQ(t["from_utc"], "2026-11-12T04:36:30Z");
        EXPECT_EQ(t["to_utc"], c.to_utc);
        for (const auto &lane : t["jobs"])
            if (lane.contains("counts")) { EXPECT_EQ(lane["counts"].size(), c.hours); }
    }
}

TEST(Timeline, PasswordIsAskedAsForEveryAnswer) {
    auto r = run_query("action=timeline", {"CRONTAB_FILE=" + sample_crontab(), "VORN_PASSWORD=s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Status: 401"), std::string::npos);
    EXPECT_EQ(r.out.find("\"timeline\""), std::string::npos);
}

TEST(Timeline, LiveTreeMatchesTheReviewedReference) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build reads no cron files";
    std::string root = node_tree();
    auto r = ask(root, "action=timeline", k_now, "Europe/Berlin");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(json_body(r), read_file(data_path("timeline-live.expected.json")));
}

TEST(Timeline, FirstRunsAreTheJobsAnswersNextOverBerlinsClockChanges) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build reads no cron files";
    std::string root = node_tree();
    for (long long now : {k_before_spring, k_before_autumn, k_now}) {
        for (const char *hours : {"24", "168"}) {
            SCOPED_TRACE(std::to_string(now) + " " + hours);
            json jobs = answer(ask(root, "action=jobs", now, "Europe/Berlin"));
            json t = answer(
                ask(root, std::string("action=timeline&hours=") + hours, now, "Europe/Berlin"));
            EXPECT_EQ(t["sources"], jobs["sources"]);
            EXPECT_EQ(t["count"], jobs["count"]);
            expect_runs_of_jobs_answer(t, jobs);
            // The node's offsets: Berlin's clocks change at 01:00 UTC.
            const json changes =
                now == k_now ? json::parse(R"([{"at":0,"offset":3600}])")
                : now == k_before_spring
                    ? json::parse(R"([{"at":0,"offset":3600},{"at":18000,"offset":7200}])")
                    : json::parse(R"([{"at":0,"offset":7200},{"at":18000,"offset":3600}])");
            EXPECT_EQ(t["node_offsets"], changes);
            // Every run of the jobs answer in the window, shown on the node's
            // clock by those offsets, is its local stamp.
            for (const json &job : jobs["jobs"])
                for (const json &run : job["next"]) {
                    const long long at = run["in_seconds"];
                    if (at >= std::stoll(hours) * 3600) continue;
                    long long off = 0;
                    for (const json &c : t["node_offsets"])
                        if (c["at"].get<long long>() <= at) off = c["offset"];
                    const time_t shown = (time_t)(now + at + off);
                    struct tm tm;
                    gmtime_r(&shown, &tm);
                    char stamp[32];
                    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M", &tm);
                    EXPECT_EQ(run["local"], stamp) << run.dump();
                }
        }
    }
}

// Values of one timer that name the same times: each time is one run, in the
// counts as in the total (the distinct five-minute marks of the window).
TEST(Timeline, TimesThatTwoValuesOfATimerNameAreCountedOnce) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build reads no systemd timers";
    std::string root = make_temp_dir();
    fs::create_directories(root + "/var/spool/cron/crontabs");
    put_file(root, "etc/systemd/system/overlap.timer",
             "[Timer]\nOnCalendar=*:0/5\nOnCalendar=*:0/10\nOnCalendar=hourly\n");
    put_file(root, "etc/systemd/system/zoned.timer",
             "[Timer]\nOnCalendar=*:0/5 Asia/Kolkata\nOnCalendar=*:0/10 Asia/Kolkata\n");
    // The node's zone and two named ones, whose times are all among the first's.
    put_file(root, "etc/systemd/system/zones.timer",
             "[Timer]\nOnCalendar=*:0/5\nOnCalendar=*:0/10 Asia/Kolkata\n"
             "OnCalendar=*:0/15 Europe/Paris\n");
    for (const char *name : {"overlap", "zoned", "zones"})
        link_to(root, "etc/systemd/system/timers.target.wants/" + std::string(name) + ".timer",
                "/etc/systemd/system/" + std::string(name) + ".timer");
    for (const char *hours : {"24", "168"}) {
        SCOPED_TRACE(hours);
        json t = answer(ask(root, std::string("action=timeline&hours=") + hours, k_now, "UTC"));
        ASSERT_EQ(t["jobs"].size(), 3u);
        const long long to = k_now + std::stoll(hours) * 3600;
        long long marks = 0;
        for (long long s = k_now + 1; s < to; s++) marks += s % 300 == 0;
        for (const json &lane : t["jobs"]) {
            SCOPED_TRACE(lane["expr"].get<std::string>());
            EXPECT_EQ(lane["total"], marks);
            long long sum = 0;
            for (const auto &c : lane["counts"]) sum += c.get<long long>();
            EXPECT_EQ(sum, marks);
        }
    }
}
