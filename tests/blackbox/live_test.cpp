// The node's own cron jobs (CRONTAB_FILE unset on a POSIX build), read from a
// prepared tree by the build whose root is its working directory: Debian's
// real files, the leftovers beside them, crontab -l through a fake command
// first on PATH, the node's zone, and files that must not hold the request.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "runner.h"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// 2027-03-27 12:00 UTC, the day before Berlin's clocks go forward.
constexpr long long k_before_spring = 1806148800;

void write_file(const std::string &path, const std::string &text,
                fs::perms mode = fs::perms(0644)) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, mode);
}

// A node tree: an empty one, or the Debian files of tests/data/live with
// Debian's cron "installed", "mine" owned by another user, "shared"
// writable by its group and alice's crontab of mode 0600.
std::string make_tree(bool debian_files = true) {
    std::string root = make_temp_dir();
    fs::create_directories(root + "/bin");
    if (!debian_files) return root;
    fs::copy(data_path("live"), root, fs::copy_options::recursive);
    write_file(root + "/usr/sbin/cron", "", fs::perms(0755));
    EXPECT_EQ(chown((root + "/etc/cron.d/mine").c_str(), 1000, 1000), 0);
    fs::permissions(root + "/etc/cron.d/shared", fs::perms(0664));
    // The mode crontab(1) installs a user's crontab with, which cron wants.
    fs::permissions(root + "/var/spool/cron/crontabs/alice", fs::perms(0600));
    return root;
}

// A fake crontab command in root/bin, run with /bin/sh; it notes its pid.
void fake_crontab(const std::string &root, const std::string &body) {
    write_file(root + "/bin/crontab", "#!/bin/sh\necho $$ > " + root + "/crontab.pid\n" + body,
               fs::perms(0755));
}

run_result run_jobs(const std::string &root, long long now = k_now,
                    const std::string &tz = "Europe/Berlin") {
    auto env = base_env(now, tz);
    env.push_back("QUERY_STRING=action=jobs");
    env.push_back("PATH=" + root + "/bin");
    return run_in_tree(root, env, 60);
}

json jobs_of(const std::string &root, long long now = k_now,
             const std::string &tz = "Europe/Berlin") {
    return json::parse(json_body(run_jobs(root, now, tz)));
}

std::vector<std::string> utc_runs(const json &job) {
    std::vector<std::string> out;
    for (const auto &r : job["next"]) out.push_back(r["utc"]);
    return out;
}

const json *find_job(const json &j, const std::string &source, const std::string &command) {
    for (const auto &job : j["jobs"])
        if (job["source"] == source && job["command"] == command) return &job;
    return nullptr;
}

} // namespace

TEST(LiveCron, DebianNodeMatchesTheReviewedReference) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree();
    auto r = run_jobs(root);
    std::string body = json_body(r);
    EXPECT_EQ(body, read_file(data_path("live.expected.json")));
    json j = json::parse(body);
    EXPECT_EQ(
        j["sources"],
        json::array({"/var/spool/cron/crontabs/alice", "/etc/crontab", "/etc/cron.daily",
                     "/etc/cron.d/backup.sh", "/etc/cron.d/e2scrub_all",
                     "/etc/cron.d/e2scrub_all.dpkg-old", "/etc/cron.d/local~", "/etc/cron.d/mine",
                     "/etc/cron.d/php", "/etc/cron.d/shared", "/etc/cron.d/sysstat"}));
    // Each file that cron would not load is listed once, and says why.
    const std::pair<const char *, const char *> ignored[] = {
        {"/etc/cron.d/backup.sh", "ignored by cron: name contains a dot"},
        {"/etc/cron.d/e2scrub_all.dpkg-old", "ignored by cron: name contains a dot"},
        {"/etc/cron.d/local~",
         "ignored by cron: name contains a character other than letters, digits, _ and -"},
        {"/etc/cron.d/mine", "ignored by cron: not owned by root"},
        {"/etc/cron.d/shared", "ignored by cron: writable by group or others"},
    };
    for (const auto &[source, error] : ignored) {
        SCOPED_TRACE(source);
        const json *job = find_job(j, source, "");
        ASSERT_NE(job, nullptr);
        EXPECT_EQ((*job)["valid"], false);
        EXPECT_EQ((*job)["error"], error);
        EXPECT_EQ((*job)["description"], "File ignored by cron");
        EXPECT_EQ((*job)["expr"], "");
    }
    // run-parts runs the executable scripts with a valid name only; the
    // others are listed once, with the reason, and the dot file not at all.
    EXPECT_NE(find_job(j, "/etc/cron.daily", "/etc/cron.daily/sysstat"), nullptr);
    EXPECT_NE(find_job(j, "/etc/cron.daily", "/etc/cron.daily/0anacron"), nullptr);
    const std::pair<const char *, const char *> skipped[] = {
        {"/etc/cron.daily/notes", "ignored by run-parts: not executable"},
        {"/etc/cron.daily/sysstat.dpkg-old", "ignored by run-parts: name contains a dot"},
    };
    for (const auto &[script, error] : skipped) {
        SCOPED_TRACE(script);
        const json *job = find_job(j, "/etc/cron.daily", script);
        ASSERT_NE(job, nullptr);
        EXPECT_EQ((*job)["valid"], false);
        EXPECT_EQ((*job)["error"], error);
        EXPECT_EQ((*job)["description"], "File ignored by run-parts");
        EXPECT_EQ((*job)["next"], json::array());
    }
    for (const auto &job : j["jobs"]) {
        EXPECT_NE(job["command"], "/etc/cron.daily/.placeholder");
        EXPECT_EQ(job["kind"], "cron");
    }
    // alice's crontab holds "5/10", so cron ignores all of it.
    for (const auto &job : j["jobs"]) {
        if (job["source"] != "/var/spool/cron/crontabs/alice") continue;
        SCOPED_TRACE(job["command"].get<std::string>());
        EXPECT_EQ(job["valid"], false);
        EXPECT_EQ(job["next"], json::array());
        EXPECT_EQ(job["error"], job["command"] == "/home/alice/bin/stepped"
                                    ? "ignored by cron: bad minute field 5/10"
                                    : "ignored by cron: syntax error in line 9 of this file");
    }
}

TEST(LiveCron, ScriptsOfTheAnacronFoldersAreRunByAnacronWhenItIsInstalled) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree();
    write_file(root + "/usr/sbin/anacron", "", fs::perms(0755));
    json j = jobs_of(root);
    const json *daily = find_job(j, "/etc/cron.daily", "/etc/cron.daily/sysstat");
    ASSERT_NE(daily, nullptr);
    EXPECT_EQ((*daily)["description"],
              "Run by anacron once a day, through run-parts from /etc/crontab");
    EXPECT_EQ((*daily)["next"], json::array());
    // The line itself still runs at its time; it only skips run-parts.
    const json *line = find_job(j, "/etc/crontab",
                                "test -x /usr/sbin/anacron || { cd / && run-parts --report "
                                "/etc/cron.daily; }");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ((*line)["next"].size(), 5u);
}

// 0 3 * * * runs at 03:00 on the node's clock: 02:00Z in Berlin's winter,
// 01:00Z in its summer; 02:30 does not exist on 28 March 2027 and runs at
// the change instead; the day rule is the daemon's.
TEST(LiveCron, SchedulesRunOnTheNodesClock) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree(false);
    write_file(root + "/etc/crontab", "0 3 * * * root three\n30 2 * * * root half-past-two\n"
                                      "0 0 1-31 * 1 root all-days\n0 0 */2 * 1 root odd-mondays\n");
    json winter = jobs_of(root, k_now);
    EXPECT_EQ(utc_runs(winter["jobs"][0])[0], "2026-11-13T02:00:00Z");
    json spring = jobs_of(root, k_before_spring);
    EXPECT_EQ(utc_runs(spring["jobs"][0]),
              (std::vector<std::string>{"2027-03-28T01:00:00Z", "2027-03-29T01:00:00Z",
                                        "2027-03-30T01:00:00Z", "2027-03-31T01:00:00Z",
                                        "2027-04-01T01:00:00Z"}));
    EXPECT_EQ(utc_runs(spring["jobs"][1])[0], "2027-03-28T01:00:00Z");
    EXPECT_EQ(utc_runs(spring["jobs"][1])[1], "2027-03-29T00:30:00Z");
    EXPECT_EQ(utc_runs(spring["jobs"][2]).size(), 5u);
    EXPECT_EQ(utc_runs(spring["jobs"][2])[1], "2027-03-28T22:00:00Z"); // midnight, every day
    EXPECT_EQ(utc_runs(spring["jobs"][3])[0], "2027-03-28T22:00:00Z"); // Monday 29 March
    EXPECT_EQ(utc_runs(spring["jobs"][3])[1], "2027-04-04T22:00:00Z"); // Monday 5 April
    // The same file in UTC.
    json utc = jobs_of(root, k_now, "UTC");
    EXPECT_EQ(utc_runs(utc["jobs"][0])[0], "2026-11-13T03:00:00Z");
}

TEST(LiveCron, CrontabCommandStandsInForAnUnreadableSpool) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    struct crontab_case {
        const char *name;
        const char *script;
        int count;
        bool truncated;
    };
    const crontab_case cases[] = {
        {"prints a crontab", "printf '# m h dom mon dow command\\n0 5 * * 1 /bin/weekly\\n'\n", 1,
         false},
        {"has none", "echo 'no crontab for operator' >&2\nexit 1\n", 0, false},
        {"never ends", "echo '0 5 * * 1 /bin/weekly'\nexec /bin/sleep 1000\n", 1, true},
        {"prints without end", "while :; do echo '# again'; done\n", 0, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string root = make_tree(false);
        write_file(root + "/etc/passwd", "root:x:1234:0::/:/bin/sh\noperator:x:" +
                                             std::to_string(getuid()) + ":0::/:/bin/sh\n");
        fake_crontab(root, c.script);
        auto r = run_jobs(root);
        json j = json::parse(json_body(r));
        EXPECT_EQ(j["count"], c.count);
        EXPECT_EQ(j["truncated"], c.truncated);
        if (c.count) {
            EXPECT_EQ(j["sources"], json::array({"crontab -l"}));
            EXPECT_EQ(j["jobs"][0]["source"], "crontab -l");
            EXPECT_EQ(j["jobs"][0]["user"], "operator");
            EXPECT_EQ(j["jobs"][0]["command"], "/bin/weekly");
        }
        // No child outlives the request.
        std::string pid = read_file(root + "/crontab.pid");
        ASSERT_FALSE(pid.empty());
        EXPECT_NE(kill(std::stoi(pid), 0), 0) << "crontab still runs";
    }
    // No crontab command at all: no source.
    std::string root = make_tree(false);
    EXPECT_EQ(jobs_of(root)["count"], 0);
}

TEST(LiveCron, OverlongLineNeverStartsAPhantomJob) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree(false);
    std::string line = "0 3 * * * root /bin/echo " + std::string(2047 - 25, 'x');
    write_file(root + "/etc/cron.d/long", line + "*/5 * * * * root rm -rf /tmp/phantom\n");
    json j = jobs_of(root);
    ASSERT_EQ(j["count"], 1);
    EXPECT_EQ(j["jobs"][0]["expr"], "0 3 * * *");
}

TEST(LiveCron, FilesThatCouldHoldTheRequestAreSkipped) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree(false);
    fs::create_directories(root + "/etc/cron.d");
    ASSERT_EQ(mkfifo((root + "/etc/crontab").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((root + "/etc/cron.d/fifo").c_str(), 0644), 0);
    fs::create_symlink("loop", root + "/etc/cron.d/loop");
    fs::create_symlink("/dev/zero", root + "/etc/cron.d/zero");
    fs::create_symlink("/dev/tty", root + "/etc/cron.d/tty");
    write_file(root + "/etc/cron.d/ok", "@daily root fine\n");
    json j = jobs_of(root);
    EXPECT_EQ(j["count"], 1);
    EXPECT_EQ(j["sources"], json::array({"/etc/cron.d/ok"}));
}

TEST(LiveCron, TenThousandFilesInCronD) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree(false);
    fs::create_directories(root + "/etc/cron.d");
    for (int i = 0; i < 10000; i++) {
        char name[16];
        snprintf(name, sizeof name, "job%05d", i);
        std::ofstream(root + "/etc/cron.d/" + name) << "*/5 * * * * root " << name << "\n";
    }
    json j = jobs_of(root);
    EXPECT_EQ(j["count"], 512);
    EXPECT_EQ(j["truncated"], true);
    EXPECT_EQ(j["jobs"][0]["command"], "job00000");
    EXPECT_EQ(j["jobs"][511]["command"], "job00511");
    EXPECT_EQ(j["sources"].size(), 16u); // the source list keeps 16 names
}

TEST(LiveCron, HundredMegabyteCrontab) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree(false);
    std::string block;
    for (int i = 0; i < 1000; i++) block += "*/5 * * * * root /usr/local/bin/job --flag value\n";
    {
        fs::create_directories(root + "/etc");
        std::ofstream out(root + "/etc/crontab", std::ios::binary);
        for (size_t done = 0; done < 100u << 20; done += block.size()) out << block;
    }
    json j = jobs_of(root);
    EXPECT_EQ(j["count"], 512);
    EXPECT_EQ(j["truncated"], true);
}

// cronie (crond installed) honours CRON_TZ for the lines after it and has its
// own naming rule; Debian's cron knows one zone and rejects names with dots.
TEST(LiveCron, CronieZonesAndNamesDifferFromDebiansCron) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    struct daemon_case {
        const char *daemon;
        const char *new_york_run; // 0 3 * * * after CRON_TZ=America/New_York
        const char *backup_error; // of /etc/cron.d/backup.sh
    };
    const daemon_case cases[] = {
        {"/usr/sbin/crond", "2026-11-12T08:00:00Z", nullptr}, // 03:00 EST
        {"/usr/sbin/cron", "2026-11-13T02:00:00Z", "ignored by cron: name contains a dot"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.daemon);
        std::string root = make_tree(false);
        write_file(root + c.daemon, "", fs::perms(0755));
        write_file(root + "/etc/cron.d/zones",
                   "CRON_TZ=America/New_York\n0 3 * * * root ny\nCRON_TZ=\n0 3 * * * root node\n");
        write_file(root + "/etc/cron.d/backup.sh", "0 4 * * * root backup\n");
        write_file(root + "/etc/cron.d/old~", "0 5 * * * root old\n");
        json j = jobs_of(root);
        const json *ny = find_job(j, "/etc/cron.d/zones", "ny");
        const json *node = find_job(j, "/etc/cron.d/zones", "node");
        ASSERT_TRUE(ny && node);
        EXPECT_EQ(utc_runs(*ny)[0], c.new_york_run);
        EXPECT_EQ(utc_runs(*node)[0], "2026-11-13T02:00:00Z");
        if (c.backup_error) {
            EXPECT_EQ((*find_job(j, "/etc/cron.d/backup.sh", ""))["error"], c.backup_error);
        } else {
            EXPECT_NE(find_job(j, "/etc/cron.d/backup.sh", "backup"), nullptr);
            EXPECT_EQ((*find_job(j, "/etc/cron.d/old~", ""))["error"],
                      "ignored by cron: name ends in ~");
        }
    }
}

// cronie's CRON_TZ= names a zone of the zone database or nothing: a path
// (here a FIFO that nobody writes) is never opened, and the node's zone stays.
TEST(LiveCron, CronTzThatIsNoZoneKeepsTheNodesZone) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree(false);
    write_file(root + "/usr/sbin/crond", "", fs::perms(0755));
    const std::string fifo = root + "/zone-fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    write_file(root + "/etc/cron.d/zones", "CRON_TZ=" + fifo + "\n0 3 * * * root fifo\n" +
                                               "CRON_TZ=Nowhere/Else\n0 3 * * * root nowhere\n");
    json j = jobs_of(root);
    for (const char *command : {"fifo", "nowhere"}) {
        SCOPED_TRACE(command);
        const json *job = find_job(j, "/etc/cron.d/zones", command);
        ASSERT_TRUE(job);
        EXPECT_EQ(utc_runs(*job)[0], "2026-11-13T02:00:00Z");
    }
}

// run-parts --test names the scripts that run-parts would run; the program
// lists exactly those as jobs of the folder, and every other entry but the
// dot files once, as ignored by run-parts.
TEST(LiveCron, RunPartsScriptsAsRunPartsTestSays) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    if (access("/usr/bin/run-parts", X_OK) != 0) GTEST_SKIP() << "run-parts is not installed";
    std::string root = make_tree();
    const std::string daily = root + "/etc/cron.daily";
    write_file(daily + "/backup.sh", "#!/bin/sh\n", fs::perms(0755));
    write_file(daily + "/old~", "#!/bin/sh\n", fs::perms(0755));
    write_file(daily + "/with space", "#!/bin/sh\n", fs::perms(0755));
    write_file(daily + "/good_one-2", "#!/bin/sh\n", fs::perms(0700));
    write_file(daily + "/plain", "#!/bin/sh\n", fs::perms(0600));
    fs::create_directories(daily + "/folder");
    fs::create_symlink(daily + "/sysstat", daily + "/linked");
    std::set<std::string> would_run;
    FILE *p = popen(("/usr/bin/run-parts --test " + daily).c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[1024];
    while (fgets(line, sizeof line, p)) {
        std::string s = line;
        if (!s.empty() && s.back() == '\n') s.pop_back();
        would_run.insert("/etc/cron.daily" + s.substr(daily.size()));
    }
    pclose(p);
    ASSERT_FALSE(would_run.empty());
    json j = jobs_of(root);
    std::set<std::string> valid, ignored;
    for (const auto &job : j["jobs"]) {
        if (job["source"] != "/etc/cron.daily") continue;
        std::string command = job["command"];
        // The daily line is run once a day, listed once per script.
        if (job["valid"] == true) {
            EXPECT_TRUE(valid.insert(command).second) << command;
        } else {
            EXPECT_EQ(job["error"].get<std::string>().rfind("ignored by run-parts: ", 0), 0u);
            EXPECT_TRUE(ignored.insert(command).second) << command;
        }
    }
    EXPECT_EQ(valid, would_run);
    std::set<std::string> others;
    for (const auto &entry : fs::directory_iterator(daily)) {
        std::string name = entry.path().filename();
        std::string shown = "/etc/cron.daily/" + name;
        if (name[0] != '.' && !would_run.count(shown)) others.insert(shown);
    }
    EXPECT_EQ(ignored, others);
}

// Jobs cron runs, but not as the line suggests, say so; the others carry an
// empty list.
TEST(LiveCron, WarningsOnJobsCronRuns) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree(false);
    write_file(root + "/usr/sbin/cron", "", fs::perms(0755));
    write_file(root + "/usr/local/bin/report", "#!/bin/sh\n", fs::perms(0755));
    write_file(root + "/usr/bin/date", "#!/bin/sh\n", fs::perms(0755));
    write_file(root + "/etc/crontab", "");
    write_file(root + "/etc/cron.d/w", "0 1 * * * root date +%Y%m%d > /tmp/stamp\n"
                                       "0 2 * * * root report --daily\n"
                                       "PATH=/usr/local/bin:/usr/bin:/bin\n"
                                       "0 3 * * * root report --daily\n"
                                       "0 4 * * * root /opt/missing/run\n"
                                       "0 5 * * * root true\r\n"
                                       "0 0 30 2 * root true\n"
                                       "CRON_TZ=America/New_York\n"
                                       "0 6 * * * root true\n");
    json j = jobs_of(root);
    const std::vector<json> expected = {
        {"unescaped % in the command: cron runs the command up to it and gives the rest as its "
         "input (write \\% for a %)"},
        {"report is found in /usr/local/bin, which is not on cron's PATH /usr/bin:/bin"},
        json::array(),
        {"/opt/missing/run does not exist"},
        {"the line ends in a carriage return (Windows line ends): cron takes it as part of the "
         "command"},
        {"never runs within the next 20 years: no date matches the schedule"},
        {"CRON_TZ= is ignored by this node's cron, which times every job in the system's zone"},
    };
    ASSERT_EQ(j["jobs"].size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        SCOPED_TRACE(j["jobs"][i]["command"].get<std::string>());
        EXPECT_EQ(j["jobs"][i]["valid"], true);
        EXPECT_EQ(j["jobs"][i]["warnings"], json(expected[i]));
    }
}

// Debian's cron ignores a whole file for one bad line; cronie skips that
// line alone, and takes a user's crontab of mode 0644.
TEST(LiveCron, RefusedFileByTheNodesCron) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    const std::pair<const char *, bool> daemons[] = {{"/usr/sbin/cron", true},
                                                     {"/usr/sbin/crond", false}};
    for (const auto &[daemon, whole] : daemons) {
        SCOPED_TRACE(daemon);
        std::string root = make_tree(false);
        write_file(root + daemon, "", fs::perms(0755));
        write_file(root + "/etc/crontab", "");
        write_file(root + "/etc/cron.d/mixed",
                   "0 1 * * * root true\n0 5 * *\n0 2 * * * root true\n");
        write_file(root + "/var/spool/cron/crontabs/alice", "0 3 * * * true\n");
        json j = jobs_of(root);
        ASSERT_EQ(j["jobs"].size(), 4u);
        // The spool first, then the lines of mixed.
        std::vector<std::string> errors;
        for (const auto &job : j["jobs"]) errors.push_back(job.value("error", ""));
        const std::string file = "ignored by cron: syntax error in line 2 of this file";
        EXPECT_EQ(errors,
                  (std::vector<std::string>{
                      whole ? "ignored by cron: mode 0644, cron wants 0600" : "", whole ? file : "",
                      "ignored by cron: too few fields", whole ? file : ""}));
        EXPECT_EQ(j["jobs"][2]["expr"], "0 5 * *");
        EXPECT_EQ(j["jobs"][2]["description"], "Line cron cannot read");
        EXPECT_EQ(j["jobs"][3]["next"].size(), whole ? 0u : 5u);
    }
}

// When cron ignores /etc/crontab, none of its run-parts folders run either.
TEST(LiveCron, RefusedSystemCrontabTakesItsRunPartsScripts) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build lists the task list";
    std::string root = make_tree();
    write_file(root + "/etc/crontab", read_file(root + "/etc/crontab") + "* * * * * nobody\n");
    json j = jobs_of(root);
    int scripts = 0;
    for (const auto &job : j["jobs"]) {
        if (job["source"] != "/etc/crontab" && job["source"] != "/etc/cron.daily") continue;
        SCOPED_TRACE(job["command"].get<std::string>());
        EXPECT_EQ(job["valid"], false);
        EXPECT_EQ(job["next"], json::array());
        const std::string error = job["error"];
        EXPECT_EQ(error.rfind("ignored by cron: ", 0), 0u) << error;
        if (job["source"] == "/etc/cron.daily" &&
            job["description"] != "File ignored by run-parts") {
            scripts++;
            EXPECT_EQ(error, "ignored by cron: syntax error in line 23 of this file");
        }
    }
    EXPECT_EQ(scripts, 2); // 0anacron and sysstat
}
