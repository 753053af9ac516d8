// The node's systemd timers in the jobs answer, from a prepared unit tree:
// packaged unit files from Debian, enabled, disabled and masked timers, a
// drop-in, a template instance, a monotonic-only timer and one with two
// OnCalendar= lines in named zones.
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "runner.h"

using nlohmann::json;

namespace {

const char *const k_lib = "lib/systemd/system/";
const char *const k_etc = "etc/systemd/system/";
const char *const k_wants = "etc/systemd/system/timers.target.wants/";

// The unit tree the answer below is read from.
std::string fixture_tree() {
    std::string root = make_temp_dir();
    for (const char *name : {"apt-daily", "logrotate", "certbot", "e2scrub_all", "fstrim",
                             "sysstat-collect", "pg_dump@"})
        for (const char *type : {".timer", ".service"})
            put_file(root, k_lib + std::string(name) + type,
                     read_file(data_path(std::string("timers/debian/") + name + type)));
    for (const char *name : {"apt-daily", "logrotate", "certbot", "e2scrub_all", "sysstat-collect",
                             "boot-clean", "report", "bad", "missing"})
        link_to(root, k_wants + std::string(name) + ".timer",
                "/lib/systemd/system/" + std::string(name) + ".timer");
    // fstrim.timer is installed but not enabled; e2scrub_all.timer is masked.
    link_to(root, k_etc + std::string("e2scrub_all.timer"), "/dev/null");
    put_file(root, k_etc + std::string("logrotate.timer.d/10-hour.conf"),
             "[Timer]\nOnCalendar=\nOnCalendar=*-*-* 03:30\n");
    put_file(root, "run/systemd/system/logrotate.timer.d/20-late.conf",
             "[Timer]\nPersistent=false\n");
    link_to(root, k_etc + std::string("postgresql@15-main.service.wants/pg_dump@15-main.timer"),
            "/lib/systemd/system/pg_dump@.timer");
    put_file(root, k_lib + std::string("boot-clean.timer"),
             "[Timer]\nOnBootSec=15min\nOnUnitActiveSec=1d\n");
    put_file(root, k_lib + std::string("boot-clean.service"),
             "[Service]\nUser=nobody\nExecStart=-/usr/bin/clean --all\n");
    put_file(root, "usr/local/lib/systemd/system/report.timer",
             "# two calendars in named zones\n[Timer]\nOnCalendar=Mon..Fri 09:00 America/New_York\n"
             "OnCalendar=*-*-01 00:00:00 Europe/Berlin\nUnit=monthly-report.service\n"
             "RandomizedDelaySec=30s\n");
    put_file(root, "usr/local/lib/systemd/system/monthly-report.service",
             "[Service]\nExecStart=!!/usr/local/bin/report --unit %n\nUser=reports\n");
    put_file(root, k_lib + std::string("bad.timer"), "[Timer]\nOnCalendar=*-*-* 25:00\n");
    return root;
}

json timer_jobs(const run_result &r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return json::parse(json_body(r));
}

run_result jobs_in(const std::string &root, const std::string &tz = "UTC") {
    auto env = base_env(k_now, tz);
    env.push_back("QUERY_STRING=action=jobs");
    env.push_back("PATH=/nonexistent");
    return run_in_unit_tree(root, env);
}

} // namespace

TEST(Timers, FixtureTreeMatchesTheReviewedReference) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no systemd timers";
    auto r = jobs_in(fixture_tree());
    EXPECT_ANSWER(r, k_json_header + read_file(data_path("timers/tree.expected.json")));
}

TEST(Timers, WhatIsListedAndHow) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no systemd timers";
    json j = timer_jobs(jobs_in(fixture_tree(), "Europe/Berlin"));
    EXPECT_EQ(j["sources"], json::array({"systemd"}));
    std::vector<std::string> commands;
    for (const auto &job : j["jobs"]) {
        EXPECT_EQ(job["source"], "systemd");
        EXPECT_EQ(job["kind"], "timer");
        commands.push_back(job["command"]);
    }
    // Name order of the enabled timers, then the installed one that is not
    // enabled (fstrim); masked and unit-less ones absent.
    EXPECT_EQ(commands,
              (std::vector<std::string>{
                  "apt-daily.service: /usr/lib/apt/apt.systemd.daily update", "bad.service",
                  "boot-clean.service: /usr/bin/clean --all",
                  "certbot.service: /usr/bin/certbot -q renew --no-random-sleep-on-renew",
                  "logrotate.service: /usr/sbin/logrotate /etc/logrotate.conf",
                  "pg_dump@15-main.service: /usr/bin/pg_backupcluster 15-main dump",
                  "monthly-report.service: /usr/local/bin/report --unit monthly-report.service",
                  "sysstat-collect.service: /usr/lib/sysstat/sa1 1 1",
                  "fstrim.service: /sbin/fstrim --listed-in /etc/fstab:/proc/self/mountinfo "
                  "--verbose --quiet-unsupported"}));
    EXPECT_EQ(j["jobs"][8]["next"], json::array());
    EXPECT_EQ(j["jobs"][8]["warnings"],
              json::array({"not enabled: systemctl enable --now fstrim.timer starts it"}));
    EXPECT_EQ(j["jobs"][1]["warnings"],
              json::array({"the unit to start, bad.service, does not exist"}));
    EXPECT_EQ(j["jobs"][0]["warnings"], json::array());
    struct {
        size_t index;
        const char *expr, *user, *description;
    } rows[] = {
        {2, "OnBootSec=15min OnUnitActiveSec=1d", "nobody",
         "15 minutes after boot, then 1 day after each run"},
        {4, "*-*-* 03:30", "root", "At 03:30, every day"},
        {5, "weekly", "postgres", "Every Monday at 00:00, plus up to 1 hour's random delay"},
    };
    for (const auto &row : rows) {
        const json &job = j["jobs"][row.index];
        EXPECT_EQ(job["expr"], row.expr);
        EXPECT_EQ(job["user"], row.user);
        EXPECT_EQ(job["description"], row.description);
    }
    EXPECT_EQ(j["jobs"][2]["next"], json::array());
    EXPECT_EQ(j["jobs"][1]["valid"], false);
    EXPECT_EQ(j["jobs"][1]["error"], "OnCalendar=*-*-* 25:00: value out of range");
    // Two calendars merged: weekday mornings in New York and the 1st of the
    // month in Berlin, ascending.
    const json &report = j["jobs"][6];
    EXPECT_EQ(report["expr"], "Mon..Fri 09:00 America/New_York; *-*-01 00:00:00 Europe/Berlin");
    std::vector<std::string> utc;
    for (const auto &run : report["next"]) utc.push_back(run["utc"]);
    EXPECT_EQ(utc, (std::vector<std::string>{"2026-11-12T14:00:00Z", "2026-11-13T14:00:00Z",
                                             "2026-11-16T14:00:00Z", "2026-11-17T14:00:00Z",
                                             "2026-11-18T14:00:00Z"}));
}

TEST(Timers, AfterTheCronJobsAndWithinTheTableLimit) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no systemd timers";
    // The timers fill the table up: 600 enabled timers, of which 512 fit.
    std::string root = make_temp_dir();
    put_file(root, k_lib + std::string("t.service"), "[Service]\nExecStart=/bin/true\n");
    for (int i = 0; i < 600; i++) {
        char name[32];
        snprintf(name, sizeof name, "t%03d.timer", i);
        put_file(root, k_lib + std::string(name), "[Timer]\nOnCalendar=hourly\nUnit=t.service\n");
        link_to(root, k_wants + std::string(name), std::string("../") + name);
    }
    json j = timer_jobs(jobs_in(root));
    EXPECT_EQ(j["count"], 512);
    EXPECT_EQ(j["truncated"], true);
    EXPECT_EQ(j["jobs"][511]["expr"], "hourly");
    EXPECT_EQ(j["jobs"][0]["next"][0]["utc"], "2026-11-12T05:00:00Z");
}

// Values in named zones get their runs after every timer is read, zone by
// zone: each timer must still get exactly the runs it gets when read alone.
TEST(Timers, RunsInNamedZonesAsIfEachTimerWereAlone) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no systemd timers";
    // CET is a zone of the database and, within it, its own abbreviation.
    const char *const values[] = {
        "OnCalendar=Mon..Fri 09:00 America/New_York",
        "OnCalendar=daily",
        "OnCalendar=*-*-* 06:00 Asia/Tokyo",
        "OnCalendar=Sat 12:00 America/New_York\nOnCalendar=*-*-* 07:15",
        "OnCalendar=*-07-01 02:30 CET",
        "OnCalendar=Sun *-*-1..7 01:00 America/New_York\nOnCalendar=quarterly",
    };
    std::string all = make_temp_dir();
    std::vector<json> alone;
    for (int i = 0; i < 12; i++) {
        const std::string name = "z" + std::to_string(10 + i) + ".timer";
        const std::string text = std::string("[Timer]\n") + values[i % 6] + "\n";
        std::string one = make_temp_dir();
        for (const std::string &root : {all, one}) {
            put_file(root, k_lib + name, text);
            link_to(root, k_wants + name, "/lib/systemd/system/" + name);
        }
        json j = timer_jobs(jobs_in(one, "America/Chicago"));
        ASSERT_EQ(j["count"], 1);
        ASSERT_FALSE(j["jobs"][0]["next"].empty()) << values[i % 6];
        alone.push_back(j["jobs"][0]["next"]);
    }
    json j = timer_jobs(jobs_in(all, "America/Chicago"));
    ASSERT_EQ(j["count"], 12);
    for (int i = 0; i < 12; i++) EXPECT_EQ(j["jobs"][i]["next"], alone[i]) << values[i % 6];
}

TEST(Timers, HostileTreesAnswer) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no systemd timers";
    std::string root = fixture_tree();
    // A link loop, a FIFO and a folder under timer names, a unit file that
    // is huge, and 10 000 more enabled timers.
    link_to(root, k_etc + std::string("loop.timer"), "loop.timer");
    link_to(root, k_wants + std::string("loop.timer"), "../loop.timer");
    make_dirs(root + "/" + k_lib);
    ASSERT_EQ(mkfifo((root + "/" + k_lib + "fifo.timer").c_str(), 0644), 0);
    link_to(root, k_wants + std::string("fifo.timer"), "/lib/systemd/system/fifo.timer");
    make_dirs(root + "/" + k_lib + "dir.timer");
    link_to(root, k_wants + std::string("dir.timer"), "/lib/systemd/system/dir.timer");
    {
        std::ofstream huge(root + "/" + k_lib + "huge.timer", std::ios::binary);
        huge << "[Timer]\nOnCalendar=daily\n";
        std::string junk(1 << 20, 'x');
        for (int i = 0; i < 64; i++) huge << junk << "\n";
    }
    link_to(root, k_wants + std::string("huge.timer"), "/lib/systemd/system/huge.timer");
    make_dirs(root + "/etc/systemd/system/many.target.wants");
    for (int i = 0; i < 10000; i++) {
        std::string name = "m" + std::to_string(i) + ".timer";
        std::ofstream(root + "/" + k_lib + name) << "[Timer]\nOnCalendar=minutely\n";
        link_to(root, "etc/systemd/system/many.target.wants/" + name,
                "/lib/systemd/system/" + name);
    }
    auto env = base_env();
    env.push_back("QUERY_STRING=action=jobs");
    json j = timer_jobs(run_in_unit_tree(root, env, 60));
    EXPECT_LE(j["count"].get<int>(), 512);
    EXPECT_EQ(j["truncated"], true);
    for (const auto &job : j["jobs"]) {
        EXPECT_NE(job["command"], "loop.service");
        EXPECT_NE(job["command"], "fifo.service");
        EXPECT_NE(job["command"], "dir.service");
    }
}

// "systemd" is a source only when a timer was listed; booleans in any case.
TEST(Timers, SourceOnlyWithATimerAndBooleansInAnyCase) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no systemd timers";
    auto env = base_env();
    env.push_back("QUERY_STRING=action=jobs");
    std::string root = make_temp_dir();
    put_file(root, k_lib + std::string("masked.timer"), "[Timer]\nOnCalendar=daily\n");
    link_to(root, k_wants + std::string("masked.timer"), "/lib/systemd/system/masked.timer");
    link_to(root, k_etc + std::string("masked.timer"), "/dev/null");
    json none = json::parse(json_body(run_in_unit_tree(root, env)));
    EXPECT_EQ(none["count"], 0);
    EXPECT_EQ(none["sources"], json::array());

    put_file(root, k_lib + std::string("kept.timer"),
             "[Timer]\nOnCalendar=daily\nPersistent=True\n");
    link_to(root, k_wants + std::string("kept.timer"), "/lib/systemd/system/kept.timer");
    json one = json::parse(json_body(run_in_unit_tree(root, env)));
    ASSERT_EQ(one["count"], 1);
    EXPECT_EQ(one["sources"], json::array({"systemd"}));
    EXPECT_EQ(one["jobs"][0]["description"], "Every day at 00:00, catches up after downtime");
}

// Timers made by hand live in /etc/systemd/system beside the wants folder
// that enables them: with thousands of them, that folder holds more names
// than its listing keeps (1024), the wants folder sorts after them all, and
// holds more names than its own listing keeps (2048). It is still read: the
// timers whose names fit are listed, up to the table's 512.
TEST(Timers, WantsFolderBeyondAFullListingIsStillRead) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no systemd timers";
    std::string root = make_temp_dir();
    make_dirs(root + "/" + k_wants);
    for (int i = 0; i < 3000; i++) {
        char name[32];
        snprintf(name, sizeof name, "job%05d.timer", i);
        std::ofstream(root + "/" + k_etc + name) << "[Timer]\nOnCalendar=hourly\n";
        link_to(root, k_wants + std::string(name), std::string("/etc/systemd/system/") + name);
    }
    json j = timer_jobs(jobs_in(root));
    ASSERT_EQ(j["count"], 512);
    EXPECT_EQ(j["truncated"], true);
    EXPECT_EQ(j["sources"], json::array({"systemd"}));
    for (int i = 0; i < 512; i += 73) {
        char service[32];
        snprintf(service, sizeof service, "job%05d.service", i);
        EXPECT_EQ(j["jobs"][i]["command"], service);
        EXPECT_EQ(j["jobs"][i]["expr"], "hourly");
    }
    EXPECT_EQ(j["jobs"][511]["command"], "job00511.service");

    // Few timers in such a folder: all of them, and nothing is left out.
    std::string few = make_temp_dir();
    make_dirs(few + "/" + k_etc);
    for (int i = 0; i < 2000; i++)
        std::ofstream(few + "/" + k_etc + "svc" + std::to_string(i) + ".service")
            << "[Service]\nExecStart=/bin/true\n";
    for (const char *name : {"a.timer", "b.timer", "c.timer"}) {
        put_file(few, k_etc + std::string(name), "[Timer]\nOnCalendar=daily\n");
        link_to(few, k_wants + std::string(name), std::string("/etc/systemd/system/") + name);
    }
    json f = timer_jobs(jobs_in(few));
    EXPECT_EQ(f["count"], 3);
    EXPECT_EQ(f["truncated"], false);
}

// systemctl's own word on the same unit tree: a timer it calls "disabled"
// is listed as not enabled, an "enabled" one without that warning, a masked
// one not at all, and a static one never as not enabled.
TEST(Timers, NotEnabledAsSystemctlSaysOfTheTree) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no systemd timers";
    if (access("/usr/bin/systemctl", X_OK) != 0) GTEST_SKIP() << "systemctl is not installed";
    std::string root = fixture_tree();
    put_file(root, k_lib + std::string("static.timer"), "[Timer]\nOnCalendar=daily\n");
    put_file(root, k_lib + std::string("later.timer"),
             "[Timer]\nOnCalendar=weekly\n[Install]\nWantedBy=timers.target\n");
    put_file(root, k_lib + std::string("later.service"), "[Service]\nExecStart=/bin/true\n");
    std::string cmd = "/usr/bin/systemctl list-unit-files --root=" + root +
                      " --type=timer --no-legend --no-pager 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::map<std::string, std::string> state;
    char line[512];
    while (fgets(line, sizeof line, p)) {
        std::stringstream ss(line);
        std::string name, s;
        ss >> name >> s;
        state[name] = s;
    }
    pclose(p);
    if (state.empty()) GTEST_SKIP() << "systemctl lists nothing offline here";
    json j = timer_jobs(jobs_in(root));
    std::map<std::string, const json *> listed; // by timer name
    for (const auto &job : j["jobs"]) {
        std::string command = job["command"];
        std::string unit = command.substr(0, command.find(':'));
        std::string timer = unit.substr(0, unit.rfind('.')) + ".timer";
        if (timer == "monthly-report.timer") timer = "report.timer"; // its Unit=
        listed[timer] = &job;
    }
    int disabled = 0;
    for (const auto &[name, s] : state) {
        SCOPED_TRACE(name + " " + s);
        if (name.find("@.") != std::string::npos) continue; // templates
        const bool is_listed = listed.count(name) > 0;
        bool not_enabled = false;
        if (is_listed)
            for (const auto &w : (*listed[name])["warnings"])
                not_enabled |= w.get<std::string>().rfind("not enabled: ", 0) == 0;
        if (s == "disabled") {
            disabled++;
            EXPECT_TRUE(is_listed && not_enabled);
            if (is_listed) { EXPECT_EQ((*listed[name])["next"], json::array()); }
        } else if (s == "enabled") {
            EXPECT_TRUE(is_listed && !not_enabled);
        } else if (s == "masked") {
            EXPECT_FALSE(is_listed);
        } else {
            // static: enabling does nothing; listed only when a wants
            // folder links it anyway.
            EXPECT_FALSE(not_enabled);
        }
    }
    EXPECT_EQ(disabled, 2); // fstrim and later
}
