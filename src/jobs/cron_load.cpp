// The grammar Debian's cron reads a schedule field with (entry.c):
//   list   = range {"," range}
//   range  = "*" ["/" step] | number ["-" number ["/" step]]
//   number = digits | name (three letters, months and weekdays only)
// A number must be followed by white space, the line end, "," or "-", and
// the second number and the step also by "/" (so "5/10" and "1x" are
// refused); after "*" and after a whole list, whatever follows up to the
// next blank is skipped ("*x" and "1-2-3" load). Both ends of a range must
// lie within the field's bounds, but a range whose end lies below its start
// selects nothing and loads ("5-1"). A step must be 1 or more. The cases
// are checked against the daemon itself in the black-box tests.
#include "jobs/cron_load.h"

#include <stdio.h>
#include <string.h>

#include "cron/daemon.h"
#include "jobs/live.h"
#include "jobs/paths.h"
#include "util/str.h"

namespace {

const char *const k_mon[] = {"jan", "feb", "mar", "apr", "may", "jun",
                             "jul", "aug", "sep", "oct", "nov", "dec"};
const char *const k_dow[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

struct field_rule {
    int low, high;
    const char *const *names; // name i stands for low + i
    int name_count;
    const char *label;
};

const field_rule k_fields[5] = {
    {0, 59, nullptr, 0, "minute"},       {0, 23, nullptr, 0, "hour"},
    {1, 31, nullptr, 0, "day of month"}, {1, 12, k_mon, 12, "month"},
    {0, 7, k_dow, 7, "day of week"},
};

const char *const k_keywords[] = {"reboot", "yearly", "annually", "monthly",
                                  "weekly", "daily",  "midnight", "hourly"};

int is_blank(char c) {
    return c == ' ' || c == '\t';
}

int is_digit(char c) {
    return c >= '0' && c <= '9';
}

int is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

// A number or a name of f at p, then (when terms is set) one of those
// terminators or the line end. Returns the position after it, or null.
const char *get_number(const char *p, const field_rule *f, const char *terms, int *value) {
    const char *q = p;
    long v = 0;
    while (is_digit(*q)) {
        if (v < 100000) v = v * 10 + (*q - '0');
        q++;
    }
    if (q == p && f && f->names) {
        while (is_letter(*q)) q++;
        const size_t n = (size_t)(q - p);
        v = -1;
        for (int i = 0; i < f->name_count && n == 3; i++)
            if (lower(p[0]) == f->names[i][0] && lower(p[1]) == f->names[i][1] &&
                lower(p[2]) == f->names[i][2])
                v = f->low + i;
        if (v < 0) return nullptr;
    }
    if (q == p) return nullptr;
    if (terms && *q && !is_space((unsigned char)*q) && !strchr(terms, *q)) return nullptr;
    *value = (int)v;
    return q;
}

const char *get_range(const char *p, const field_rule *f, int step_after_value) {
    int a, b, step = 1;
    if (*p == '*') {
        a = f->low;
        b = f->high;
        p++;
    } else {
        p = get_number(p, f, step_after_value ? ",-/" : ",-", &a);
        if (!p) return nullptr;
        if (*p != '-') {
            if (a < f->low || a > f->high) return nullptr;
            if (!step_after_value || *p != '/') return p;
            b = f->high; // cronie: "5/10" is 5-max/10
        } else {
            p = get_number(p + 1, f, ",-/", &b);
            if (!p) return nullptr;
        }
    }
    if (*p == '/') {
        p = get_number(p + 1, nullptr, ",-/", &step);
        if (!p || step <= 0) return nullptr;
    }
    if (a < f->low || a > f->high || b < f->low || b > f->high) return nullptr;
    return p;
}

// One field; returns the start of the next one, or null.
const char *get_list(const char *p, const field_rule *f, int step_after_value) {
    for (;;) {
        p = get_range(p, f, step_after_value);
        if (!p) return nullptr;
        if (*p != ',') break;
        p++;
    }
    while (*p && !is_blank(*p)) p++;
    while (is_blank(*p)) p++;
    return p;
}

void set_why(char *why, size_t cap, const char *a, const char *b, size_t b_len, const char *c) {
    str_copy(why, cap, a);
    char piece[48];
    str_copy_span(piece, sizeof piece, b, b_len);
    str_append(why, cap, piece);
    str_append(why, cap, c);
}

char g_passwd[1 << 16];
int g_passwd_state; // 0 not read, 1 read, -1 unreadable

} // namespace

int cron_env_line(const char *line, char *name, size_t name_cap, char *value, size_t value_cap) {
    const char *p = line;
    while (is_space((unsigned char)*p)) p++;
    const char *n0, *n1;
    if (*p == '"' || *p == '\'') {
        const char *close = strchr(p + 1, *p);
        if (!close) return 0;
        n0 = p + 1;
        n1 = close;
        p = close + 1;
    } else {
        n0 = p;
        while (*p && *p != '=' && !is_space((unsigned char)*p)) p++;
        n1 = p;
    }
    while (is_space((unsigned char)*p)) p++;
    if (*p != '=') return 0;
    p++;
    while (is_space((unsigned char)*p)) p++;
    if (name) str_copy_span(name, name_cap, n0, (size_t)(n1 - n0));
    if (value) {
        size_t n = strlen(p);
        while (n && is_space((unsigned char)p[n - 1])) n--;
        if (n >= 2 && (p[0] == '"' || p[0] == '\'') && p[n - 1] == p[0]) {
            p++;
            n -= 2;
        }
        str_copy_span(value, value_cap, p, n);
    }
    return 1;
}

int cron_load_line(const char *line, int system, int flavor, int line_end, const char *passwd,
                   char *why, size_t cap) {
    why[0] = 0;
    const char *p = line;
    while (is_space((unsigned char)*p)) p++;
    if (!*p || *p == '#') return 0;
    if (cron_env_line(line, nullptr, 0, nullptr, 0)) {
        if (line_end) return 0;
        str_copy(why, cap, "no line end at the end of the file");
        return 1;
    }
    if (*p == '@') {
        const char *end = p + 1;
        while (*end && !is_blank(*end)) end++;
        int known = 0;
        for (const char *k : k_keywords)
            known |= (size_t)(end - p - 1) == strlen(k) && memcmp(p + 1, k, strlen(k)) == 0;
        if (!known) {
            set_why(why, cap, "unknown schedule ", p, (size_t)(end - p), "");
            return 1;
        }
        p = end;
        while (is_blank(*p)) p++;
    } else {
        for (int i = 0; i < 5; i++) {
            if (!*p) {
                str_copy(why, cap, "too few fields");
                return 1;
            }
            const char *start = p;
            p = get_list(p, &k_fields[i], flavor == FLAVOR_CRONIE);
            if (!p) {
                const char *end = start;
                while (*end && !is_blank(*end)) end++;
                set_why(why, cap, "bad ", k_fields[i].label, strlen(k_fields[i].label), " field ");
                char piece[48];
                str_copy_span(piece, sizeof piece, start, (size_t)(end - start));
                str_append(why, cap, piece);
                return 1;
            }
        }
    }
    if (system) {
        const char *end = p;
        while (*end && !is_blank(*end)) end++;
        if (!*end) {
            str_copy(why, cap, "no command");
            return 1;
        }
        char user[64];
        str_copy_span(user, sizeof user, p, (size_t)(end - p));
        uint32_t uid;
        if (passwd && !passwd_find(passwd, user, &uid)) {
            set_why(why, cap, "user ", user, strlen(user), " is not in /etc/passwd");
            return 1;
        }
    }
    if (!line_end) {
        str_copy(why, cap, "no line end at the end of the file");
        return 1;
    }
    return 0;
}

int passwd_find(const char *passwd, const char *name, uint32_t *uid) {
    const size_t n = strlen(name);
    if (!n) return 0;
    for (const char *line = passwd; *line;) {
        const char *end = strchr(line, '\n');
        if (!end) end = line + strlen(line);
        if ((size_t)(end - line) > n && memcmp(line, name, n) == 0 && line[n] == ':') {
            // name:password:uid:...
            const char *f = (const char *)memchr(line + n + 1, ':', (size_t)(end - line - n - 1));
            uint32_t v = 0;
            if (f)
                for (f++; f < end && is_digit(*f); f++) v = v * 10 + (uint32_t)(*f - '0');
            *uid = v;
            return 1;
        }
        line = *end ? end + 1 : end;
    }
    return 0;
}

const char *node_passwd(void) {
    if (!g_passwd_state) {
        g_passwd_state = -1;
        char path[512];
        const int h = root_path(k_passwd, path, sizeof path) ? plat_open_read(path) : -1;
        if (h >= 0) {
            size_t n = 0;
            int64_t got;
            while (n < sizeof g_passwd - 1 &&
                   (got = plat_read(h, g_passwd + n, sizeof g_passwd - 1 - n)) > 0)
                n += (size_t)got;
            g_passwd[n] = 0;
            g_passwd_state = 1;
        }
        plat_close(h);
    }
    return g_passwd_state > 0 ? g_passwd : nullptr;
}

int cron_refuses_whole_file(int flavor) {
    return flavor != FLAVOR_CRONIE;
}

const char *spool_refusal(const plat_file_info *info, const char *user, const char *passwd,
                          int flavor, char *why, size_t cap) {
    uint32_t uid = 0;
    if (passwd && !passwd_find(passwd, user, &uid)) {
        set_why(why, cap, "no user ", user, strlen(user), " in /etc/passwd");
        return why;
    }
    if (flavor == FLAVOR_CRONIE && (info->mode & 07533) != 0400) {
        snprintf(why, cap, "mode %04o, which cron refuses", (unsigned)(info->mode & 07777));
        return why;
    }
    if (flavor != FLAVOR_CRONIE && (info->mode & 07777) != 0600) {
        snprintf(why, cap, "mode %04o, cron wants 0600", (unsigned)(info->mode & 07777));
        return why;
    }
    if (info->uid != 0 && passwd && info->uid != uid) {
        set_why(why, cap, "not owned by ", user, strlen(user), " or root");
        return why;
    }
    return nullptr;
}

void cron_refuse_jobs(int first, const char *source, const char *why, int unread) {
    if (!why || !why[0]) return;
    for (int i = first; i < g_job_count; i++) {
        cron_job *j = &g_jobs[i];
        if (!unread && strncmp(j->error, CRON_IGNORED, sizeof CRON_IGNORED - 1) == 0) continue;
        j->valid = 0;
        j->next_count = 0;
        str_set(j->error, CRON_IGNORED);
        str_append(j->error, sizeof j->error, why);
    }
    if (first < g_job_count) return;
    cron_job *job = add_job();
    if (!job) return;
    str_set(job->source, source);
    str_set(job->kind, "cron");
    str_set(job->error, CRON_IGNORED);
    str_append(job->error, sizeof job->error, why);
    str_set(job->description, "File ignored by cron");
    job->checked = 1;
    note_source(source);
}

cron_job *cron_add_refused_line(const char *line, const char *source, const char *user,
                                const char *why) {
    cron_job *job = add_job();
    if (!job) return nullptr;
    const char *p = line;
    while (is_space((unsigned char)*p)) p++;
    const char *end = p;
    for (int i = 0; i < (*p == '@' ? 1 : 5); i++) {
        const char *q = end;
        while (is_space((unsigned char)*q)) q++;
        if (!*q) break;
        while (*q && !is_space((unsigned char)*q)) q++;
        end = q;
    }
    str_copy_span(job->expr, sizeof job->expr, p, (size_t)(end - p));
    str_trim(job->expr);
    while (is_space((unsigned char)*end)) end++;
    str_set(job->command, end);
    str_trim(job->command);
    str_set(job->source, source);
    str_set(job->user, user);
    str_set(job->kind, "cron");
    str_set(job->error, CRON_IGNORED);
    str_append(job->error, sizeof job->error, why);
    str_set(job->description, "Line cron cannot read");
    job->checked = 1;
    note_source(source);
    return job;
}

const char *run_parts_refusal(const char *name, const plat_file_info *info) {
    if (name[0] == '.') return "";
    if (const char *why = cron_name_rejection(name)) return why;
    if (info->kind == PLAT_FOLDER) return "a folder";
    if (info->kind != PLAT_REGULAR) return "not a regular file";
    if (!(info->mode & 0111)) return "not executable";
    return nullptr;
}
