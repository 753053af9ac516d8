#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <time.h>
#include <unistd.h>

#include "jobs/timer_job.h"

namespace {

constexpr int64_t k_now = 1794458190; // 2026-11-12 04:36:30 UTC, a Thursday

struct parsed {
    timer_unit timer;
    service_unit service;
};

// Applies each text in turn, as a unit file and then its drop-ins.
parsed apply(std::initializer_list<const char *> texts) {
    parsed p;
    memset(&p, 0, sizeof p);
    for (const char *t : texts) unit_apply_text(t, strlen(t), &p.timer, &p.service);
    return p;
}

cron_job job_of(const parsed &p, const char *service_name = "x.service") {
    setenv("TZ", "UTC", 1);
    tzset();
    cron_job job;
    memset(&job, 0, sizeof job);
    static zoned_values held;
    held.count = 0;
    timer_fill_job(&job, &p.timer, service_name, &p.service, k_now, &held);
    timer_add_zoned_runs(&held, k_now);
    unsetenv("TZ");
    tzset();
    return job;
}

} // namespace

TEST(UnitFile, SectionsCommentsAndResets) {
    parsed p = apply({"# comment\n[Unit]\nOnCalendar=ignored\n[Timer]\n; also a comment\n"
                      "OnCalendar = daily \nOnCalendar=weekly\r\nPersistent=yes\n"
                      "[Service]\nExecStart=\nExecStart=@/bin/a \\\n b\nExecStart=/bin/second\n"
                      "User=backup\n",
                      "[Timer]\nOnCalendar=\nOnCalendar=*-*-* 03:30\nPersistent=false\n"});
    ASSERT_EQ(p.timer.calendar_count, 1);
    EXPECT_STREQ(p.timer.calendars[0], "*-*-* 03:30");
    EXPECT_EQ(p.timer.persistent, 0);
    EXPECT_STREQ(p.service.exec_start, "@/bin/a   b");
    EXPECT_STREQ(p.service.user, "backup");
}

TEST(UnitFile, EmptyTriggerClearsBothLists) {
    parsed p = apply({"[Timer]\nOnCalendar=daily\nOnBootSec=5min\nOnUnitActiveSec=\n"
                      "OnActiveSec=1h\n"});
    EXPECT_EQ(p.timer.calendar_count, 0);
    ASSERT_EQ(p.timer.monotonic_count, 1);
    EXPECT_STREQ(p.timer.monotonic[0], "OnActiveSec=1h");
}

TEST(TimerJob, Fields) {
    struct {
        const char *timer, *service, *expr, *command, *user, *description;
    } cases[] = {
        {"[Timer]\nOnCalendar=*-*-* 6,18:00\nRandomizedDelaySec=12h\nPersistent=true\n",
         "[Service]\nExecStart=/usr/lib/apt/apt.systemd.daily update\n", "*-*-* 6,18:00",
         "x.service: /usr/lib/apt/apt.systemd.daily update", "root",
         "At 06:00 and 18:00, every day, plus up to 12 hours' random delay, catches up after "
         "downtime"},
        {"[Timer]\nOnBootSec=15min\nOnUnitActiveSec=1d\nPersistent=true\n",
         "[Service]\nUser=nobody\nExecStart=!!-+:/bin/run %n %p %i %%\n",
         "OnBootSec=15min OnUnitActiveSec=1d", "x.service: /bin/run x.service x  %", "nobody",
         "15 minutes after boot, then 1 day after each run"},
        {"[Timer]\nOnCalendar=daily\nOnCalendar=hourly\nRandomizedDelaySec=90\n", "",
         "daily; hourly", "x.service", "root",
         "Every day at 00:00; every hour, on the hour, plus up to 1 minute 30 seconds' random "
         "delay"},
        {"[Timer]\nOnStartupSec=1w 2h\nOnUnitInactiveSec=0.5h\n", "",
         "OnStartupSec=1w 2h "
         "OnUnitInactiveSec=0.5h",
         "x.service", "root",
         "7 days 2 hours after the service manager starts, then 30 minutes after each run ends"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.timer);
        parsed p;
        memset(&p, 0, sizeof p);
        unit_apply_text(c.timer, strlen(c.timer), &p.timer, nullptr);
        unit_apply_text(c.service, strlen(c.service), nullptr, &p.service);
        cron_job job = job_of(p);
        EXPECT_STREQ(job.source, "systemd");
        EXPECT_STREQ(job.kind, "timer");
        EXPECT_STREQ(job.expr, c.expr);
        EXPECT_STREQ(job.command, c.command);
        EXPECT_STREQ(job.user, c.user);
        EXPECT_STREQ(job.description, c.description);
        EXPECT_EQ(job.valid, 1);
    }
}

TEST(TimerJob, CalendarsMergeAndRejectionsShow) {
    parsed p = apply({"[Timer]\nOnCalendar=*-*-* 05:00\nOnCalendar=Fri..Mon\n"
                      "OnCalendar=*-*-* 04,05:00,40\n"});
    cron_job job = job_of(p);
    EXPECT_EQ(job.valid, 0);
    EXPECT_STREQ(job.error, "OnCalendar=Fri..Mon: weekday range runs backwards");
    // The other two still run, merged without the shared 05:00 twice.
    ASSERT_EQ(job.next_count, 5);
    const int64_t today = k_now - k_now % 86400;
    const int64_t want[5] = {today + 4 * 3600 + 2400, today + 5 * 3600, today + 5 * 3600 + 2400,
                             today + 86400 + 4 * 3600, today + 86400 + 4 * 3600 + 2400};
    for (int i = 0; i < 5; i++) EXPECT_EQ(job.next[i], want[i]) << i;
    cron_job none = job_of(apply({"[Timer]\nPersistent=true\n"}));
    EXPECT_EQ(none.valid, 0);
    EXPECT_STREQ(none.error, "no OnCalendar= or On...Sec= setting");
}

namespace {

// Time spans as systemd-analyze timespan of systemd 252 reads them (its
// microseconds, cut to whole seconds), and the texts it refuses (-1).
const struct {
    const char *text;
    int64_t seconds;
} k_spans[] = {
    {"15min", 900},    {"1h 30min", 5400}, {"12h", 43200},        {"43200", 43200},
    {"0.5h", 1800},    {"1w 2h", 612000},  {"2 months", 5259600}, {"1y", 31557600},
    {"5us", 0},        {"1.5s", 1},        {"3 m", 180},          {"1M", 2629800},
    {"1d12h", 129600}, {"10 hr", 36000},   {"2weeks", 1209600},   {" 7 sec ", 7},
    {".5min", 30},     {"100ms", 0},       {"abc", -1},           {"1x", -1},
    {"", -1},          {"1..2s", -1},
};

} // namespace

TEST(TimerJob, SpanSeconds) {
    for (const auto &c : k_spans) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(span_seconds(c.text), c.seconds);
    }
}

// The same table against the node's own systemd, where it is installed.
TEST(TimerJob, SpanSecondsAsSystemdReadsThem) {
    if (access("/usr/bin/systemd-analyze", X_OK) != 0) GTEST_SKIP() << "no systemd-analyze";
    for (const auto &c : k_spans) {
        SCOPED_TRACE(c.text);
        std::string cmd = std::string("/usr/bin/systemd-analyze timespan '") + c.text + "' 2>&1";
        FILE *p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char line[256];
        long long usec = -1;
        while (fgets(line, sizeof line, p)) {
            const char *mu = strstr(line, "\xce\xbcs: ");
            if (mu) usec = atoll(mu + 5);
        }
        pclose(p);
        EXPECT_EQ(usec < 0 ? -1 : usec / 1000000, c.seconds);
    }
}

TEST(TimerJob, ExpandSpecifiers) {
    const struct {
        const char *in, *unit;
        size_t cap;
        const char *out;
    } cases[] = {
        {"/bin/run %n %p %i %%", "x.service", 256, "/bin/run x.service x  %"},
        {"%i %I", "pg_dump@15-main.service", 256, "15-main 15-main"},
        {"%N %p %P", "pg_dump@15-main.service", 256, "pg_dump@15-main pg_dump pg_dump"},
        {"%x and %", "a.service", 256, "%x and %"},
        {"100%%", "a.service", 256, "100%"},
        {"abc%ndef", "long.service", 8, "abclong"}, // cut where the capacity ends
        {"abcdef", "a.service", 4, "abc"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        char out[256];
        expand_specifiers(c.in, c.unit, out, c.cap);
        EXPECT_STREQ(out, c.out);
    }
}
