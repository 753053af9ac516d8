#include <stdio.h>
#include <string.h>

#include "jobs/jobs.h"
#include "util/str.h"

namespace {

void strip_line_end(char *line) {
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
}

const char *skip_space(const char *p) {
    while (*p && is_space((unsigned char)*p)) p++;
    return p;
}

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

// Debian's cron reads a step only after "*" or a range: a single value with
// a step ("5/10") makes it reject the whole line. schedule is the whole
// five-field text, items separated by commas and fields by blanks.
int has_step_after_value(const char *schedule) {
    for (const char *item = schedule; *item;) {
        const char *end = item;
        while (*end && *end != ',' && !is_space((unsigned char)*end)) end++;
        const char *slash = (const char *)memchr(item, '/', (size_t)(end - item));
        if (slash && item[0] != '*' && !memchr(item, '-', (size_t)(slash - item))) return 1;
        item = *end ? end + 1 : end;
    }
    return 0;
}

// A live job is described by the daemon's day rule where it picks other
// days than the general one: with neither day field written "*..." either
// one matching is enough, so a field that selects every day ("1-31") makes
// the job run daily; with one of them written "*..." both must match.
void describe_for_daemon(const cron_expr *ce, char *out, size_t cap) {
    if (ce->keyword[0]) return;
    cron_daemon dm;
    cron_daemon_flags(ce, &dm);
    const int either = !dm.dom_star && !dm.dow_star;
    if (either && ce->dom_restricted != ce->dow_restricted) {
        cron_expr daily = *ce;
        daily.dom_restricted = daily.dow_restricted = 0;
        memset(daily.days_of_month + 1, 1, 31);
        memset(daily.days_of_week, 1, 7);
        cron_describe(&daily, out);
        return;
    }
    if (either || !ce->dom_restricted || !ce->dow_restricted) return;
    cron_expr weekdays = *ce;
    weekdays.dom_restricted = 0;
    memset(weekdays.days_of_month + 1, 1, 31);
    cron_describe(&weekdays, out);
    int days = 0;
    for (int d = 1; d <= 31; d++) days += ce->days_of_month[d];
    str_append(out, cap, days == 1 ? ", if it is day " : ", if it is one of days ");
    const char *sep = "";
    for (int d = 1; d <= 31; d++) {
        if (!ce->days_of_month[d]) continue;
        char item[8];
        snprintf(item, sizeof item, "%s%d", sep, d);
        str_append(out, cap, item);
        sep = ", ";
    }
    str_append(out, cap, " of the month");
}

} // namespace

// Line kinds, in the order they are recognised: blank, comment, assignment,
// keyword line, five-field line.
cron_job *cron_line(char *line, const cron_layout *layout, cron_expr *ce) {
    strip_line_end(line);
    char copy[CRON_LINE_CAPACITY];
    str_copy(copy, sizeof copy, line);
    str_trim(copy);
    if (!copy[0] || copy[0] == '#' || is_assignment(copy)) return nullptr;

    // The whole schedule is kept for the parser, which refuses one longer
    // than it judges; the job shows a display copy of it.
    char expr[CRON_TEXT_MAX + 1] = "", user[64] = "", command[512] = "";
    int too_long = 0;
    const char *p = copy;
    if (*p == '@') {
        const char *end = skip_token(p);
        too_long = str_set_span(expr, p, (size_t)(end - p));
        p = skip_space(end);
        if (layout->system) {
            end = skip_token(p);
            str_set_span(user, p, (size_t)(end - p));
            p = skip_space(end);
        }
    } else {
        int needed = layout->system ? 6 : 5;
        size_t len = 0;
        const char *first = nullptr, *last = nullptr; // the schedule as written
        for (int i = 0; i < needed; i++) {
            p = skip_space(p);
            if (!*p) return nullptr; // too few fields: no job
            const char *end = skip_token(p);
            size_t n = (size_t)(end - p);
            if (i < 5) {
                if (!first) first = p;
                last = end;
            }
            if (i == 5) {
                str_set_span(user, p, n);
            } else if (!too_long && n + len + 2 <= sizeof expr) {
                if (len) expr[len++] = ' ';
                memcpy(expr + len, p, n);
                len += n;
                expr[len] = 0;
            } else {
                too_long = 1;
            }
            p = end;
        }
        // Too long to judge: shown as written, cut, never with a field left out.
        if (too_long) str_set_span(expr, first, (size_t)(last - first));
        p = skip_space(p);
    }
    str_set(command, p);
    if (!expr[0]) return nullptr;

    cron_job *job = add_job();
    if (!job) return nullptr;
    str_copy(job->source, sizeof job->source, layout->source);
    // A display copy cut between two fields would end in a blank.
    str_set(job->expr, expr);
    str_trim(job->expr);
    str_copy(job->command, sizeof job->command, command);
    str_copy(job->user, sizeof job->user, layout->system ? user : layout->user);
    str_copy(job->kind, sizeof job->kind, "cron");
    int parsed = cron_parse(ce, expr);
    if (too_long) {
        parsed = 0;
        str_set(ce->error, "expression too long");
    } else if (parsed && layout->strict && !ce->keyword[0] && has_step_after_value(expr)) {
        parsed = 0;
        str_copy(ce->error, sizeof ce->error,
                 "step after a single value, which cron rejects (write a range, as 5-59/10)");
    }
    if (!parsed) {
        str_copy(job->error, sizeof job->error, ce->error);
        str_copy(job->description, sizeof job->description, "Unrecognised schedule expression");
    } else {
        job->valid = 1;
        if (ce->boot_only) {
            str_copy(job->description, sizeof job->description,
                     "When the system starts (no scheduled times)");
        } else {
            str_copy(job->description, sizeof job->description, ce->description);
            if (layout->live) describe_for_daemon(ce, job->description, sizeof job->description);
            job->next_count = layout->live ? cron_next_runs_local(ce, layout->start, job->next)
                                           : cron_next_runs(ce, layout->start, job->next);
        }
    }
    note_source(layout->source);
    return job;
}
