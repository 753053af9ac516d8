#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

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

// Copies the n characters at p into dst (capacity cap), cut to cap - 1.
void copy_span(char *dst, size_t cap, const char *p, size_t n) {
    if (n > cap - 1) n = cap - 1;
    memcpy(dst, p, n);
    dst[n] = 0;
}

// NAME=value, with NAME made of letters, digits and "_".
int is_assignment(const char *p) {
    const char *q = p;
    while (*q && (is_alnum((unsigned char)*q) || *q == '_')) q++;
    return q > p && *q == '=';
}

} // namespace

// Line kinds, in the order they are recognised: directive, blank, comment,
// assignment, keyword line, five-field line.
void crontab_line(char *line, int *system_format, cron_expr *ce, int64_t start) {
    strip_line_end(line);
    char copy[2048];
    str_copy(copy, sizeof copy, line);
    str_trim(copy);
    if (strncmp(copy, "# qz:", 5) == 0) {
        if (strncmp(copy + 5, "system", 6) == 0)
            *system_format = 1;
        else if (strncmp(copy + 5, "user", 4) == 0)
            *system_format = 0;
        return;
    }
    if (!copy[0] || copy[0] == '#' || is_assignment(copy)) return;

    char expr[128] = "", user[64] = "", command[512] = "";
    const char *p = copy;
    if (*p == '@') {
        const char *end = skip_token(p);
        copy_span(expr, sizeof expr, p, (size_t)(end - p));
        p = skip_space(end);
        if (*system_format) {
            end = skip_token(p);
            copy_span(user, sizeof user, p, (size_t)(end - p));
            p = skip_space(end);
        }
    } else {
        int needed = *system_format ? 6 : 5;
        size_t len = 0;
        for (int i = 0; i < needed; i++) {
            p = skip_space(p);
            if (!*p) return; // too few fields: no job
            const char *end = skip_token(p);
            size_t n = (size_t)(end - p);
            if (i == 5) {
                copy_span(user, sizeof user, p, n);
            } else if (n + len + 2 <= 127) {
                // A token that does not fit is left out but still counted.
                if (len) expr[len++] = ' ';
                memcpy(expr + len, p, n);
                len += n;
                expr[len] = 0;
            }
            p = end;
        }
        p = skip_space(p);
    }
    str_copy(command, sizeof command, p);
    if (!expr[0]) return;

    cron_job *job = add_job();
    if (!job) return;
    str_copy(job->source, sizeof job->source, "fixture");
    str_copy(job->expr, sizeof job->expr, expr);
    str_copy(job->command, sizeof job->command, command);
    str_copy(job->user, sizeof job->user, user);
    str_copy(job->kind, sizeof job->kind, "cron");
    if (!cron_parse(ce, expr)) {
        str_copy(job->error, sizeof job->error, ce->error);
        str_copy(job->description, sizeof job->description, "Unrecognised schedule expression");
    } else {
        job->valid = 1;
        if (ce->boot_only) {
            str_copy(job->description, sizeof job->description,
                     "When the system starts (no scheduled times)");
        } else {
            str_copy(job->description, sizeof job->description, ce->description);
            job->next_count = cron_next_runs(ce, start, job->next);
        }
    }
    note_source("fixture");
}

void read_crontab_file(const char *path, int64_t start) {
    FILE *f = fopen(path, "r");
    if (!f) return;
    // A character device (/dev/zero, a terminal) may never reach end of file;
    // it is treated like an unreadable file rather than read forever.
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && (st.st_mode & S_IFMT) == S_IFCHR) {
        fclose(f);
        return;
    }
    int system_format = 0;
    char line[2048];
    cron_expr ce;
    while (fgets(line, sizeof line, f)) crontab_line(line, &system_format, &ce, start);
    fclose(f);
}
