// The crontab fixture reader on a fuzzed file, read both ways: through
// read_fixture_file on a temporary file, and line by line through
// fixture_line, each line cut to its first 2047 bytes (less a character cut
// in half there) with the rest dropped. Both must give the same, well-formed
// table, the file read with a timeline window too, whose lanes agree with
// the jobs.
#include <string>
#include <unistd.h>
#include <vector>

#include "fuzz_util.h"
#include "jobs/jobs.h"
#include "util/str.h"

namespace {

const int64_t k_start = 1794458190;

// The schedule a job line holds, as the parser is given it: an @keyword
// alone, or the first five fields joined by one blank.
std::string schedule_of(const char *line) {
    std::string out;
    const char *p = line;
    for (int field = 0; field < 5; field++) {
        while (*p && is_space((unsigned char)*p)) p++;
        const char *end = p;
        while (*end && !is_space((unsigned char)*end)) end++;
        if (field) out += ' ';
        out.append(p, (size_t)(end - p));
        if (field == 0 && *p == '@') break;
        p = end;
    }
    return out;
}

// schedules holds the full schedule of each job, in table order. A valid
// job's expr is a display copy of that schedule.
void check_table(const std::vector<std::string> &schedules) {
    FUZZ_CHECK(schedules.size() == (size_t)g_job_count);
    FUZZ_CHECK(g_job_count >= 0 && g_job_count <= JOB_CAPACITY);
    FUZZ_CHECK(g_truncated == 0 || g_job_count == JOB_CAPACITY);
    FUZZ_CHECK(g_source_count == (g_job_count > 0 ? 1 : 0));
    if (g_source_count) FUZZ_CHECK(strcmp(g_sources[0], "fixture") == 0);
    for (int i = 0; i < g_job_count; i++) {
        const cron_job &j = g_jobs[i];
        FUZZ_CHECK(strcmp(j.source, "fixture") == 0 && strcmp(j.kind, "cron") == 0);
        FUZZ_CHECK(terminated(j.expr, sizeof j.expr) && j.expr[0]);
        FUZZ_CHECK(strlen(j.expr) <= 127);
        FUZZ_CHECK(terminated(j.command, sizeof j.command));
        FUZZ_CHECK(terminated(j.user, sizeof j.user));
        FUZZ_CHECK(terminated(j.error, sizeof j.error));
        FUZZ_CHECK(terminated(j.description, sizeof j.description) && j.description[0]);
        if (!j.valid) {
            FUZZ_CHECK(is_parser_error(j.error));
            FUZZ_CHECK(strcmp(j.description, "Unrecognised schedule expression") == 0);
            FUZZ_CHECK(j.next_count == 0);
            continue;
        }
        FUZZ_CHECK(j.valid == 1 && j.error[0] == 0);
        const std::string &full = schedules[(size_t)i];
        FUZZ_CHECK(display_copy_of(j.expr, sizeof j.expr, full));
        cron_expr ce;
        FUZZ_CHECK(cron_parse(&ce, full.c_str()) == 1);
        if (ce.boot_only) {
            FUZZ_CHECK(strcmp(j.description, "When the system starts (no scheduled times)") == 0);
            FUZZ_CHECK(j.next_count == 0);
        } else {
            FUZZ_CHECK(strcmp(j.description, ce.description) == 0);
        }
        check_runs(ce, k_start, j.next, j.next_count);
    }
}

// A snapshot of the table, to compare the two ways of reading.
std::string snapshot() {
    std::string s((const char *)&g_job_count, sizeof g_job_count);
    s.append((const char *)&g_truncated, sizeof g_truncated);
    s.append((const char *)g_jobs, sizeof(cron_job) * (size_t)g_job_count);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A line runs to its LF; what passes 2047 bytes is dropped, and with it
    // the start of a character that the cut divides.
    jobs_reset();
    int system_format = 0;
    cron_expr ce;
    std::vector<char> line(2048);
    std::vector<std::string> schedules;
    for (size_t pos = 0; pos < size;) {
        size_t len = 0;
        while (pos + len < size && data[pos + len] != '\n') len++;
        size_t n = len < 2047 ? len : 2047;
        memcpy(line.data(), data + pos, n);
        if (len > 2047) n = utf8_drop_partial(line.data(), n);
        line[n] = 0;
        pos += len + 1;
        const int before = g_job_count;
        fixture_line(line.data(), &system_format, &ce, k_start);
        FUZZ_CHECK(system_format == 0 || system_format == 1);
        if (g_job_count > before) schedules.push_back(schedule_of(line.data()));
    }
    check_table(schedules);
    std::string from_lines = snapshot();

    char path[] = "/tmp/zv_fuzz_crontab_XXXXXX";
    int fd = mkstemp(path);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, data, size) == (ssize_t)size);
    close(fd);
    // Read as a file, with a timeline window: the same jobs, and every lane
    // consistent with its job.
    jobs_reset();
    run_window *window = fuzz_window(k_start, size ? data[size - 1] : 0);
    read_fixture_file(path, k_start, window);
    unlink(path);
    check_table(schedules);
    FUZZ_CHECK(snapshot() == from_lines);
    for (int i = 0; i < g_job_count; i++) check_lane(window, &g_jobs[i]);
    return 0;
}
