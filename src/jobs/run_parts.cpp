// The scripts of a run-parts folder that a system crontab line runs, each
// listed as a job with that line's schedule and user.
#include <stdio.h>
#include <string.h>

#include "jobs/cron_load.h"
#include "jobs/live.h"
#include "jobs/paths.h"
#include "jobs/timeline.h"
#include "jobs/warnings.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

plat_name g_script_names[512];

// A script that run-parts leaves out, listed once in place of the job that
// would run it (job holds a copy of the line's job).
void add_run_parts_refused(cron_job *job, const char *folder, const char *script, const char *why) {
    str_copy(job->source, sizeof job->source, folder);
    str_copy(job->command, sizeof job->command, script);
    job->valid = 0;
    job->next_count = 0;
    job->warnings = 0;
    str_set(job->error, "ignored by run-parts: ");
    str_append(job->error, sizeof job->error, why);
    str_set(job->description, "File ignored by run-parts");
    note_source(folder);
}

// The first byte at or after p that is neither blank nor tab.
const char *skip_blanks(const char *p) {
    while (*p == ' ' || *p == '\t') p++;
    return p;
}

// The folder that command runs run-parts on: the first argument after the
// word run-parts that is a path, without trailing ";", ")", "}" or "/".
// Returns 1 with the folder stored, or 0 when command runs no run-parts on a
// folder or the folder does not fit cap.
int run_parts_folder(const char *command, char *folder, size_t cap) {
    const char *p = command;
    while ((p = strstr(p, "run-parts")) != nullptr) {
        const int word_start = p == command || p[-1] == ' ' || p[-1] == '\t' || p[-1] == '/' ||
                               p[-1] == ';' || p[-1] == '{' || p[-1] == '(';
        p += 9;
        if (!word_start || (*p != ' ' && *p != '\t')) continue;
        for (p = skip_blanks(p); *p; p = skip_blanks(p)) {
            const char *end = p;
            while (*end && *end != ' ' && *end != '\t') end++;
            if (*p == '/') {
                size_t n = (size_t)(end - p);
                while (n > 1 &&
                       (p[n - 1] == ';' || p[n - 1] == ')' || p[n - 1] == '}' || p[n - 1] == '/'))
                    n--;
                if (n >= cap) return 0;
                memcpy(folder, p, n);
                folder[n] = 0;
                return 1;
            }
            if (*p != '-') break; // an option, else no folder argument
            p = end;
        }
    }
    return 0;
}

// Where /etc/crontab lets anacron run the folder instead ("test -x
// /usr/sbin/anacron || ..."), the period that anacron gives it: "day",
// "week", "month", "year", or "" when the folder name says none. Returns
// null when the command leaves the folder to cron.
const char *anacron_period(const char *command, const char *folder) {
    char test[160];
    snprintf(test, sizeof test, "test -x %s ||", k_anacron);
    if (!strstr(command, test)) return nullptr;
    if (strstr(folder, "daily")) return "day";
    if (strstr(folder, "weekly")) return "week";
    if (strstr(folder, "monthly")) return "month";
    if (strstr(folder, "yearly")) return "year";
    return "";
}

} // namespace

// Each script is a copy of the line's job with the script as its command and
// the folder as its source; under anacron it has no runs of its own.
void add_run_parts_jobs(const cron_job *line_job, const char *file, const live_context *ctx) {
    char folder[256], access[512];
    if (!run_parts_folder(line_job->command, folder, sizeof folder)) return;
    if (!root_path(folder, access, sizeof access)) return;
    const char *period = ctx->anacron ? anacron_period(line_job->command, folder) : nullptr;
    int left_out;
    const int n = plat_list_dir(access, g_script_names,
                                (int)(sizeof g_script_names / sizeof g_script_names[0]), &left_out);
    if (n < 0) return;
    if (left_out) g_truncated = 1;
    for (int i = 0; i < n; i++) {
        const char *name = g_script_names[i].s;
        char script[512], script_access[768];
        if (snprintf(script, sizeof script, "%s/%s", folder, name) >= (int)sizeof script) continue;
        if (snprintf(script_access, sizeof script_access, "%s/%s", access, name) >=
            (int)sizeof script_access)
            continue;
        // What run-parts leaves out is listed with the reason (dot files not).
        plat_file_info info;
        if (!plat_stat(script_access, &info)) info.kind = PLAT_MISSING;
        const char *refusal = run_parts_refusal(name, &info);
        if (refusal && !refusal[0]) continue;
        cron_job *job = add_job();
        if (!job) return;
        *job = *line_job;
        if (refusal) {
            add_run_parts_refused(job, folder, script, refusal);
            continue;
        }
        job->warnings &= (uint16_t) ~(WARN_PERCENT | WARN_PROGRAM | WARN_CR);
        str_copy(job->source, sizeof job->source, folder);
        str_copy(job->command, sizeof job->command, script);
        if (period) {
            job->next_count = 0;
            str_set(job->description, "Run by anacron");
            if (period[0]) {
                str_append(job->description, sizeof job->description, " once a ");
                str_append(job->description, sizeof job->description, period);
            }
            str_append(job->description, sizeof job->description, ", through run-parts from ");
            str_append(job->description, sizeof job->description, file);
        } else {
            str_append(job->description, sizeof job->description, ", through run-parts from ");
            str_append(job->description, sizeof job->description, file);
            window_copy_lane(ctx->window, line_job, job);
        }
        note_source(folder);
    }
}
