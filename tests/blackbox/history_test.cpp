// Each live job's last run (history=1), read from a prepared tree: a journal
// made at test time by systemd-journal-remote from export-format records
// with the fields and texts of systemd 252 and Debian's cron, text logs in
// both syslog formats, timer stamp files and anacron's dates; and the
// faults: no journalctl, one that never ends, one that prints without end,
// forged and malformed records, a huge log and a huge line.
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "runner.h"

using nlohmann::json;

namespace {

const char *const k_journal_remote = "/lib/systemd/systemd-journal-remote";

void set_mtime(const std::string &path, long long t) {
    timeval tv[2] = {{(time_t)t, 0}, {(time_t)t, 0}};
    ASSERT_EQ(utimes(path.c_str(), tv), 0) << path;
}

const char k_crontab[] = "SHELL=/bin/sh\n"
                         "30 2 * * * root /usr/local/bin/backup --full\n"
                         "45 3 * * * root /usr/local/bin/report 50\\% done % input\n"
                         "*/5 * * * * www-data php /var/www/cron.php\n"
                         "0 4 * * * root /usr/local/bin/sync-mirror\n"
                         "0 5 * * * root /usr/local/bin/forged\n"
                         "25 6 * * * root test -x /usr/sbin/anacron || ( cd / && run-parts "
                         "--report /etc/cron.daily )\n";

// A node with cron jobs, timers, stamps and anacron, but no logs yet; bin
// is the folder put on PATH, holding what the program may start.
std::string node_tree() {
    std::string root = make_temp_dir();
    put_file(root, "etc/crontab", k_crontab);
    put_file(root, "etc/cron.daily/logrotate", "#!/bin/sh\n", 0755);
    put_file(root, "usr/sbin/anacron", "#!/bin/sh\n", 0755);
    put_file(root, "var/spool/cron/crontabs/.placeholder", "");
    for (const char *name :
         {"apt-daily", "logrotate", "certbot", "e2scrub_all", "sysstat-collect", "fstrim"}) {
        for (const char *type : {".timer", ".service"})
            put_file(root, "lib/systemd/system/" + std::string(name) + type,
                     read_file(data_path(std::string("timers/debian/") + name + type)));
        link_to(root, "etc/systemd/system/timers.target.wants/" + std::string(name) + ".timer",
                "/lib/systemd/system/" + std::string(name) + ".timer");
    }
    put_file(root, "var/lib/systemd/timers/stamp-fstrim.timer", "");
    set_mtime(root + "/var/lib/systemd/timers/stamp-fstrim.timer", k_now - 3 * 86400 - 120);
    put_file(root, "var/lib/systemd/timers/stamp-sysstat-collect.timer", "");
    set_mtime(root + "/var/lib/systemd/timers/stamp-sysstat-collect.timer", k_now - 420);
    put_file(root, "var/spool/anacron/cron.daily", "20261111\n");
    make_dirs(root + "/bin");
    return root;
}

// Turns export-format text into a journal file under the tree.
bool make_journal(const std::string &root, const std::string &export_text) {
    make_dirs(root + "/var/log/journal");
    std::string src = write_temp(export_text);
    std::string cmd = std::string(k_journal_remote) + " -o " + root +
                      "/var/log/journal/remote.journal " + src + " >/dev/null 2>&1";
    return system(cmd.c_str()) == 0;
}

run_result history_in(const std::string &root, const std::string &query = "action=jobs&history=1",
                      int timeout_s = 120) {
    auto env = base_env();
    env.push_back("QUERY_STRING=" + query);
    env.push_back("PATH=" + root + "/bin");
    // The stamp files' times as they are, not moved with the pinned clock.
    env.push_back("NO_FAKE_STAT=1");
    return run_in_tree(root, env, timeout_s);
}

json jobs_of(const run_result &r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return json::parse(json_body(r));
}

// The jobs' last runs by the start of their commands.
std::map<std::string, json> last_by_command(const json &answer) {
    std::map<std::string, json> out;
    for (const auto &job : answer["jobs"]) {
        EXPECT_TRUE(job.contains("last")) << job["command"];
        std::string command = job["command"];
        out[command.substr(0, command.find(' '))] = job.value("last", json());
    }
    return out;
}

bool journal_tools() {
    return access(k_journal_remote, X_OK) == 0 && access("/usr/bin/journalctl", X_OK) == 0;
}

struct expected_last {
    const char *command; // up to the first blank
    long long ago;       // -1: "last" is null
    const char *outcome, *detail, *from;
};

void expect_lasts(const json &answer, const expected_last *rows, size_t n) {
    auto lasts = last_by_command(answer);
    for (size_t i = 0; i < n; i++) {
        const expected_last &row = rows[i];
        SCOPED_TRACE(row.command);
        ASSERT_TRUE(lasts.count(row.command));
        const json &last = lasts[row.command];
        if (row.ago < 0) {
            EXPECT_TRUE(last.is_null()) << last;
            continue;
        }
        ASSERT_TRUE(last.is_object()) << last;
        EXPECT_EQ(last["ago_seconds"], row.ago);
        EXPECT_EQ(last["outcome"], row.outcome);
        EXPECT_EQ(last["detail"], row.detail);
        EXPECT_EQ(last["from"], row.from);
        long long t = k_now - row.ago;
        char utc[32];
        time_t tt = (time_t)t;
        strftime(utc, sizeof utc, "%Y-%m-%dT%H:%M:%SZ", gmtime(&tt));
        EXPECT_EQ(last["utc"], std::string(utc));
    }
}

} // namespace

TEST(History, JournalRecordsStampsAndAnacron) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no journal";
    if (!journal_tools()) GTEST_SKIP() << "systemd-journal-remote or journalctl missing";
    std::string root = node_tree();
    ASSERT_TRUE(make_journal(root, read_file(data_path("history/journal.export"))));
    link_to(root, "bin/journalctl", "/usr/bin/journalctl");
    json answer = jobs_of(history_in(root));
    const expected_last rows[] = {
        {"/usr/local/bin/backup", 2 * 3600 + 360, "failed", "exit status 2", "journal"},
        // The error is of the input writer, another grandchild than the job's.
        {"/usr/local/bin/report", 51 * 60, "succeeded", "", "journal"},
        {"php", 90, "started", "", "journal"},
        // One byte off ("sync-mirrors"), and records that logger or a user wrote.
        {"/usr/local/bin/sync-mirror", -1, "", "", ""},
        {"/usr/local/bin/forged", -1, "", "", ""},
        {"test", -1, "", "", ""},
        {"/etc/cron.daily/logrotate", k_now - 1794355200, "started", "", "anacron"},
        {"apt-daily.service:", 3 * 3600 + 600, "failed", "exit status 100", "journal"},
        {"certbot.service:", 2 * 3600, "failed", "killed by signal 9", "journal"},
        {"e2scrub_all.service:", 600, "started", "", "journal"},
        {"fstrim.service:", 3 * 86400 + 120, "started", "", "timer stamp"},
        {"logrotate.service:", 4 * 3600 + 1790, "succeeded", "", "journal"},
        // Forged by another process and by a user: the stamp file counts.
        {"sysstat-collect.service:", 420, "started", "", "timer stamp"},
    };
    expect_lasts(answer, rows, sizeof rows / sizeof rows[0]);
}

TEST(History, WithoutTheParameterTheAnswerIsUnchanged) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no journal";
    if (!journal_tools()) GTEST_SKIP() << "systemd-journal-remote or journalctl missing";
    std::string root = node_tree();
    ASSERT_TRUE(make_journal(root, read_file(data_path("history/journal.export"))));
    link_to(root, "bin/journalctl", "/usr/bin/journalctl");
    auto plain = history_in(root, "action=jobs");
    auto other = history_in(root, "action=jobs&history=0");
    auto with = history_in(root);
    EXPECT_EQ(plain.out.find("\"last\""), std::string::npos);
    EXPECT_EQ(other.out, plain.out);
    json stripped = jobs_of(with);
    for (auto &job : stripped["jobs"]) job.erase("last");
    EXPECT_EQ(stripped, jobs_of(plain));
    // A fixture answer never carries it.
    std::string fixture = write_temp("0 3 * * * /usr/local/bin/backup\n");
    auto env = base_env();
    env.push_back("QUERY_STRING=action=jobs&history=1");
    env.push_back("CRONTAB_FILE=" + fixture);
    env.push_back("PATH=" + root + "/bin");
    auto r = run_in_tree(root, env);
    EXPECT_EQ(r.out.find("\"last\""), std::string::npos);
}

TEST(History, TextLogsWhereTheJournalHasNothing) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no syslog";
    std::string root = node_tree();
    // The rotation holds an older run of the backup, which the current log
    // supersedes; rsyslog's ISO format in cron.log.
    put_file(root, "var/log/syslog.1",
             "Nov 10 02:30:01 web1 CRON[4101]: (root) CMD (/usr/local/bin/backup --full)\n"
             "Nov 10 02:30:40 web1 CRON[4100]: (CRON) error (grandchild #4101 failed with exit "
             "status 1)\n");
    put_file(root, "var/log/syslog",
             "Nov 11 02:30:01 web1 CRON[5101]: (root) CMD (/usr/local/bin/backup --full)\n"
             "Nov 12 03:45:01 web1 CRON[5201]: (root) CMD (/usr/local/bin/report 50% done )\n"
             "Nov 12 03:45:01 web1 CRON[5200]: (CRON) error (grandchild #5201 terminated by signal "
             "15)\n"
             "Nov 12 03:50:01 web1 logger[77]: (root) CMD (/usr/local/bin/forged)\n"
             "Nov 12 04:00:01 web1 CRON[5301]: (root) CMD (/usr/local/bin/sync-mirror )\n");
    put_file(root, "var/log/cron.log",
             "2026-11-12T04:35:01.204518+00:00 web1 CRON[5401]: (www-data) CMD (php "
             "/var/www/cron.php)\n");
    json answer = jobs_of(history_in(root));
    const expected_last rows[] = {
        {"/usr/local/bin/backup", k_now - 1794364201, "started", "", "syslog"},
        {"/usr/local/bin/report", 3089, "failed", "killed by signal 15", "syslog"},
        {"php", 89, "started", "", "syslog"},
        {"/usr/local/bin/sync-mirror", -1, "", "", ""},
        {"/usr/local/bin/forged", -1, "", "", ""},
        {"logrotate.service:", -1, "", "", ""},
    };
    expect_lasts(answer, rows, sizeof rows / sizeof rows[0]);
}

TEST(History, FaultsAnswerWithWhatCouldBeRead) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no journal";
    const char *const k_syslog =
        "Nov 12 04:30:01 web1 CRON[5401]: (www-data) CMD (php /var/www/cron.php)\n";
    struct fault {
        const char *name;
        const char *journalctl; // the stand-in's script, or null for none
    } faults[] = {
        {"journalctl missing", nullptr},
        {"never ends", "#!/bin/sh\nexec sleep 600\n"},
        {"prints without end", "#!/bin/sh\nexec yes '_COMM=cron'\n"},
        {"malformed records",
         "#!/bin/sh\nprintf '_PID=1\\n_UID=0\\nMESSAGE_ID=zz\\n\\nUNIT\\n\\377\\377\\377\\377"
         "\\377\\377\\377\\377x'\n"},
        {"binary length past the end",
         "#!/bin/sh\nprintf 'MESSAGE\\n\\020\\0\\0\\0\\0\\0\\0\\0ab'\n"},
    };
    for (const auto &f : faults) {
        SCOPED_TRACE(f.name);
        std::string root = node_tree();
        put_file(root, "var/log/syslog", k_syslog);
        if (f.journalctl) put_file(root, "bin/journalctl", f.journalctl, 0755);
        if (f.journalctl) link_to(root, "bin/sh", "/bin/sh");
        if (f.journalctl) link_to(root, "bin/sleep", "/bin/sleep");
        if (f.journalctl) link_to(root, "bin/yes", "/usr/bin/yes");
        if (f.journalctl) link_to(root, "bin/printf", "/usr/bin/printf");
        auto r = history_in(root, "action=jobs&history=1", 60);
        json answer = jobs_of(r);
        auto lasts = last_by_command(answer);
        // Nothing vouched for came from the journal: the text log counts.
        ASSERT_TRUE(lasts["php"].is_object());
        EXPECT_EQ(lasts["php"]["from"], "syslog");
        EXPECT_EQ(lasts["php"]["ago_seconds"], 389);
        EXPECT_TRUE(lasts["apt-daily.service:"].is_null());
    }
}

TEST(History, HugeLogAndHugeLine) {
    if (program_is_windows()) GTEST_SKIP() << "Windows nodes have no syslog";
    std::string root = node_tree();
    // A sparse 2 GB syslog whose last line is a run, after a 1 MB line.
    std::string path = root + "/var/log/syslog";
    make_dirs(root + "/var/log");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::string tail =
        "\n" + std::string(1 << 20, 'x') +
        "\nNov 12 04:30:01 web1 CRON[5401]: (www-data) CMD (php /var/www/cron.php)\n";
    ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), (off_t)2 << 30), (ssize_t)tail.size());
    close(fd);
    // A 1 MB line in the rotation that ends like a run: never taken.
    put_file(root, "var/log/syslog.1",
             "Nov 12 04:20:01 web1 CRON[1]: (root) CMD (" + std::string(1 << 20, 'y') +
                 ") /usr/local/bin/backup --full)\n");
    auto lasts = last_by_command(jobs_of(history_in(root, "action=jobs&history=1", 60)));
    ASSERT_TRUE(lasts["php"].is_object());
    EXPECT_EQ(lasts["php"]["ago_seconds"], 389);
    EXPECT_TRUE(lasts["/usr/local/bin/backup"].is_null());
}
