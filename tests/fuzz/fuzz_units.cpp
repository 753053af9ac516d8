// The unit-file parser and the job a timer becomes, on fuzzed text read as
// a timer, then as its service: whatever the text, the settings stay
// terminated and within their counts, and the job's fields are terminated,
// its runs ascending after the start, at most five, each selected by one
// of its calendars; its lane of a timeline window (1 to 24 hours, by the
// last byte) agrees with them.
#include "cron/calendar.h"
#include "fuzz_util.h"
#include "jobs/timer_job.h"

namespace {

const int64_t k_start = 1794458190;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    static timer_unit timer;
    static service_unit service;
    memset(&timer, 0, sizeof timer);
    memset(&service, 0, sizeof service);
    unit_apply_text((const char *)data, size, &timer, &service);
    // A second file on top, as a drop-in would be.
    unit_apply_text((const char *)data, size / 2, &timer, nullptr);
    FUZZ_CHECK(timer.calendar_count >= 0 && timer.calendar_count <= TIMER_CALENDARS);
    FUZZ_CHECK(timer.monotonic_count >= 0 && timer.monotonic_count <= TIMER_MONOTONIC);
    for (int i = 0; i < timer.calendar_count; i++)
        FUZZ_CHECK(terminated(timer.calendars[i], sizeof timer.calendars[i]));
    for (int i = 0; i < timer.monotonic_count; i++)
        FUZZ_CHECK(terminated(timer.monotonic[i], sizeof timer.monotonic[i]) &&
                   strchr(timer.monotonic[i], '='));
    FUZZ_CHECK(terminated(timer.unit, sizeof timer.unit));
    FUZZ_CHECK(terminated(service.exec_start, sizeof service.exec_start));
    FUZZ_CHECK(terminated(service.user, sizeof service.user));

    jobs_reset();
    cron_job &job = g_jobs[0];
    memset(&job, 0, sizeof job);
    static zoned_values held;
    held.count = 0;
    run_window *window = fuzz_window(k_start, size ? data[size - 1] : 0);
    timer_fill_job(&job, &timer, "fuzz@x.service", &service, k_start, &held, window);
    timer_add_zoned_runs(&held, k_start, window);
    check_lane(window, &job);
    FUZZ_CHECK(strcmp(job.source, "systemd") == 0 && strcmp(job.kind, "timer") == 0);
    FUZZ_CHECK(terminated(job.expr, sizeof job.expr));
    FUZZ_CHECK(terminated(job.command, sizeof job.command));
    FUZZ_CHECK(terminated(job.description, sizeof job.description));
    FUZZ_CHECK(job.user[0]);
    FUZZ_CHECK(job.valid == 1 || job.error[0]);
    FUZZ_CHECK(job.next_count >= 0 && job.next_count <= CAL_MAX_RUNS);
    FUZZ_CHECK(terminated(job.user, sizeof job.user) && terminated(job.error, sizeof job.error));
    // Each run is one that some calendar of the timer selects.
    for (int i = 0; i < job.next_count; i++) {
        FUZZ_CHECK(job.next[i] > (i ? job.next[i - 1] : k_start));
        bool selected = false;
        for (int c = 0; c < timer.calendar_count && !selected; c++) {
            cal_spec cs;
            selected = cal_parse(&cs, timer.calendars[c]) && cal_matches(&cs, job.next[i]);
        }
        FUZZ_CHECK(selected);
    }
    return 0;
}
