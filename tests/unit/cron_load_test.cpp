// What the node's cron refuses to load, line by line and file by file, and
// what run-parts leaves out. The line verdicts are the daemon's own (the
// black-box DaemonOracle tests run Debian's cron on the same kinds of lines);
// the reasons are this program's texts.
#include <gtest/gtest.h>
#include <string.h>
#include <string>

#include "jobs/cron_load.h"
#include "jobs/live.h"

namespace {

const char k_passwd[] = "root:x:0:0:root:/root:/bin/bash\n"
                        "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n"
                        "alice:x:1000:1000:Alice,,,:/home/alice:/bin/bash\n";

struct line_case {
    const char *line;
    int system;
    int flavor;
    int line_end;
    const char *why; // "" when the daemon loads the file
};

const line_case k_lines[] = {
    {"* * * * * root echo ok", 1, FLAVOR_DEBIAN, 1, ""},
    {"", 1, FLAVOR_DEBIAN, 0, ""},
    {"   # note", 1, FLAVOR_DEBIAN, 0, ""},
    {"MAILTO = ops", 1, FLAVOR_DEBIAN, 1, ""},
    {"PATH=/usr/bin", 1, FLAVOR_DEBIAN, 0, "no line end at the end of the file"},
    {"* * * * * root echo a", 1, FLAVOR_DEBIAN, 0, "no line end at the end of the file"},
    {"0 5 * *", 1, FLAVOR_DEBIAN, 1, "too few fields"},
    {"0 5 * *", 0, FLAVOR_DEBIAN, 1, "too few fields"},
    {"* * * * * nosuchuser echo", 1, FLAVOR_DEBIAN, 1, "user nosuchuser is not in /etc/passwd"},
    {"* * * * * alice echo", 1, FLAVOR_DEBIAN, 1, ""},
    {"* * * * * root", 1, FLAVOR_DEBIAN, 1, "no command"},
    {"@reboot", 1, FLAVOR_DEBIAN, 1, "no command"},
    {"@daily nosuch x", 1, FLAVOR_DEBIAN, 1, "user nosuch is not in /etc/passwd"},
    {"0 5 * * * root   ", 1, FLAVOR_DEBIAN, 1, ""},
    {"* * * * *", 0, FLAVOR_DEBIAN, 1, ""},
    {"5/10 * * * * root x", 1, FLAVOR_DEBIAN, 1, "bad minute field 5/10"},
    {"5/10 * * * * root x", 1, FLAVOR_CRONIE, 1, ""},
    {"*/0 * * * * x", 0, FLAVOR_DEBIAN, 1, "bad minute field */0"},
    {"5-1 * * * * x", 0, FLAVOR_DEBIAN, 1, ""},
    {"0-60 * * * * x", 0, FLAVOR_DEBIAN, 1, "bad minute field 0-60"},
    {"0-59/90 * * * * x", 0, FLAVOR_DEBIAN, 1, ""},
    {"0 24 * * * x", 0, FLAVOR_DEBIAN, 1, "bad hour field 24"},
    {"0 0 0 * * x", 0, FLAVOR_DEBIAN, 1, "bad day of month field 0"},
    {"0 0 * 0 * x", 0, FLAVOR_DEBIAN, 1, "bad month field 0"},
    {"0 0 * * 7 x", 0, FLAVOR_DEBIAN, 1, ""},
    {"0 0 * * 5-9 x", 0, FLAVOR_DEBIAN, 1, "bad day of week field 5-9"},
    {"0 0 * Jan-MAR mon-fri/2 x", 0, FLAVOR_DEBIAN, 1, ""},
    {"0 0 * * monday x", 0, FLAVOR_DEBIAN, 1, "bad day of week field monday"},
    {"*x 1-2-3 * * * x", 0, FLAVOR_DEBIAN, 1, ""},
    {"1x * * * * x", 0, FLAVOR_DEBIAN, 1, "bad minute field 1x"},
    {"0 0 1,,2 * * x", 0, FLAVOR_DEBIAN, 1, "bad day of month field 1,,2"},
    {"@Daily x", 0, FLAVOR_DEBIAN, 1, "unknown schedule @Daily"},
    {"@midnight x", 0, FLAVOR_DEBIAN, 1, ""},
};

} // namespace

TEST(CronLoad, LinesAsTheDaemonReadsThem) {
    for (const auto &c : k_lines) {
        SCOPED_TRACE(std::string(c.line) + (c.system ? " (system)" : " (user)"));
        char why[80];
        const int refused =
            cron_load_line(c.line, c.system, c.flavor, c.line_end, k_passwd, why, sizeof why);
        EXPECT_EQ(refused, c.why[0] != 0);
        EXPECT_STREQ(why, c.why);
    }
}

TEST(CronLoad, AssignmentsAsTheDaemonReadsThem) {
    struct {
        const char *line;
        int is_env;
        const char *name, *value;
    } cases[] = {
        {"PATH=/usr/local/bin:/usr/bin", 1, "PATH", "/usr/local/bin:/usr/bin"},
        {"  MAILTO = ops  ", 1, "MAILTO", "ops"},
        {"\"A B\"=1", 1, "A B", "1"},
        {"PATH=\"/opt/bin:/bin\"", 1, "PATH", "/opt/bin:/bin"},
        {"0 5 * * * x=1", 0, "", ""},
        {"FOO", 0, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        char name[32] = "", value[64] = "";
        EXPECT_EQ(cron_env_line(c.line, name, sizeof name, value, sizeof value), c.is_env);
        EXPECT_STREQ(name, c.name);
        EXPECT_STREQ(value, c.value);
    }
}

TEST(CronLoad, SpoolCrontabModeOwnerAndAccount) {
    struct {
        const char *user;
        uint32_t mode, uid;
        const char *why; // "" when loaded
    } cases[] = {
        {"alice", 0600, 1000, ""},
        {"alice", 0600, 0, ""},
        {"alice", 0644, 1000, "mode 0644, cron wants 0600"},
        {"alice", 0400, 1000, "mode 0400, cron wants 0600"},
        {"alice", 0600, 1, "not owned by alice or root"},
        {"bob", 0600, 0, "no user bob in /etc/passwd"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.user) + " " + std::to_string(c.mode));
        plat_file_info info = {PLAT_REGULAR, c.uid, c.mode, 10, 0};
        char why[96] = "";
        const char *got = spool_refusal(&info, c.user, k_passwd, FLAVOR_DEBIAN, why, sizeof why);
        EXPECT_STREQ(got ? got : "", c.why);
    }
}

// cronie's rule: readable by the owner, executable by nobody, writable by
// the owner only.
TEST(CronLoad, SpoolCrontabModeUnderCronie) {
    const std::pair<uint32_t, const char *> cases[] = {
        {0600, ""},
        {0644, ""},
        {0400, ""},
        {0664, "mode 0664, which cron refuses"},
        {0700, "mode 0700, which cron refuses"},
        {0200, "mode 0200, which cron refuses"},
    };
    for (const auto &[mode, expected] : cases) {
        SCOPED_TRACE(mode);
        plat_file_info info = {PLAT_REGULAR, 1000, mode, 10, 0};
        char why[96] = "";
        const char *got = spool_refusal(&info, "alice", k_passwd, FLAVOR_CRONIE, why, sizeof why);
        EXPECT_STREQ(got ? got : "", expected);
    }
    EXPECT_EQ(cron_refuses_whole_file(FLAVOR_CRONIE), 0);
    EXPECT_EQ(cron_refuses_whole_file(FLAVOR_DEBIAN), 1);
    EXPECT_EQ(cron_refuses_whole_file(FLAVOR_UNKNOWN), 1);
}

TEST(CronLoad, RunPartsLeavesOut) {
    struct {
        const char *name;
        int32_t kind;
        uint32_t mode;
        const char *why; // null when run
    } cases[] = {
        {"logrotate", PLAT_REGULAR, 0755, nullptr},
        {"0anacron", PLAT_REGULAR, 0700, nullptr},
        {"my_job-2", PLAT_REGULAR, 0744, nullptr},
        {".placeholder", PLAT_REGULAR, 0644, ""},
        {"backup.sh", PLAT_REGULAR, 0755, "name contains a dot"},
        {"apt.dpkg-old", PLAT_REGULAR, 0755, "name contains a dot"},
        {"notes~", PLAT_REGULAR, 0755,
         "name contains a character other than letters, digits, _ and -"},
        {"notes", PLAT_REGULAR, 0644, "not executable"},
        {"sub", PLAT_FOLDER, 0755, "a folder"},
        {"fifo", PLAT_OTHER, 0755, "not a regular file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        plat_file_info info = {c.kind, 0, c.mode, 0, 0};
        const char *got = run_parts_refusal(c.name, &info);
        if (!c.why)
            EXPECT_EQ(got, nullptr);
        else
            EXPECT_STREQ(got ? got : "(runs)", c.why);
    }
}

TEST(CronLoad, RefusedFileMarksItsJobsAndKeepsLineReasons) {
    jobs_reset();
    cron_job *a = add_job();
    strcpy(a->source, "/etc/cron.d/x");
    a->valid = 1;
    a->next_count = 3;
    cron_job *b = cron_add_refused_line("0 5 * *", "/etc/cron.d/x", "", "too few fields");
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b->expr, "0 5 * *");
    EXPECT_STREQ(b->command, "");
    cron_refuse_jobs(0, "/etc/cron.d/x", "syntax error in line 2 of this file", 0);
    EXPECT_EQ(a->valid, 0);
    EXPECT_EQ(a->next_count, 0);
    EXPECT_STREQ(a->error, "ignored by cron: syntax error in line 2 of this file");
    EXPECT_STREQ(b->error, "ignored by cron: too few fields");
    // A file cron never reads gives its reason to every job.
    cron_refuse_jobs(0, "/etc/cron.d/x", "mode 0644, cron wants 0600", 1);
    EXPECT_STREQ(b->error, "ignored by cron: mode 0644, cron wants 0600");
    // A refused file without jobs is still listed, once.
    const int before = g_job_count;
    cron_refuse_jobs(before, "/var/spool/cron/crontabs/bob", "no user bob in /etc/passwd", 1);
    ASSERT_EQ(g_job_count, before + 1);
    EXPECT_STREQ(g_jobs[before].description, "File ignored by cron");
    EXPECT_STREQ(g_jobs[before].source, "/var/spool/cron/crontabs/bob");
}
