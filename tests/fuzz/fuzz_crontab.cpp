// The crontab fixture reader on a fuzzed file, read both ways: through
// read_crontab_file on a temporary file, and line by line through
// crontab_line, each line cut to its first 2047 bytes (less a character cut
// in half there) with the rest dropped. Both must give the same, well-formed
// table.
#include <unistd.h>
#include <vector>

#include "fuzz_util.h"
#include "jobs/jobs.h"
#include "util/str.h"

namespace {

const int64_t k_start = 1794458190;

void check_table() {
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
        cron_expr ce;
        FUZZ_CHECK(cron_parse(&ce, j.expr) == 1);
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
    char path[] = "/tmp/zv_fuzz_crontab_XXXXXX";
    int fd = mkstemp(path);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(write(fd, data, size) == (ssize_t)size);
    close(fd);
    jobs_reset();
    read_crontab_file(path, k_start);
    unlink(path);
    check_table();
    std::string from_file = snapshot();

    // A line runs to its LF; what passes 2047 bytes is dropped, and with it
    // the start of a character that the cut divides.
    jobs_reset();
    int system_format = 0;
    cron_expr ce;
    std::vector<char> line(2048);
    for (size_t pos = 0; pos < size;) {
        size_t len = 0;
        while (pos + len < size && data[pos + len] != '\n') len++;
        size_t n = len < 2047 ? len : 2047;
        memcpy(line.data(), data + pos, n);
        if (len > 2047) n = utf8_drop_partial(line.data(), n);
        line[n] = 0;
        pos += len + 1;
        crontab_line(line.data(), &system_format, &ce, k_start);
        FUZZ_CHECK(system_format == 0 || system_format == 1);
    }
    check_table();
    FUZZ_CHECK(snapshot() == from_file);
    return 0;
}
