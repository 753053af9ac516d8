// cron's text-log lines and the logged form of commands: a line is taken
// only as a complete record of a run, with a time that its own stamp gives,
// and the logged form of any command is printable and within its capacity.
#include "fuzz_util.h"
#include "jobs/history.h"
#include "jobs/syslog.h"

namespace {

constexpr int64_t k_now = 1794458190; // 2026-11-12 04:36:30 UTC

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    static hist_record r;
    const char *line = (const char *)data;
    if (syslog_line(line, size, k_now, &r)) {
        FUZZ_CHECK(r.kind == HIST_CRON_CMD || r.kind == HIST_CRON_END || r.kind == HIST_CRON_ERROR);
        FUZZ_CHECK(terminated(r.user, sizeof r.user) && terminated(r.command, sizeof r.command));
        FUZZ_CHECK(terminated(r.detail, sizeof r.detail));
        // A traditional stamp lies at most a day ahead and a year behind.
        if (size && (data[0] < '0' || data[0] > '9'))
            FUZZ_CHECK(r.time <= k_now + 86400 + 3600 && r.time > k_now - 2 * 366 * 86400);
        if (r.kind == HIST_CRON_ERROR)
            FUZZ_CHECK(r.detail[0] && r.job_pid >= 0);
        else
            FUZZ_CHECK(r.user[0]);
        // The message is the line's end: the record is found in it whole.
        FUZZ_CHECK(r.kind == HIST_CRON_ERROR ||
                   memmem(data, size, r.command, strlen(r.command)) != nullptr);
    }
    // The logged form: printable ASCII, never longer than its capacity, and
    // the same whatever follows a first unescaped "%" (not after a backslash,
    // which would escape it).
    std::string text = c_text(data, size);
    char out[64];
    int cut = cron_logged_command(text.c_str(), out, sizeof out);
    FUZZ_CHECK(terminated(out, sizeof out));
    for (const char *p = out; *p; p++) FUZZ_CHECK(*p >= ' ' && *p < 127);
    if (!cut && (text.empty() || text.back() != '\\')) {
        std::string more = text + "%tail";
        char again[64];
        cron_logged_command(more.c_str(), again, sizeof again);
        FUZZ_CHECK(strcmp(out, again) == 0);
    }
    return 0;
}
