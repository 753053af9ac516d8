// The crontab line splitter that every crontab reader shares: it tells the
// kind of a line, cuts a schedule line into schedule, user and command, and
// hands the schedule to src/cron to be judged, described and timed.
#include <string.h>

#include "cron/daemon.h"
#include "jobs/jobs.h"
#include "jobs/timeline.h"
#include "util/str.h"

namespace {

// A schedule line cut into its parts. The schedule is kept whole for the
// parser, which refuses one longer than it judges.
struct line_parts {
    char expr[CRON_TEXT_MAX + 1];
    char user[64];
    char command[512];
    int32_t too_long; // the schedule did not fit expr
};

// Drops the LF and CR characters that end line.
void strip_line_end(char *line) {
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
}

// The first byte at or after p that is no white space.
const char *skip_space(const char *p) {
    while (*p && is_space((unsigned char)*p)) p++;
    return p;
}

// The first white-space byte (or the end) at or after p.
const char *skip_token(const char *p) {
    while (*p && !is_space((unsigned char)*p)) p++;
    return p;
}

// NAME=value, with NAME made of letters, digits and "_".
int is_assignment(const char *p) {
    const char *q = p;
    while (*q && (is_alnum((unsigned char)*q) || *q == '_')) q++;
    return q > p && *q == '=';
}

// "@keyword [user] command": p is at the "@". Returns the command's start.
const char *split_keyword(const char *p, int system, line_parts *out) {
    const char *end = skip_token(p);
    out->too_long = str_set_span(out->expr, p, (size_t)(end - p));
    p = skip_space(end);
    if (system) {
        end = skip_token(p);
        str_set_span(out->user, p, (size_t)(end - p));
        p = skip_space(end);
    }
    return p;
}

// "m h dom mon dow [user] command": the five fields joined by single blanks
// into expr. Returns the command's start, or null when the line ends before
// the fields (and the user) it needs.
const char *split_fields(const char *p, int system, line_parts *out) {
    const int needed = system ? 6 : 5;
    size_t len = 0;
    const char *first = nullptr, *last = nullptr; // the schedule as written
    for (int i = 0; i < needed; i++) {
        p = skip_space(p);
        if (!*p) return nullptr;
        const char *end = skip_token(p);
        const size_t n = (size_t)(end - p);
        if (i < 5) {
            if (!first) first = p;
            last = end;
        }
        if (i == 5) {
            str_set_span(out->user, p, n);
        } else if (!out->too_long && n + len + 2 <= sizeof out->expr) {
            if (len) out->expr[len++] = ' ';
            memcpy(out->expr + len, p, n);
            len += n;
            out->expr[len] = 0;
        } else {
            out->too_long = 1;
        }
        p = end;
    }
    // Too long to judge: shown as written, cut, never with a field left out.
    if (out->too_long) str_set_span(out->expr, first, (size_t)(last - first));
    return skip_space(p);
}

// Tells the kind of line (blank, comment, assignment, keyword line,
// five-field line, in that order) and cuts a schedule line into out.
// Returns 1 for a schedule line that makes a job, else 0.
int split_line(char *line, int system, line_parts *out) {
    strip_line_end(line);
    char copy[CRON_LINE_CAPACITY];
    str_copy(copy, sizeof copy, line);
    str_trim(copy);
    if (!copy[0] || copy[0] == '#' || is_assignment(copy)) return 0;
    out->expr[0] = out->user[0] = 0;
    out->too_long = 0;
    const char *command =
        copy[0] == '@' ? split_keyword(copy, system, out) : split_fields(copy, system, out);
    if (!command) return 0; // too few fields: no job
    str_set(out->command, command);
    return out->expr[0] != 0;
}

// The two searches of a crontab line, as the window calls them.
int search_utc(const void *ce, int64_t after, int64_t out[RUN_LIST_MAX]) {
    return cron_next_runs((const cron_expr *)ce, after, out);
}

int search_local(const void *ce, int64_t after, int64_t out[RUN_LIST_MAX]) {
    return cron_next_runs_local((const cron_expr *)ce, after, out);
}

// Judges the schedule of parts as layout says and fills the job's validity,
// error, description and runs; ce is the parser's working record.
void judge_schedule(cron_job *job, const line_parts *parts, const cron_layout *layout,
                    cron_expr *ce) {
    int parsed = cron_parse(ce, parts->expr);
    if (parts->too_long) {
        parsed = 0;
        str_set(ce->error, k_expr_too_long);
    } else if (parsed && layout->strict && !ce->keyword[0]) {
        const char *rejection = cron_daemon_rejection(parts->expr);
        if (rejection) {
            parsed = 0;
            str_set(ce->error, rejection);
        }
    }
    if (!parsed) {
        str_set(job->error, ce->error);
        str_set(job->description, "Unrecognised schedule expression");
        return;
    }
    job->valid = 1;
    if (ce->boot_only) {
        str_set(job->description, "When the system starts (no scheduled times)");
        return;
    }
    str_set(job->description, ce->description);
    if (layout->live) cron_daemon_describe(ce, job->description);
    job->next_count = layout->live ? cron_next_runs_local(ce, layout->start, job->next)
                                   : cron_next_runs(ce, layout->start, job->next);
    window_add_runs(layout->window, job, layout->live ? search_local : search_utc, ce, job->next,
                    job->next_count);
}

} // namespace

cron_job *cron_line(char *line, const cron_layout *layout, cron_expr *ce) {
    static line_parts parts;
    if (!split_line(line, layout->system, &parts)) return nullptr;
    cron_job *job = add_job();
    if (!job) return nullptr;
    str_set(job->source, layout->source);
    // A display copy cut between two fields would end in a blank.
    str_set(job->expr, parts.expr);
    str_trim(job->expr);
    str_set(job->command, parts.command);
    str_set(job->user, layout->system ? parts.user : layout->user);
    str_set(job->kind, "cron");
    judge_schedule(job, &parts, layout, ce);
    note_source(layout->source);
    return job;
}
