// One crontab file of the node (or the output of crontab -l), line by line,
// with cronie's CRON_TZ lines and the run-parts lines of the system layout.
#include "jobs/live.h"

#include <string.h>

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
    const cron_layout layout = {system, source, user, 1, ctx->flavor != FLAVOR_CRONIE, ctx->start};
    char line[CRON_LINE_CAPACITY], zone[128];
    int cut, zoned = 0;
    cron_expr ce;
    while (next_line(&in, line, sizeof line, &cut)) {
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
        if (job && system && job->valid) add_run_parts_jobs(job, source, ctx);
    }
    if (zoned) plat_zone_pop();
    if (in.timed_out) g_truncated = 1;
    plat_close(handle);
}
