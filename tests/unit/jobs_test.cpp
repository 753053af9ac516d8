#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "jobs/jobs.h"

namespace {

constexpr int64_t k_now = 1794458190;

// Feeds lines to the fixture line handler as read_fixture_file would.
void feed(const std::vector<std::string> &lines) {
    jobs_reset();
    int system_format = 0;
    cron_expr ce;
    for (const auto &l : lines) {
        char buf[2048];
        snprintf(buf, sizeof buf, "%s", l.c_str());
        fixture_line(buf, &system_format, &ce, k_now);
    }
}

} // namespace

TEST(JobTable, CapacityTruncationAndSources) {
    jobs_reset();
    for (int i = 0; i < 512; i++) ASSERT_NE(add_job(), nullptr);
    EXPECT_EQ(g_truncated, 0);
    EXPECT_EQ(add_job(), nullptr);
    EXPECT_EQ(g_truncated, 1);
    EXPECT_EQ(g_job_count, 512);

    jobs_reset();
    EXPECT_EQ(g_job_count, 0);
    EXPECT_EQ(g_truncated, 0);
    for (int i = 0; i < 20; i++) note_source(("s" + std::to_string(i % 18)).c_str());
    note_source("s0");
    EXPECT_EQ(g_source_count, 16);
    EXPECT_STREQ(g_sources[0], "s0");
    EXPECT_STREQ(g_sources[15], "s15");
    note_source(std::string(100, 'n').c_str());
    jobs_reset();
    note_source(std::string(100, 'n').c_str());
    EXPECT_EQ(std::string(g_sources[0]), std::string(63, 'n'));
    note_source(std::string(100, 'n').c_str()); // a long name is noted once
    EXPECT_EQ(g_source_count, 1);
}

TEST(FixtureLine, LineKindsAndFields) {
    const std::string f126(126, '1'), f125(125, '1'), f125a = f125 + " a";
    const struct {
        std::vector<std::string> lines;
        int count;
        const char *expr, *user, *command;
    } cases[] = {
        {{"*/15 9-17 * * 1-5 /usr/local/bin/report --daily"},
         1,
         "*/15 9-17 * * 1-5",
         "",
         "/usr/local/bin/report --daily"},
        {{"0\t3   * * *  run   this\r\n"}, 1, "0 3 * * *", "", "run   this"},
        {{"# qz:system", "0 3 * * * root /usr/sbin/logrotate /etc/logrotate.conf"},
         1,
         "0 3 * * *",
         "root",
         "/usr/sbin/logrotate /etc/logrotate.conf"},
        {{"  # qz:systemwide  ", "@reboot root /opt/start.sh"},
         1,
         "@reboot",
         "root",
         "/opt/start.sh"},
        {{"# qz: system", "0 3 * * * root cmd"}, 1, "0 3 * * *", "", "root cmd"},
        {{"#qz:system", "0 3 * * * root cmd"}, 1, "0 3 * * *", "", "root cmd"},
        {{"# qz:system", "# qz:user", "0 3 * * * root cmd"}, 1, "0 3 * * *", "", "root cmd"},
        {{"# qz:system", "# qz:other", "0 3 * * * root cmd"}, 1, "0 3 * * *", "root", "cmd"},
        {{"0 5 * *"}, 0, nullptr, nullptr, nullptr},
        {{"# qz:system", "0 5 * * *"}, 0, nullptr, nullptr, nullptr},
        {{"# qz:system", "0 5 * * * root"}, 1, "0 5 * * *", "root", ""},
        {{"* * * * *"}, 1, "* * * * *", "", ""},
        {{"@reboot"}, 1, "@reboot", "", ""},
        {{"# qz:system", "@daily root"}, 1, "@daily", "root", ""},
        {{"@daily   a  b "}, 1, "@daily", "", "a  b"},
        {{"0 * * * * cmd # note"}, 1, "0 * * * *", "", "cmd # note"},
        {{"", "   ", "# comment", "  # indented", "MAILTO=ops", "SHELL=/bin/sh", " CRON_TZ=UTC"},
         0,
         nullptr,
         nullptr,
         nullptr},
        {{"MAILTO = ops"}, 0, nullptr, nullptr, nullptr},
        // Every field counts, however long; expr shows the first 127 bytes.
        {{f126 + " a b c d e cmd"}, 1, f126.c_str(), "", "e cmd"},
        {{f125 + " a b c d e cmd"}, 1, f125a.c_str(), "", "e cmd"},
        {{f126 + " " + f126 + " " + f126 + " " + f126 + " " + f126 + " cmd"},
         1,
         f126.c_str(),
         "",
         "cmd"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lines.back());
        feed(c.lines);
        ASSERT_EQ(g_job_count, c.count);
        EXPECT_EQ(g_source_count, c.count);
        if (!c.count) continue;
        const cron_job &j = g_jobs[0];
        EXPECT_STREQ(j.expr, c.expr);
        EXPECT_STREQ(j.user, c.user);
        EXPECT_STREQ(j.command, c.command);
        EXPECT_STREQ(j.source, "fixture");
        EXPECT_STREQ(j.kind, "cron");
        EXPECT_STREQ(g_sources[0], "fixture");
    }
}

TEST(FixtureLine, ScheduleOutcomes) {
    feed({"*/15 9-17 * * 1-5 report", "61 * * * * cmd", "@reboot start", "0 0 30 2 * never",
          std::string(126, '1') + " a b c d e cmd", "x" + std::string(600, 'c')});
    ASSERT_EQ(g_job_count, 5);
    EXPECT_EQ(g_jobs[0].valid, 1);
    EXPECT_EQ(g_jobs[0].next_count, 5);
    EXPECT_STREQ(g_jobs[0].description,
                 "Every 15 minutes, between 09:00 and 17:59, on Monday, Tuesday, Wednesday, "
                 "Thursday, Friday");
    EXPECT_EQ(g_jobs[1].valid, 0);
    EXPECT_STREQ(g_jobs[1].error, "minute out of range 0-59");
    EXPECT_STREQ(g_jobs[1].description, "Unrecognised schedule expression");
    EXPECT_EQ(g_jobs[1].next_count, 0);
    EXPECT_EQ(g_jobs[2].valid, 1);
    EXPECT_STREQ(g_jobs[2].description, "When the system starts (no scheduled times)");
    EXPECT_EQ(g_jobs[2].next_count, 0);
    EXPECT_EQ(g_jobs[3].valid, 1);
    EXPECT_EQ(g_jobs[3].next_count, 0);
    EXPECT_STREQ(g_jobs[4].error, "bad minute field"); // 126 ones: the whole number is judged
    EXPECT_EQ(g_source_count, 1);
}

TEST(CsvSplit, SplitterRules) {
    const std::string long_field(300, 'x');
    const struct {
        std::string line;
        int ok, n;
        std::vector<std::string> fields;
    } cases[] = {
        {"\"\\Maintenance\\NightlyReport\",\"10/12/2026 3:00:00 AM\",\"Ready\"",
         1,
         3,
         {"\\Maintenance\\NightlyReport", "10/12/2026 3:00:00 AM", "Ready"}},
        {"\"a\"\"b\",\"c\"", 1, 3, {"a", "b", "c"}},
        {"\"a\"\"b\",\"c\",\"d\"", 1, 4, {"a", "b", "c", "d"}},
        {"\"abc\"def,ghi", 1, 3, {"abc", "def", "ghi"}},
        {"\"open,with,commas", 0, 1, {"open,with,commas"}},
        {"\"x\",", 0, 1, {"x"}},
        {"INFO: no tasks", 0, 1, {"INFO: no tasks"}},
        {",a,b", 1, 3, {"", "a", "b"}},
        {"a,,b", 1, 3, {"a", "", "b"}},
        {"a,b,c,d,e,f", 1, 4, {"a", "b", "c", "d"}},
        {long_field + ",y", 1, 3, {std::string(255, 'x'), std::string(45, 'x'), "y"}},
        {"\"" + long_field + "\",y",
         1,
         3,
         {std::string(255, 'x'), std::string(45, 'x') + "\"", "y"}},
        {"\"" + std::string(255, 'q') + "\",y", 1, 2, {std::string(255, 'q'), "y"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line.substr(0, 60));
        char fields[4][256];
        int n = -1;
        EXPECT_EQ(csv_split(c.line.c_str(), fields, &n), c.ok);
        ASSERT_EQ(n, c.n);
        for (int i = 0; i < n; i++) EXPECT_EQ(std::string(fields[i]), c.fields[i]);
    }
}

TEST(SchtasksLine, JobsAndDescriptions) {
    const std::string long_status(200, 's'), long_next(100, 'n');
    const struct {
        std::string line;
        int count;
        const char *command;
        std::string description;
    } cases[] = {
        {"\"\\Maintenance\\NightlyReport\",\"10/12/2026 3:00:00 AM\",\"Ready\"\r\n", 1,
         "\\Maintenance\\NightlyReport", "Ready - next 10/12/2026 3:00:00 AM"},
        {"\"\\Old\",\"N/A\",\"Disabled\"", 1, "\\Old", "Disabled"},
        {"\"\\Empty\",\"\",\"\"", 1, "\\Empty", "Scheduled Windows task"},
        {"\"\\Backup\",\"11/12/2026 1:00:00 AM\"", 1, "\\Backup",
         "Scheduled Windows task - next 11/12/2026 1:00:00 AM"},
        {"\"TaskName\",\"Next Run Time\",\"Status\"", 0, nullptr, ""},
        {"\"TaskNames\",\"x\",\"y\"", 1, "TaskNames", "y - next x"},
        {",\"x\",\"y\"", 0, nullptr, ""},
        {"\"a\"\"b\",\"c\",\"d\"", 1, "a", "c - next b"},
        {"\r\n", 0, nullptr, ""},
        {"ERROR: message", 0, nullptr, ""},
        {"\"t\",\"" + long_next + "\",\"" + long_status + "\"", 1, "t",
         (long_status + " - next " + long_next).substr(0, 223)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line.substr(0, 60));
        jobs_reset();
        char buf[2048];
        snprintf(buf, sizeof buf, "%s", c.line.c_str());
        schtasks_line(buf);
        ASSERT_EQ(g_job_count, c.count);
        EXPECT_EQ(g_source_count, c.count);
        if (!c.count) continue;
        const cron_job &j = g_jobs[0];
        EXPECT_STREQ(j.command, c.command);
        EXPECT_EQ(std::string(j.description), c.description);
        EXPECT_STREQ(j.source, "schtasks");
        EXPECT_STREQ(j.kind, "task");
        EXPECT_STREQ(j.expr, "task");
        EXPECT_STREQ(j.user, "");
        EXPECT_EQ(j.valid, 1);
        EXPECT_EQ(j.next_count, 0);
    }
}

// The task list read through a stand-in schtasks first on PATH: the rest of a
// line past the buffer never reads as a task of its own.
TEST(ReadSchtasks, OverlongLineNeverStartsATask) {
    char dir[] = "/tmp/zv_schtasks_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string out = std::string(dir) + "/out";
    std::string line = "\"\\Long\",\"N/A\",\"" + std::string(2040, 'r');
    FILE *f = fopen(out.c_str(), "w");
    fputs((line + "\"\\Phantom\",\"N/A\",\"Ready\"\r\n\"\\Next\",\"N/A\",\"Ready\"\r\n").c_str(),
          f);
    fclose(f);
    std::string script = std::string(dir) + "/schtasks";
    f = fopen(script.c_str(), "w");
    fputs(("#!/bin/sh\nexec /bin/cat " + out + "\n").c_str(), f);
    fclose(f);
    chmod(script.c_str(), 0755);
    const char *old = getenv("PATH");
    std::string saved = old ? old : "";
    setenv("PATH", (std::string(dir) + ":/usr/bin:/bin").c_str(), 1);
    jobs_reset();
    read_schtasks();
    setenv("PATH", saved.c_str(), 1);
    ASSERT_EQ(g_job_count, 2);
    EXPECT_STREQ(g_jobs[0].command, "\\Long");
    EXPECT_STREQ(g_jobs[1].command, "\\Next");
    std::filesystem::remove_all(dir);
}
