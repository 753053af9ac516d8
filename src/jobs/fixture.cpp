// The fixture reader: a crontab-format file named by CRONTAB_FILE, whose
// "# qz:" directives switch between the user and the system layout, matched
// in UTC.
#include <string.h>

#include "jobs/jobs.h"
#include "util/lines.h"
#include "util/str.h"

void fixture_line(char *line, int *system_format, cron_expr *ce, int64_t start,
                  run_window *window) {
    char copy[CRON_LINE_CAPACITY];
    str_copy(copy, sizeof copy, line);
    str_trim(copy);
    if (strncmp(copy, "# qz:", 5) == 0) {
        // A directive switches the layout of the lines after it.
        if (strncmp(copy + 5, "system", 6) == 0)
            *system_format = 1;
        else if (strncmp(copy + 5, "user", 4) == 0)
            *system_format = 0;
        return;
    }
    const cron_layout layout = {*system_format, "fixture", "", 0, 0, start, window};
    cron_line(line, &layout, ce);
}

void read_fixture_file(const char *path, int64_t start, run_window *window) {
    // The open never waits: a FIFO, a device or a socket is not a file to
    // read and counts as unreadable.
    int handle = plat_open_read(path);
    if (handle < 0) return;
    static line_input in;
    lines_from_handle(&in, handle);
    int system_format = 0, cut;
    char line[CRON_LINE_CAPACITY];
    cron_expr ce;
    while (next_line(&in, line, sizeof line, &cut))
        fixture_line(line, &system_format, &ce, start, window);
    plat_close(handle);
}
