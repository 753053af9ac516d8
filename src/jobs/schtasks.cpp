// The Windows task list: the CSV lines of "schtasks /Query /FO CSV /NH", one
// job per task, described by its status and next run time as printed.
#include <stdio.h>
#include <string.h>

#include "jobs/jobs.h"
#include "jobs/paths.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/str.h"

// A field is either quoted, up to the next quote, or plain, up to the next
// comma. Quotes are never doubled as escapes: a second quote opens a field.
static const char *read_field(const char *p, char *out) {
    size_t n = 0;
    int cut;
    if (*p == '"') {
        p++;
        while (*p && *p != '"' && n < 255) out[n++] = *p++;
        cut = *p && *p != '"';
        // After a cut at 255 the position stays on the 256th character;
        // the rest of the field is then read as the start of the next one.
        if (*p == '"') p++;
    } else {
        while (*p && *p != ',' && n < 255) out[n++] = *p++;
        cut = *p && *p != ',';
    }
    // What is kept of a cut field ends on a whole character.
    if (cut) n = utf8_drop_partial(out, n);
    out[n] = 0;
    return p;
}

int csv_split(const char *line, char fields[4][256], int *nfields) {
    const char *p = line;
    int n = 0;
    for (;;) {
        p = read_field(p, fields[n++]);
        if (*p == ',') p++;
        if (!*p || n == 4) break;
    }
    *nfields = n;
    return n != 1;
}

// Skips empty, single-field and header lines; every other line is a task.
void schtasks_line(char *line) {
    size_t len = strlen(line);
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = 0;
    if (!len) return;
    char fields[4][256];
    int n;
    if (!csv_split(line, fields, &n)) return;
    if (!fields[0][0] || strcmp(fields[0], "TaskName") == 0) return;
    cron_job *job = add_job();
    if (!job) return;
    str_copy(job->source, sizeof job->source, "schtasks");
    str_copy(job->kind, sizeof job->kind, "task");
    str_copy(job->expr, sizeof job->expr, "task");
    str_copy(job->command, sizeof job->command, fields[0]);
    job->valid = 1;
    const char *status = n >= 3 && fields[2][0] ? fields[2] : "Scheduled Windows task";
    int has_next = fields[1][0] && strcmp(fields[1], "N/A") != 0;
    str_copy(job->description, sizeof job->description, status);
    if (has_next) {
        str_append(job->description, sizeof job->description, " - next ");
        str_append(job->description, sizeof job->description, fields[1]);
    }
    note_source("schtasks");
}

void read_schtasks(void) {
    // Started without a shell and read against a deadline: a task list that
    // never ends cannot hold the request, and what was read is kept.
    static const char *const k_argv[] = {"schtasks", "/Query", "/FO", "CSV", "/NH", nullptr};
    static plat_child child;
    if (!plat_child_start(&child, k_argv, k_child_timeout_ms)) return;
    static line_input in;
    lines_from_child(&in, &child);
    char line[2048];
    // Room for every byte of a line to become a three-byte character.
    char text[3 * sizeof line];
    int cut;
    while (next_line(&in, line, sizeof line, &cut)) {
        plat_console_to_utf8(line, text, sizeof text);
        schtasks_line(text);
    }
    if (in.timed_out) g_truncated = 1;
    plat_child_end(&child);
}
