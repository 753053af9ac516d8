// One crontab file of the node (or the output of crontab -l), line by line,
// with cronie's CRON_TZ lines and the run-parts lines of the system layout.
#include "jobs/live.h"

#include <stdio.h>
#include <string.h>

#include "jobs/cron_load.h"
#include "jobs/paths.h"
#include "jobs/warnings.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/str.h"

// CRON_TZ=zone, blanks allowed around "=", the value maybe quoted. Stores the
// zone (empty for none) and returns 1 when line is such an assignment.
static int cron_tz_value(const char *line, char *zone, size_t cap) {
    char copy[CRON_LINE_CAPACITY];
    str_copy(copy, sizeof copy, line);
    str_trim(copy);
    if (strncmp(copy, "CRON_TZ", 7) != 0) return 0;
    const char *p = copy + 7;
    while (*p == ' ' || *p == '\t') p++;
    if (*p != '=') return 0;
    p++;
    while (*p == ' ' || *p == '\t') p++;
    str_copy(zone, cap, p);
    size_t n = strlen(zone);
    if (n >= 2 && (zone[0] == '"' || zone[0] == '\'') && zone[n - 1] == zone[0]) {
        memmove(zone, zone + 1, n - 2);
        zone[n - 2] = 0;
    }
    return 1;
}

// Each line goes to cron_line in the file's layout; a CRON_TZ line of cronie
// switches the zone instead, and a valid system-layout job is followed by the
// scripts of the run-parts folder it runs, if any.
void read_live_file(const char *access, plat_child *child, const char *source, int system,
                    const char *user, const live_context *ctx) {
    static line_input in;
    int handle = -1;
    if (child) {
        lines_from_child(&in, child);
    } else {
        handle = plat_open_read(access);
        if (handle < 0) return;
        lines_from_handle(&in, handle);
    }
    const cron_layout layout = {system,     source,     user, 1, ctx->flavor != FLAVOR_CRONIE,
                                ctx->start, ctx->window};
    char line[CRON_LINE_CAPACITY], zone[128];
    int cut, zoned = 0;
    cron_expr ce;
    // What the daemon refuses and warns of (jobs/cron_load.h, warnings.h).
    const int first_job = g_job_count;
    int line_no = 0, bad_line = 0, bad_no_end = 0;
    cron_env env;
    cron_env_start(&env);
    while (next_line(&in, line, sizeof line, &cut)) {
        line_no++;
        char why[80];
        const int refused =
            cron_load_line(line, system, ctx->flavor, !in.done, node_passwd(), why, sizeof why);
        if (refused && !bad_line) {
            bad_line = line_no;
            bad_no_end = strncmp(why, "no line end", 11) == 0;
        }
        const size_t len = strlen(line);
        const int ends_in_cr = len && line[len - 1] == '\r';
        cron_env_note(&env, line);
        if (ctx->flavor == FLAVOR_CRONIE && cron_tz_value(line, zone, sizeof zone)) {
            // cronie times the lines after it in that zone; Debian's cron
            // knows one zone only, so there the line is a plain assignment.
            // plat_zone_push takes only a zone of the zone database: the C
            // library would open any other value (a path, a FIFO) as a zone
            // file, and wait. Otherwise the node's zone applies.
            if (zoned) plat_zone_pop();
            zoned = zone[0] && plat_zone_push(zone);
            continue;
        }
        cron_job *job = cron_line(line, &layout, &ce);
        if (job) cron_job_warn(job, &ce, &env, ctx->flavor, ends_in_cr);
        if (refused && job) {
            job->valid = 0;
            job->next_count = 0;
            str_set(job->error, CRON_IGNORED);
            str_append(job->error, sizeof job->error, why);
        } else if (refused) {
            cron_add_refused_line(line, source, system ? "" : user, why);
        }
        if (job && system && job->valid) add_run_parts_jobs(job, source, ctx);
    }
    if (bad_line && cron_refuses_whole_file(ctx->flavor)) {
        char file_why[80];
        snprintf(file_why, sizeof file_why,
                 bad_no_end ? "line %d, the last of this file, has no line end"
                            : "syntax error in line %d of this file",
                 bad_line);
        cron_refuse_jobs(first_job, source, file_why, 0);
    }
    if (zoned) plat_zone_pop();
    if (in.timed_out) g_truncated = 1;
    plat_close(handle);
}
