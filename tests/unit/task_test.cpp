// Task Scheduler triggers: the real task definitions read into jobs, their
// descriptions and schtasks forms, and their runs against a simulation of the
// documented trigger rules that steps through time minute by minute.
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <time.h>
#include <vector>

#include "cron/task.h"
#include "jobs/jobs.h"

namespace {

constexpr int64_t k_now = 1794458190; // 2026-11-12 04:36:30 UTC, a Thursday

void set_zone(const char *tz) {
    setenv("TZ", tz, 1);
    tzset();
}

std::string fixture(const std::string &name) {
    std::ifstream in(std::string(ZV_DATA_DIR) + "/windows-tasks/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

cron_job job_of(const std::string &bytes, int64_t now = k_now) {
    static cron_job job;
    task_fill_job(&job, "\\T", (const unsigned char *)bytes.data(), bytes.size(), now);
    return job;
}

std::string utc(int64_t t) {
    time_t tt = (time_t)t;
    struct tm tm;
    gmtime_r(&tt, &tm);
    char b[32];
    strftime(b, sizeof b, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return b;
}

std::vector<std::string> runs_of(const cron_job &job) {
    std::vector<std::string> out;
    for (int i = 0; i < job.next_count; i++) out.push_back(utc(job.next[i]));
    return out;
}

} // namespace

// Every real file: what the job says, in Berlin on 2026-11-12.
TEST(TaskFiles, RealDefinitions) {
    set_zone("Europe/Berlin");
    struct row {
        const char *file, *command, *user, *expr, *description, *first_run;
    } rows[] = {
        {"daily-every-30-days-comhandler-system.xml",
         "\\T: COM handler {C56F065E-DE49-4E42-BE7C-305C45609D25}", "SYSTEM",
         "/SC DAILY /MO 30 /ST 12:00", "At 12:00, every 30 days", "2026-11-25T11:00:00Z"},
        {"daily-every-30-days-endboundary-groupid-admins.xml", nullptr, "Administrators",
         "/SC DAILY /MO 30 /ST 18:00 /ED 2027-01-24 /ET 18:00",
         "At 18:00, every 30 days, until 2027-01-24 18:00", "2026-12-04T17:00:00Z"},
        {"daily-plus0800-randomdelay-30min-system.xml", nullptr, "SYSTEM", "/SC DAILY /ST 22:15",
         "At 22:15 UTC+08:00, every day, plus up to 30 minutes' random delay",
         "2026-11-12T14:15:00Z"},
        {"daily-repeat-12h-for-1d-plus-boot-and-once-offset-hidden-disabled.xml",
         "\\T: D:\\Downloads\\cc\\CCUpdate.exe", "SYSTEM",
         "/SC DAILY /ST 14:51 /RI 720 /DU 24:00; /SC ONSTART /DELAY 0002:00; /SC ONCE /SD "
         "2023-01-07 /ST 19:53",
         "Disabled: At 14:51:42 UTC+01:00, every day, then every 12 hours for 1 day; At system "
         "start-up, after 2 minutes; At 19:53:24 UTC+01:00 on 2023-01-07, once (hidden task)",
         nullptr},
        {"daily-repeat-1min-for-1d-stopatdurationend-true-template.xml", "\\T: {exe}", "{sid}",
         "/SC DAILY /ST 00:00 /RI 1 /DU 24:00 /K",
         "At 00:00, every day, then every minute for 1 day", "2026-11-12T04:37:00Z"},
        {"event-four-subscriptions-groupid-admins-hidden-comhandler.xml", nullptr, "Administrators",
         // Cut to the field's 127 bytes.
         "/SC ONEVENT /EC System; /SC ONEVENT /EC Application; /SC ONEVENT /EC System; /SC "
         "ONEVENT /EC Microsoft-Windows-Kernel-StoreMgr/",
         "On an event in the System log; On an event in the Application log; On an event in the "
         "System log; On an event in the Microsoft-Windows-Kernel-StoreMgr/Operational log "
         "(hidden task)",
         nullptr},
        {"boot-delay-30min-system.xml",
         "\\T: %windir%\\system32\\rundll32.exe /d acproxy.dll,PerformAutochkOperations", "SYSTEM",
         "/SC ONSTART /DELAY 0030:00", "At system start-up, after 30 minutes", nullptr},
        {"idle-hidden-runonlyifidle.xml", nullptr, "blusc", "/SC ONIDLE",
         "When the computer is idle (hidden task)", nullptr},
        {"logon-any-user-with-startboundary-groupid-users.xml", "\\T: notepad.exe", "Users",
         "/SC ONLOGON", "At log on of any user", nullptr},
        {"logon-delay-30s-repeat-P1DT2H47M-plus-wnf.xml", nullptr, "INTERACTIVE",
         "WnfStateChangeTrigger; /SC ONLOGON /RI 1607 /DELAY 0000:30",
         "On a Windows notification state change; At log on of any user, after 30 seconds, then "
         "every 1 day 2 hours 47 minutes",
         nullptr},
        {"logon-with-userid-delay-0s-trigger-ids.xml", nullptr, "blusc", "/SC ONLOGON",
         "At log on of blusc", nullptr},
        {"monthly-day1-all-months-args-workingdir-utf8-declared-utf16.xml",
         "\\T: \"[PATH]\\erroraction.cmd\" --test", "SYSTEM", "/SC MONTHLY /D 1 /ST 12:00",
         "At 12:00 on day 1 of every month", "2026-12-01T11:00:00Z"},
        {"monthly-dow-last-saturday-utf8-declared-utf16.xml",
         "\\T: powershell.exe Restart-Computer", "", "/SC MONTHLY /MO LAST /D SAT /ST 18:00",
         "At 18:00 on the last Saturday of every month", "2026-11-28T17:00:00Z"},
        {"monthly-last-day-all-months.xml", nullptr,
         "S-1-5-21-4087578038-3884255077-3749684752-1001", "/SC MONTHLY /MO LASTDAY /M * /ST 08:30",
         "At 08:30:47 on the last day of every month", "2026-11-30T07:30:47Z"},
        {"no-triggers-maintenance-7d-deadline-1m.xml",
         "\\T: %windir%\\system32\\defrag.exe -c -h -o -$", "SYSTEM", "",
         "Runs only when started by hand or by another program, and during Automatic Maintenance "
         "every 7 days",
         nullptr},
        {"once-2004-repeat-6h-indefinitely-task-disabled.xml", nullptr, "SYSTEM",
         "/SC ONCE /SD 2004-01-02 /ST 00:00 /RI 360",
         "Disabled: At 00:00 on 2004-01-02, then every 6 hours", nullptr},
        {"once-utc-fractional-repeat-171min-randomdelay-wnf.xml", nullptr, "SYSTEM",
         "/SC ONCE /SD 2023-01-07 /ST 20:12 /RI 171; WnfStateChangeTrigger",
         "At 20:12:07 UTC on 2023-01-07, then every 2 hours 51 minutes, plus up to 1 hour's random "
         "delay; On a Windows notification state change",
         "2026-11-12T07:09:07Z"},
        {"once-utc-fractional-repeat-PT25200S-workingdir.xml", nullptr, "blusc",
         "/SC ONCE /SD 2022-12-05 /ST 09:35 /RI 420",
         "At 09:35:13 UTC on 2022-12-05, then every 7 hours", "2026-11-12T07:35:13Z"},
        {"once-utc-z-randomdelay-plus-disabled-session-and-wnf.xml",
         "\\T: C:\\Windows\\system32\\sc.exe start wuauserv", "NT AUTHORITY\\SYSTEM", nullptr,
         nullptr, nullptr},
        {"registration-delay-0s.xml", "\\T: C:\\Windows\\explorer.exe /NoUACCheck",
         "BLUSCREAM-PC\\blusc", "RegistrationTrigger", "When the task is created or changed",
         nullptr},
        {"session-lock-unlock-groupid-interactive-comhandler.xml", nullptr, "INTERACTIVE",
         "SessionStateChangeTrigger SessionLock; SessionStateChangeTrigger SessionUnlock",
         "On workstation lock; On workstation unlock", nullptr},
        {"weekly-mon-fri-0300-trigger-timelimit.xml", nullptr, "KSE\\Backup_AD2008",
         "/SC WEEKLY /D MON,TUE,WED,THU,FRI /ST 03:00",
         "At 03:00 on Monday, Tuesday, Wednesday, Thursday and Friday", "2026-11-13T02:00:00Z"},
        {"DOCSAMPLE-weekly-every-2-weeks-monday-endboundary.xml", "\\T: notepad.exe",
         "Administrator", "/SC WEEKLY /MO 2 /D MON /ST 08:00 /ED 2006-01-01 /ET 00:00",
         "At 08:00 on Monday, every 2 weeks, until 2006-01-01 00:00", nullptr},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.file);
        const std::string bytes = fixture(r.file);
        ASSERT_FALSE(bytes.empty());
        cron_job job = job_of(bytes);
        EXPECT_EQ(job.valid, 1) << job.error;
        EXPECT_STREQ(job.source, "Task Scheduler");
        EXPECT_STREQ(job.kind, "task");
        if (r.command) { EXPECT_STREQ(job.command, r.command); }
        EXPECT_STREQ(job.user, r.user);
        if (r.expr) { EXPECT_STREQ(job.expr, r.expr); }
        if (r.description) { EXPECT_STREQ(job.description, r.description); }
        if (r.first_run) {
            ASSERT_GT(job.next_count, 0);
            EXPECT_EQ(utc(job.next[0]), r.first_run);
        } else {
            EXPECT_EQ(job.next_count, 0);
        }
    }
}

// Eleven triggers with -04:00 offsets: four weekly, seven one-time in 2021.
TEST(TaskFiles, ElevenTriggersMerged) {
    set_zone("Europe/Berlin");
    cron_job job = job_of(fixture("weekly-4-calendar-minus0400-endboundary-plus-7-once.xml"));
    EXPECT_EQ(job.valid, 1);
    // Monday 17:03, Tuesday and Friday 13:03 at -04:00; the Saturday and
    // Sunday trigger ended in 2022.
    EXPECT_EQ(runs_of(job),
              (std::vector<std::string>{"2026-11-13T17:03:00Z", "2026-11-16T21:03:00Z",
                                        "2026-11-17T17:03:00Z", "2026-11-20T17:03:00Z",
                                        "2026-11-23T21:03:00Z"}));
    EXPECT_EQ(std::string(job.command).rfind("\\T: powershell.exe C:\\Twitch-Watcher\\", 0), 0u);
}

// The same definition as UTF-16LE with a mark, UTF-16LE without one, UTF-8
// with and without a mark: the same job.
TEST(TaskFiles, EncodingsGiveTheSameJob) {
    set_zone("UTC");
    const std::string utf8 = fixture("monthly-dow-last-saturday-utf8-declared-utf16.xml");
    std::string utf16;
    for (unsigned char c : utf8) {
        utf16 += (char)c;
        utf16 += '\0';
    }
    ASSERT_TRUE(utf8.find_first_of("\x80") == std::string::npos); // ASCII only
    const std::string forms[] = {utf8, "\xEF\xBB\xBF" + utf8, "\xFF\xFE" + utf16, utf16};
    cron_job first = job_of(utf8);
    ASSERT_EQ(first.valid, 1);
    for (const std::string &bytes : forms) {
        cron_job job = job_of(bytes);
        EXPECT_EQ(job.valid, 1) << job.error;
        EXPECT_STREQ(job.description, first.description);
        EXPECT_EQ(runs_of(job), runs_of(first));
    }
}

TEST(TaskFiles, Unreadable) {
    const std::string real = fixture("boot-delay-30min-system.xml");
    const std::string task_open =
        "<Task xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">";
    std::string deep = task_open;
    for (int i = 0; i < 10000; i++) deep += "<a>";
    struct {
        std::string bytes;
        const char *error;
    } rows[] = {
        {"", "unreadable task definition: an empty file"},
        {"hello", "unreadable task definition: text outside the root element"},
        {real.substr(0, real.size() - 1),
         "unreadable task definition: cut short in the middle of a UTF-16 character"},
        {real.substr(0, real.size() / 2 & ~(size_t)1),
         "unreadable task definition: cut short inside a tag"},
        {real.substr(0, real.rfind('<')), "unreadable task definition: cut short before the end "
                                          "of the root element"},
        {"<Job/>", "unreadable task definition: the root element is not Task"},
        {"<Task xmlns=\"urn:other\"/>",
         "unreadable task definition: not in the Task Scheduler's namespace"},
        {"<!DOCTYPE Task [<!ENTITY a \"aaaa\">]>" + task_open + "&a;</Task>",
         "unreadable task definition: a document type declaration"},
        {task_open + "&nbsp;</Task>", "unreadable task definition: an unknown entity"},
        {deep, "unreadable task definition: elements nested deeper than 64 levels"},
        {std::string("\xFF\xFE<\0", 4), "unreadable task definition: cut short"},
        {"<Task>\xC0\xAF</Task>", "unreadable task definition: neither UTF-8 nor UTF-16 text"},
        {task_open + "<Triggers><TimeTrigger><StartBoundary>soon</StartBoundary>"
                     "</TimeTrigger></Triggers></Task>",
         "unreadable task definition: a date and time that cannot be read: StartBoundary"},
        {std::string(TASK_FILE_LIMIT + 1, ' '), "unreadable task definition: longer than 256 KiB"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.error);
        cron_job job = job_of(r.bytes);
        EXPECT_EQ(job.valid, 0);
        EXPECT_STREQ(job.error, r.error);
        EXPECT_STREQ(job.command, "\\T");
        EXPECT_STREQ(job.description, "Task definition not read");
        EXPECT_EQ(job.next_count, 0);
    }
}

TEST(TaskFiles, ActionsAndPrincipals) {
    const std::string head =
        "<?xml version=\"1.0\"?><t:Task xmlns:t=\"http://schemas.microsoft.com/windows/2004/02/"
        "mit/task\">";
    struct {
        std::string body;
        const char *command, *user;
    } rows[] = {
        {"<t:Actions><t:Exec><t:Command>a.exe</t:Command><t:Arguments>-x &amp; &#x263A;"
         "</t:Arguments></t:Exec><t:Exec><t:Command>b</t:Command></t:Exec><t:ComHandler/>"
         "</t:Actions><t:Principals><t:Principal><t:GroupId>S-1-5-32-545</t:GroupId>"
         "</t:Principal></t:Principals>",
         "\\T: a.exe -x & \xE2\x98\xBA (+2 more actions)", "Users"},
        {"<t:Actions><t:ComHandler><t:ClassId>{X}</t:ClassId></t:ComHandler><t:Exec/>"
         "</t:Actions><t:Principals><t:Principal><t:UserId>S-1-5-19</t:UserId></t:Principal>"
         "</t:Principals>",
         "\\T: COM handler {X} (+1 more action)", "LOCAL SERVICE"},
        {"<t:Actions><t:Exec><t:Command><![CDATA[c:\\a<b>.exe]]></t:Command></t:Exec>"
         "</t:Actions><t:Principals><t:Principal><t:UserId>S-1-5-20</t:UserId></t:Principal>"
         "</t:Principals>",
         "\\T: c:\\a<b>.exe", "NETWORK SERVICE"},
        {"", "\\T", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.command);
        cron_job job = job_of(head + r.body + "</t:Task>");
        EXPECT_EQ(job.valid, 1) << job.error;
        EXPECT_STREQ(job.command, r.command);
        EXPECT_STREQ(job.user, r.user);
        EXPECT_STREQ(job.expr, "");
        EXPECT_STREQ(job.description, "Runs only when started by hand or by another program");
    }
}

TEST(TaskTimes, BoundariesAndDurations) {
    struct {
        const char *text;
        int ok, zoned, offset, hour, second;
    } times[] = {
        {"2026-12-24T08:00:00", 1, 0, 0, 8, 0},
        {"2023-01-07T20:12:07.415Z", 1, 1, 0, 20, 7},
        {"2016-08-08T22:15:00+08:00", 1, 1, 28800, 22, 0},
        {"2021-08-27T21:03:00-04:00", 1, 1, -14400, 21, 0},
        {"2026-02-29T08:00:00", 0, 0, 0, 0, 0},
        {"2026-12-24 08:00:00", 0, 0, 0, 0, 0},
        {"2026-12-24T24:00:00", 0, 0, 0, 0, 0},
        {"2026-12-24T08:00:00+8", 0, 0, 0, 0, 0},
    };
    for (const auto &r : times) {
        SCOPED_TRACE(r.text);
        task_time t;
        EXPECT_EQ(task_parse_time(r.text, &t), r.ok);
        if (!r.ok) continue;
        EXPECT_EQ(t.zoned, r.zoned);
        EXPECT_EQ(t.offset, r.offset);
        EXPECT_EQ(t.hour, r.hour);
        EXPECT_EQ(t.second, r.second);
    }
    struct {
        const char *text;
        int64_t seconds;
    } durations[] = {
        {"PT15M", 900},    {"P1DT2H47M", 96420}, {"PT25200S", 25200},
        {"PT171M", 10260}, {"P1M", 30 * 86400},  {"PT0S", 0},
        {"P1D", 86400},    {"PT1.5S", 1},        {"", -1},
        {"P", -1},         {"PT", -1},           {"P1H", -1},
        {"PT1D", -1},      {"15M", -1},          {"PT-1M", -1},
    };
    for (const auto &r : durations) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(task_parse_duration(r.text), r.seconds);
    }
}

namespace {

// ---- The reference: the trigger rules applied minute by minute ----------

int64_t civil_days(int y, int m, int d) {
    struct tm tm = {};
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    return (int64_t)timegm(&tm) / 86400;
}

int days_in(int y, int m) {
    return (int)(civil_days(m == 12 ? y + 1 : y, m == 12 ? 1 : m + 1, 1) - civil_days(y, m, 1));
}

// Whether the trigger's schedule picks the local date y-m-d (weekday w).
bool date_picked(const task_trigger &t, int y, int m, int d, int w) {
    const int64_t day = civil_days(y, m, d);
    const int64_t first = civil_days(t.start.year, t.start.month, t.start.day);
    if (day < first) return false;
    const bool month_ok = !t.months || (t.months >> (m - 1) & 1);
    switch (t.kind) {
    case TASK_TIME:
        return day == first;
    case TASK_DAILY:
        return (day - first) % t.interval == 0;
    case TASK_WEEKLY: {
        // Weeks begin on Sunday; the first is the one holding the start.
        const int64_t first_sunday = first - ((first + 4) % 7);
        const int64_t sunday = day - w;
        return (t.weekdays >> w & 1) && ((sunday - first_sunday) / 7) % t.interval == 0;
    }
    case TASK_MONTHLY:
        return month_ok && ((t.month_days >> d & 1) || (t.last_day && d == days_in(y, m)));
    case TASK_MONTHLY_DOW: {
        if (!month_ok || !(t.weekdays >> w & 1)) return false;
        const int nth = (d + 6) / 7; // 1..5
        return (nth <= 4 && (t.weeks >> (nth - 1) & 1)) ||
               ((t.weeks & 16) && d + 7 > days_in(y, m));
    }
    default:
        return false;
    }
}

// Steps from `from` to `to` a minute at a time. A start is the first minute of
// a picked local date whose wall clock shows the start time or later (so a
// skipped time starts when the clock has passed it, a repeated one once);
// repetitions follow each start every Interval of elapsed time for Duration
// (end included), until the next start. Returns the runs after now.
std::vector<int64_t> simulate(const task_trigger &t, int64_t from, int64_t to, int64_t now) {
    std::vector<int64_t> runs;
    int64_t series = -1, done_day = -1;
    const int start_minute = t.start.hour * 60 + t.start.minute;
    for (int64_t x = from; x <= to && runs.size() < 5; x += 60) {
        time_t tt = (time_t)x;
        struct tm tm;
        localtime_r(&tt, &tm);
        const int64_t day = civil_days(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        bool run = false;
        if (day != done_day && tm.tm_hour * 60 + tm.tm_min >= start_minute &&
            date_picked(t, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_wday)) {
            done_day = day;
            series = x;
            run = true;
        } else if (series >= 0 && t.rep_interval && (x - series) % t.rep_interval == 0 &&
                   (!t.rep_duration || x - series <= t.rep_duration)) {
            run = true;
        }
        if (run && x > now) runs.push_back(x);
    }
    return runs;
}

task_trigger trigger(int kind, const char *start) {
    task_trigger t;
    memset(&t, 0, sizeof t);
    t.kind = kind;
    t.enabled = 1;
    t.interval = 1;
    EXPECT_TRUE(task_parse_time(start, &t.start)) << start;
    return t;
}

int64_t local_time(const char *text) {
    task_time t;
    EXPECT_TRUE(task_parse_time(text, &t)) << text;
    struct tm tm = {};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_isdst = -1;
    return (int64_t)mktime(&tm);
}

} // namespace

TEST(TaskRuns, AgainstTheSimulation) {
    struct row {
        const char *name, *zone;
        task_trigger t;
        const char *now; // local wall time
        int days;        // how far the simulation looks
    };
    std::vector<row> rows;
    auto add = [&](const char *name, const char *zone, task_trigger t, const char *now, int days) {
        rows.push_back({name, zone, t, now, days});
    };
    // Around both changes of 2027: Berlin 28 March and 31 October, New York
    // 14 March and 7 November.
    for (const char *zone : {"Europe/Berlin", "America/New_York"}) {
        const bool berlin = zone[0] == 'E';
        const char *spring = berlin ? "2027-03-26T00:00:00" : "2027-03-12T00:00:00";
        const char *autumn = berlin ? "2027-10-29T00:00:00" : "2027-11-05T00:00:00";
        task_trigger daily = trigger(TASK_DAILY, "2027-01-01T02:30:00");
        add("daily in the skipped hour", zone, daily, spring, 8);
        // In the repeated hour: Berlin repeats 02:00-02:59, New York 01:00-01:59.
        daily = trigger(TASK_DAILY, berlin ? "2027-01-01T02:30:00" : "2027-01-01T01:30:00");
        add("daily in the repeated hour", zone, daily, autumn, 8);
        task_trigger weekly = trigger(TASK_WEEKLY, "2027-01-03T02:15:00");
        weekly.weekdays = 127;
        add("weekly every day in the skipped hour", zone, weekly, spring, 8);
        task_trigger rep = trigger(TASK_DAILY, "2027-01-01T00:00:00");
        rep.rep_interval = 1800;
        rep.rep_duration = 4 * 3600;
        // The change lies inside the four hours of repetitions.
        add("every 30 minutes for 4 hours across the spring change", zone, rep,
            berlin ? "2027-03-28T00:40:00" : "2027-03-14T00:40:00", 3);
        add("every 30 minutes for 4 hours across the autumn change", zone, rep,
            berlin ? "2027-10-31T00:40:00" : "2027-11-07T00:40:00", 3);
        task_trigger once =
            trigger(TASK_TIME, berlin ? "2027-03-28T02:30:00" : "2027-03-14T02:30:00");
        once.rep_interval = 3600;
        add("once in the skipped hour, then hourly", zone, once, spring, 4);
    }
    task_trigger fortnight = trigger(TASK_WEEKLY, "2026-11-11T09:00:00"); // a Wednesday
    fortnight.interval = 2;
    fortnight.weekdays = 1 << 1 | 1 << 3 | 1 << 5; // Monday, Wednesday, Friday
    add("every 2 weeks, Mon Wed Fri, started on a Wednesday", "Europe/Berlin", fortnight,
        "2026-11-09T00:00:00", 40);
    task_trigger last_day = trigger(TASK_MONTHLY, "2027-06-01T23:30:00");
    last_day.last_day = 1;
    last_day.months = 1 << 1; // February
    add("last day of February", "America/New_York", last_day, "2027-12-01T00:00:00", 100);
    task_trigger last_week = trigger(TASK_MONTHLY_DOW, "2027-06-01T06:00:00");
    last_week.weeks = 16;
    last_week.weekdays = 127;
    last_week.months = 1 << 1;
    add("every day of the last week of February", "Europe/Berlin", last_week, "2028-02-15T00:00:00",
        30);
    task_trigger second_tuesday = trigger(TASK_MONTHLY_DOW, "2026-01-01T10:00:00");
    second_tuesday.weeks = 1 << 1 | 16;
    second_tuesday.weekdays = 1 << 2;
    add("second and last Tuesday", "UTC", second_tuesday, "2026-11-12T00:00:00", 80);
    task_trigger days = trigger(TASK_MONTHLY, "2026-01-01T10:00:00");
    days.month_days = 1u << 29 | 1u << 31;
    add("days 29 and 31, skipped where missing", "UTC", days, "2027-01-15T00:00:00", 120);
    task_trigger five = trigger(TASK_TIME, "2026-11-12T06:00:00");
    five.rep_interval = 60;
    five.rep_duration = 240;
    add("every minute for 4 minutes starts five times", "UTC", five, "2026-11-12T05:00:00", 1);
    task_trigger ended = trigger(TASK_DAILY, "2026-11-01T12:00:00");
    ended.rep_interval = 3600 * 5;
    ASSERT_TRUE(task_parse_time("2026-11-14T12:00:00", &ended.end));
    add("daily every 5 hours until the end boundary", "Europe/Berlin", ended, "2026-11-12T00:00:00",
        4);

    for (const row &r : rows) {
        SCOPED_TRACE(std::string(r.name) + " in " + r.zone);
        set_zone(r.zone);
        const int64_t now = local_time(r.now);
        int64_t got[TASK_MAX_RUNS];
        const int n = task_trigger_runs(&r.t, now, got);
        std::vector<int64_t> expected = simulate(r.t, now - 3 * 86400, now + r.days * 86400LL, now);
        // End boundary: the simulation knows none, so cut its runs there.
        if (r.t.end.set) {
            const int64_t end = local_time("2026-11-14T12:00:00");
            while (!expected.empty() && expected.back() > end) expected.pop_back();
        }
        std::vector<std::string> want, have;
        for (int64_t x : expected) want.push_back(utc(x));
        // The runs the simulation could see; it looks far enough for five,
        // except where one a year is enough to show the rule.
        for (int i = 0; i < n; i++)
            if (got[i] <= now + r.days * 86400LL) have.push_back(utc(got[i]));
        EXPECT_EQ(have, want);
        EXPECT_EQ(want.size(), r.t.end.set || r.days == 100 ? want.size() : 5u);
        EXPECT_FALSE(want.empty());
    }
}

// The fixed points the simulation is built on, as the documentation and the
// choices of this program state them.
TEST(TaskRuns, DaylightSavingTimeRules) {
    set_zone("America/New_York");
    int64_t t;
    // Skipped: 2027-03-14 02:30 runs at 03:00 EDT (07:00Z).
    ASSERT_TRUE(task_local_instant(civil_days(2027, 3, 14) * 86400 + 9000, &t));
    EXPECT_EQ(utc(t), "2027-03-14T07:00:00Z");
    // Repeated: 2027-11-07 01:30 runs once, at its first instance (EDT, 05:30Z).
    ASSERT_TRUE(task_local_instant(civil_days(2027, 11, 7) * 86400 + 5400, &t));
    EXPECT_EQ(utc(t), "2027-11-07T05:30:00Z");
    set_zone("Europe/Berlin");
    ASSERT_TRUE(task_local_instant(civil_days(2027, 3, 28) * 86400 + 9000, &t));
    EXPECT_EQ(utc(t), "2027-03-28T01:00:00Z");
    ASSERT_TRUE(task_local_instant(civil_days(2027, 10, 31) * 86400 + 9000, &t));
    EXPECT_EQ(utc(t), "2027-10-31T00:30:00Z");
}

TEST(TaskRuns, DisabledTasksAndTriggers) {
    set_zone("UTC");
    static task_def task;
    memset(&task, 0, sizeof task);
    task.enabled = 1;
    task.trigger_count = 2;
    task.triggers[0] = trigger(TASK_DAILY, "2026-01-01T03:00:00");
    task.triggers[1] = trigger(TASK_DAILY, "2026-01-01T04:00:00");
    task.triggers[1].enabled = 0;
    int64_t runs[TASK_MAX_RUNS];
    ASSERT_EQ(task_next_runs(&task, k_now, runs), 5);
    EXPECT_EQ(utc(runs[0]), "2026-11-13T03:00:00Z");
    EXPECT_EQ(utc(runs[1]), "2026-11-14T03:00:00Z");
    char d[224];
    task_describe(&task, d, sizeof d);
    EXPECT_STREQ(d, "At 03:00, every day; At 04:00, every day (trigger disabled)");
    task.triggers[0].enabled = 0;
    EXPECT_EQ(task_next_runs(&task, k_now, runs), 0);
    task_describe(&task, d, sizeof d);
    EXPECT_STREQ(d, "All triggers disabled: At 03:00, every day; At 04:00, every day");
    task.triggers[0].enabled = 1;
    task.enabled = 0;
    EXPECT_EQ(task_next_runs(&task, k_now, runs), 0);
    task_describe(&task, d, sizeof d);
    EXPECT_STREQ(d, "Disabled: At 03:00, every day; At 04:00, every day (trigger disabled)");
}

TEST(TaskDescribe, ScheduleWords) {
    struct {
        task_trigger t;
        const char *expr, *description;
    } rows[] = {
        {trigger(TASK_DAILY, "2026-01-01T03:00:00"), "/SC DAILY /MO 2 /ST 03:00",
         "At 03:00, every 2 days"},
        {trigger(TASK_WEEKLY, "2026-01-01T09:00:00"),
         "/SC WEEKLY /D MON,WED /ST 09:00 /RI 15 /DU 09:00",
         "At 09:00 on Monday and Wednesday, then every 15 minutes for 9 hours"},
        {trigger(TASK_MONTHLY_DOW, "2026-01-01T02:00:00"), "/SC MONTHLY /MO LAST /D SUN /ST 02:00",
         "At 02:00 on the last Sunday of every month"},
        {trigger(TASK_TIME, "2026-12-24T08:00:00"), "/SC ONCE /SD 2026-12-24 /ST 08:00",
         "At 08:00 on 2026-12-24, once"},
        {trigger(TASK_MONTHLY, "2026-01-01T12:00:00"),
         "/SC MONTHLY /D 1,15,LASTDAY /M JAN,JUL /ST 12:00",
         "At 12:00 on days 1, 15 and the last day of January and July"},
    };
    rows[0].t.interval = 2;
    rows[1].t.weekdays = 1 << 1 | 1 << 3;
    rows[1].t.rep_interval = 900;
    rows[1].t.rep_duration = 9 * 3600;
    rows[2].t.weeks = 16;
    rows[2].t.weekdays = 1;
    rows[4].t.month_days = 1u << 1 | 1u << 15;
    rows[4].t.last_day = 1;
    rows[4].t.months = 1 | 1 << 6;
    for (const auto &r : rows) {
        SCOPED_TRACE(r.description);
        static task_def task;
        memset(&task, 0, sizeof task);
        task.enabled = 1;
        task.trigger_count = 1;
        task.triggers[0] = r.t;
        char text[224];
        task_expr(&task, text, sizeof text);
        EXPECT_STREQ(text, r.expr);
        task_describe(&task, text, sizeof text);
        EXPECT_STREQ(text, r.description);
    }
}
