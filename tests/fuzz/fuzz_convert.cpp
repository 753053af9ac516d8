// Schedules written in the other language, on fuzzed text. The first byte
// picks the language, the zone and the start. A cron expression that parses
// gives a timer whose values parse, and in UTC (no clock changes) they select
// exactly the minutes the daemon's rule selects, at sampled times. A
// calendar event that parses has a normalized form that parses again to the
// same form and the same runs, and a cron line that parses when there is
// one, a reason when there is none.
#include <stdlib.h>
#include <time.h>

#include "cron/calendar.h"
#include "cron/calendar_text.h"
#include "cron/convert.h"
#include "cron/daemon.h"
#include "fuzz_util.h"

namespace {

const char *const k_zones[] = {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe"};
const int64_t k_starts[] = {1794458190, 1774745400, 1792890000, 1798761570};

void check_cron(const char *text, int64_t now, int utc) {
    cron_expr ce;
    if (!cron_parse(&ce, text)) return;
    timer_form t;
    FUZZ_CHECK(cron_to_timer(&ce, now, &t) == 1);
    FUZZ_CHECK(terminated(t.note, sizeof t.note));
    if (ce.boot_only) {
        FUZZ_CHECK(t.count == 0 && strcmp(t.on_boot_sec, "0") == 0);
        return;
    }
    FUZZ_CHECK(t.count >= 1 && t.count <= TIMER_VALUES);
    cal_spec cs[TIMER_VALUES];
    for (int i = 0; i < t.count; i++) FUZZ_CHECK(cal_parse(&cs[i], t.on_calendar[i]) == 1);
    if (!utc) return;
    cron_daemon dm;
    cron_daemon_flags(&ce, &dm);
    uint64_t x = (uint64_t)now * 6364136223846793005u + strlen(text);
    for (int k = 0; k < 64; k++) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        const int64_t minute = now / 60 * 60 + (int64_t)(x >> 33) % (400 * 86400) / 60 * 60;
        int64_t y;
        int m, d;
        const int64_t day = minute / 86400;
        civil_from_days(day, &y, &m, &d);
        const int wday = (int)((day + 4) % 7);
        const int s = (int)(minute % 86400);
        const bool cron = ce.months[m] && cron_daemon_day_matches(&ce, &dm, d, wday) &&
                          ce.hours[s / 3600] && ce.minutes[s / 60 % 60];
        bool timer = false;
        for (int i = 0; i < t.count; i++) timer = timer || cal_matches(&cs[i], minute);
        FUZZ_CHECK(cron == timer);
    }
}

void check_calendar(const char *text, int64_t now) {
    cal_spec cs;
    if (!cal_parse(&cs, text)) return;
    char normalized[4096], again[4096];
    FUZZ_CHECK(cal_normalized(&cs, normalized, sizeof normalized) == 1);
    cal_spec back;
    FUZZ_CHECK(cal_parse(&back, normalized) == 1);
    FUZZ_CHECK(cal_normalized(&back, again, sizeof again) == 1);
    FUZZ_CHECK(strcmp(normalized, again) == 0);
    int64_t a[CAL_MAX_RUNS], b[CAL_MAX_RUNS];
    const int na = cal_next_runs(&cs, now, a), nb = cal_next_runs(&back, now, b);
    FUZZ_CHECK(na == nb && memcmp(a, b, sizeof a[0] * (size_t)na) == 0);
    cron_form c;
    const int expressible = cal_to_cron(&cs, now, &c);
    FUZZ_CHECK(expressible == c.expressible);
    FUZZ_CHECK(terminated(c.line, sizeof c.line) && terminated(c.note, sizeof c.note));
    if (expressible) {
        cron_expr ce;
        FUZZ_CHECK(cron_parse(&ce, c.line) == 1);
    } else {
        FUZZ_CHECK(c.reason[0] && terminated(c.reason, sizeof c.reason));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const int zone = data[0] & 3;
    setenv("TZ", k_zones[zone], 1);
    tzset();
    const int64_t now = k_starts[(data[0] >> 2) & 3];
    const std::string text = c_text(data + 1, size - 1);
    if (data[0] & 16)
        check_calendar(text.c_str(), now);
    else
        check_cron(text.c_str(), now, zone == 0);
    return 0;
}
