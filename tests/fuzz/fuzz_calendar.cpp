// The calendar-event parser and search on fuzzed text, in the node's zone
// (set from the first input byte): a rejected text carries one of the fixed
// error texts; an accepted one gives at most five runs, strictly after now,
// ascending, each selected by the expression when checked again, and a
// terminated description.
#include <stdlib.h>
#include <time.h>

#include "cron/calendar.h"
#include "fuzz_util.h"

namespace {

const char *const k_errors[] = {
    "empty calendar expression",
    "invalid weekday",
    "weekday range runs backwards",
    "invalid date",
    "invalid time",
    "unexpected text after the time",
    "value out of range",
    "range runs backwards",
    "repetition must be greater than 0",
    "repetition too large",
    "too many values in one field",
    "unknown time zone",
    "invalid time stamp",
    "invalid calendar expression",
};

const char *const k_zones[] = {"UTC", "Europe/Berlin", "America/New_York", "Australia/Lord_Howe"};

const int64_t k_starts[] = {1794458190, 1774745400, 1792890000, 0, 7258118400};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    setenv("TZ", k_zones[data[0] % 4], 1);
    tzset();
    int64_t now = k_starts[(data[0] >> 2) % 5];
    std::string text = c_text(data + 1, size - 1);
    cal_spec cs;
    int ok = cal_parse(&cs, text.c_str());
    FUZZ_CHECK(ok == 0 || ok == 1);
    int64_t runs[CAL_MAX_RUNS];
    if (!ok) {
        bool known = false;
        for (const char *e : k_errors) known = known || strcmp(cs.error, e) == 0;
        FUZZ_CHECK(known);
        FUZZ_CHECK(cal_next_runs(&cs, now, runs) == 0);
        return 0;
    }
    char description[224];
    cal_describe(&cs, description, sizeof description);
    FUZZ_CHECK(terminated(description, sizeof description) && description[0]);
    int n = cal_next_runs(&cs, now, runs);
    FUZZ_CHECK(n >= 0 && n <= CAL_MAX_RUNS);
    for (int i = 0; i < n; i++) {
        FUZZ_CHECK(runs[i] > (i ? runs[i - 1] : now));
        FUZZ_CHECK(cal_matches(&cs, runs[i]));
    }
    return 0;
}
