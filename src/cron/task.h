// Windows Task Scheduler triggers: the record a task definition's triggers
// are read into, their next runs, their English description and their
// schtasks /Create form.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "cron/civil.h"

enum task_trigger_kind {
    TASK_TIME = 0,     // TimeTrigger: once at StartBoundary
    TASK_DAILY,        // CalendarTrigger / ScheduleByDay
    TASK_WEEKLY,       // CalendarTrigger / ScheduleByWeek
    TASK_MONTHLY,      // CalendarTrigger / ScheduleByMonth
    TASK_MONTHLY_DOW,  // CalendarTrigger / ScheduleByMonthDayOfWeek
    TASK_BOOT,         // BootTrigger
    TASK_LOGON,        // LogonTrigger
    TASK_IDLE,         // IdleTrigger
    TASK_EVENT,        // EventTrigger
    TASK_REGISTRATION, // RegistrationTrigger
    TASK_SESSION,      // SessionStateChangeTrigger
    TASK_WNF,          // WnfStateChangeTrigger (written by Windows, undocumented)
    TASK_OTHER,        // any other element of Triggers
};

// A StartBoundary or EndBoundary: wall-clock fields, and either the node's
// zone (zoned 0) or a fixed offset from UTC (zoned 1, "Z" or "+01:00").
struct task_time {
    int32_t set;
    int32_t zoned;
    int32_t offset; // seconds east of UTC when zoned
    int32_t year, month, day, hour, minute, second;
};

enum { TASK_MAX_TRIGGERS = 48, TASK_MAX_RUNS = RUN_LIST_MAX };

struct task_trigger {
    int32_t kind; // a task_trigger_kind
    int32_t enabled;
    task_time start, end;
    int32_t interval;     // DaysInterval or WeeksInterval (1 when absent)
    int32_t weekdays;     // bit 0 = Sunday .. bit 6 = Saturday
    uint32_t month_days;  // bit d = day d (1..31)
    int32_t last_day;     // DaysOfMonth holds Last
    int32_t months;       // bit 0 = January .. bit 11 = December; 0 = every month
    int32_t weeks;        // bits 0..3 = weeks 1..4, bit 4 = the last week
    int64_t rep_interval; // seconds; 0 without a Repetition
    int64_t rep_duration; // seconds; 0 = until the trigger's next start
    int32_t rep_stop;     // StopAtDurationEnd
    int64_t random_delay; // seconds
    int64_t delay;        // seconds (boot, logon, event, session, registration, wnf)
    char name[48];        // element name (for TASK_OTHER) or session state change
    char user[64];        // LogonTrigger / SessionStateChangeTrigger UserId
    char log[64];         // EventTrigger: the first channel its query selects
};

struct task_def {
    int32_t enabled;            // Settings/Enabled
    int32_t hidden;             // Settings/Hidden
    int64_t maintenance_period; // MaintenanceSettings/Period, seconds, or 0
    int32_t trigger_count;
    int32_t triggers_left_out; // beyond TASK_MAX_TRIGGERS
    task_trigger triggers[TASK_MAX_TRIGGERS];
};

// Parses an xs:dateTime as the Task Scheduler writes it
// ("2026-12-24T08:00:00", optional fraction, "Z" or "+01:00"). Returns 1, or
// 0 (out->set 0) when it is none.
int task_parse_time(const char *text, task_time *out);

// Parses an xs:duration ("PT15M", "P1DT2H47M", "PT25200S", "P1M") into
// seconds; a month counts 30 days and a year 365. Returns -1 when malformed.
int64_t task_parse_duration(const char *text);

// The instant of wall time t (seconds as if UTC) in the node's zone: a time
// the spring change skips becomes the first time that exists after it, a
// time the autumn change repeats its first (earlier) instance. Returns 1, or
// 0 when the zone cannot convert it.
int task_local_instant(int64_t wall, int64_t *out);

// Stores up to five run times strictly after now, ascending and distinct,
// within 7305 days of now, of the enabled time and calendar triggers of a
// task that is enabled. Returns the count.
int task_next_runs(const task_def *task, int64_t now, int64_t out[TASK_MAX_RUNS]);

// The same for one trigger, whatever its Enabled.
int task_trigger_runs(const task_trigger *t, int64_t now, int64_t out[TASK_MAX_RUNS]);

// Writes the English description of the task's triggers into out (capacity
// cap): one sentence per trigger joined with "; ", a disabled task or one
// whose triggers are all disabled said first.
void task_describe(const task_def *task, char *out, size_t cap);

// Writes the triggers in the terms of schtasks /Create ("/SC DAILY /MO 2
// /ST 03:00"), joined with "; ", into out (capacity cap).
void task_expr(const task_def *task, char *out, size_t cap);
