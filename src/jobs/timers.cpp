// The node's systemd timers, read from the unit files without asking systemd:
// a timer is enabled when a "*.wants" or "*.requires" folder of the unit
// search path holds its name; its unit file is the first one found along the
// path (or its template's, for "name@instance.timer"), a link to /dev/null
// masks it, and the "*.d/*.conf" drop-ins of every folder are applied after
// it in file-name order, the higher folder winning for equal names.
#include <stdio.h>
#include <string.h>

#include "cron/calendar.h"
#include "jobs/jobs.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

// systemd's precedence, highest first.
const char *const k_search_path[] = {
    "/run/systemd/transient",        "/etc/systemd/system", "/run/systemd/system",
    "/usr/local/lib/systemd/system", "/lib/systemd/system", "/usr/lib/systemd/system",
};
constexpr int k_search_count = sizeof k_search_path / sizeof k_search_path[0];

enum {
    LIST_CAP = 2048,
    SEARCH_CAP = 1024,
    DROPIN_CAP = 64,
    TIMER_CAP = 1024,
    FILE_CAP = 1 << 16,
    LINE_CAP = 4096,
    ZONED_CAP = 256
};

// Each search folder is listed once; whether a unit file or a drop-in
// folder exists is then looked up here instead of asked of the system.
plat_name g_search[k_search_count][SEARCH_CAP];
int g_search_count[k_search_count]; // -1: unreadable
int g_search_left_out[k_search_count];

plat_name g_dropins[DROPIN_CAP];
plat_name g_entries[LIST_CAP];
plat_name g_timers[TIMER_CAP + LIST_CAP];
int g_timer_count;
char g_file[FILE_CAP + 1];

// OnCalendar= values in a named zone whose runs wait until every timer is
// read: the C library reads a zone's file again at each switch, so each zone
// is switched to once, not once per value.
struct zoned_value {
    cron_job *job;
    int32_t done;
    char zone[64];
    char text[256];
};
zoned_value g_zoned[ZONED_CAP];
int g_zoned_count;
int g_zoned_defer; // set while read_timers fills its jobs

struct monotonic_key {
    const char *key;
    const char *phrase; // what the span is counted from
};

const monotonic_key k_monotonic[5] = {
    {"OnBootSec", "after boot"},
    {"OnStartupSec", "after the service manager starts"},
    {"OnActiveSec", "after the timer starts"},
    {"OnUnitActiveSec", "after each run"},
    {"OnUnitInactiveSec", "after each run ends"},
};

int ends_with(const char *s, const char *tail) {
    size_t n = strlen(s), m = strlen(tail);
    return n >= m && strcmp(s + n - m, tail) == 0;
}

void clear_triggers(timer_unit *t) {
    t->calendar_count = 0;
    t->monotonic_count = 0;
}

// systemd reads booleans in any case ("True", "YES").
int parse_bool(const char *v) {
    const char *yes[] = {"1", "yes", "y", "true", "t", "on"};
    for (const char *y : yes) {
        size_t i = 0;
        while (y[i] && (v[i] == y[i] || (v[i] >= 'A' && v[i] <= 'Z' && v[i] - 'A' + 'a' == y[i])))
            i++;
        if (!y[i] && !v[i]) return 1;
    }
    return 0;
}

void apply_timer_key(timer_unit *t, const char *key, const char *value) {
    if (strcmp(key, "OnCalendar") == 0) {
        if (!value[0]) {
            clear_triggers(t);
        } else if (t->calendar_count < TIMER_CALENDARS) {
            str_copy(t->calendars[t->calendar_count++], sizeof t->calendars[0], value);
        }
        return;
    }
    for (const monotonic_key &m : k_monotonic)
        if (strcmp(key, m.key) == 0) {
            if (!value[0]) {
                clear_triggers(t);
            } else if (t->monotonic_count < TIMER_MONOTONIC) {
                char *slot = t->monotonic[t->monotonic_count++];
                str_copy(slot, sizeof t->monotonic[0], key);
                str_append(slot, sizeof t->monotonic[0], "=");
                str_append(slot, sizeof t->monotonic[0], value);
            }
            return;
        }
    if (strcmp(key, "RandomizedDelaySec") == 0)
        str_copy(t->randomized_delay, sizeof t->randomized_delay, value);
    else if (strcmp(key, "Persistent") == 0)
        t->persistent = parse_bool(value);
    else if (strcmp(key, "Unit") == 0)
        str_copy(t->unit, sizeof t->unit, value);
}

void apply_service_key(service_unit *s, const char *key, const char *value, int *exec_seen) {
    if (strcmp(key, "ExecStart") == 0) {
        // An empty value clears the list; the first command after it counts.
        if (!value[0]) {
            s->exec_start[0] = 0;
            *exec_seen = 0;
        } else if (!*exec_seen) {
            str_copy(s->exec_start, sizeof s->exec_start, value);
            *exec_seen = 1;
        }
    } else if (strcmp(key, "User") == 0) {
        str_copy(s->user, sizeof s->user, value);
    }
}

} // namespace

void unit_apply_text(const char *text, size_t len, timer_unit *timer, service_unit *service) {
    enum { OTHER, TIMER, SERVICE } section = OTHER;
    int exec_seen = service && service->exec_start[0];
    char line[LINE_CAP];
    size_t pos = 0;
    while (pos < len) {
        // A line, with "\"-ended lines joined by a space as systemd does.
        size_t n = 0;
        int too_long = 0;
        for (;;) {
            size_t start = pos;
            while (pos < len && text[pos] != '\n') pos++;
            size_t piece = pos - start;
            if (pos < len) pos++;
            if (n + piece + 1 >= sizeof line) {
                too_long = 1;
                piece = 0;
            }
            memcpy(line + n, text + start, piece);
            n += piece;
            line[n] = 0;
            while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == ' ' || line[n - 1] == '\t'))
                line[--n] = 0;
            if (n > 0 && line[n - 1] == '\\' && pos < len) {
                line[n - 1] = ' ';
                continue;
            }
            break;
        }
        if (too_long) continue;
        // Zero bytes end the line early; what follows is ignored.
        str_trim(line);
        if (!line[0] || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            section = strcmp(line, "[Timer]") == 0     ? TIMER
                      : strcmp(line, "[Service]") == 0 ? SERVICE
                                                       : OTHER;
            continue;
        }
        char *eq = strchr(line, '=');
        if (!eq || section == OTHER) continue;
        *eq = 0;
        char *value = eq + 1;
        str_trim(line);
        str_trim(value);
        if (section == TIMER && timer) apply_timer_key(timer, line, value);
        if (section == SERVICE && service) apply_service_key(service, line, value, &exec_seen);
    }
}

namespace {

// Reads the regular file at path into g_file (its first FILE_CAP bytes).
// Returns the length, or -1 when it cannot be opened.
int64_t read_file(const char *path) {
    int h = plat_open_read(path);
    if (h < 0) return -1;
    int64_t n = 0;
    while (n < FILE_CAP) {
        int64_t want = FILE_CAP - n;
        int64_t got = plat_read(h, g_file + n, (size_t)want);
        if (got <= 0) break;
        n += got;
        // A regular file reads short only at its end.
        if (got < want) break;
    }
    plat_close(h);
    g_file[n] = 0;
    return n;
}

void join(char *out, size_t cap, const char *a, const char *b, const char *c) {
    out[0] = 0;
    str_append(out, cap, a);
    str_append(out, cap, b);
    str_append(out, cap, c);
}

// Template name of an instance ("pg_dump@main.timer" -> "pg_dump@.timer")
// into out; 0 when name is no instance.
int template_of(const char *name, char *out, size_t cap) {
    const char *at = strchr(name, '@');
    const char *dot = strrchr(name, '.');
    if (!at || !dot || dot <= at + 1) return 0;
    size_t n = (size_t)(at - name) + 1;
    if (n + strlen(dot) + 1 > cap) return 0;
    memcpy(out, name, n);
    str_copy(out + n, cap - n, dot);
    return 1;
}

// The path of entry name of search folder i into out. Returns 1, or 0 when it
// does not fit (and so cannot be there).
int search_entry(const char *root, int i, const char *name, char *out, size_t cap) {
    const char *parts[4] = {root, k_search_path[i], "/", name};
    size_t at = 0;
    for (const char *part : parts) {
        const size_t len = strlen(part);
        if (at + len >= cap) return 0;
        memcpy(out + at, part, len);
        at += len;
    }
    out[at] = 0;
    return 1;
}

// Whether search folder i holds an entry name.
int present(const char *root, int i, const char *name) {
    int n = g_search_count[i];
    if (n < 0) return 0;
    int lo = 0, hi = n - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = strcmp(g_search[i][mid].s, name);
        if (c == 0) return 1;
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    // The listing kept the smallest names; a larger one may still be there.
    if (g_search_left_out[i] && (n == 0 || strcmp(name, g_search[i][n - 1].s) > 0)) {
        char path[1024];
        plat_file_info info;
        return search_entry(root, i, name, path, sizeof path) && plat_lstat(path, &info);
    }
    return 0;
}

// Finds the unit file of name (or of its template) along the search path:
// the first entry of that name wins. A mask (a link to /dev/null) wins too,
// and then reads as no unit, since only regular files are opened. Returns 1
// with its path, or 0.
int find_unit(const char *root, const char *name, char *path, size_t cap) {
    char tmpl[PLAT_NAME_CAP];
    int has_template = template_of(name, tmpl, sizeof tmpl);
    for (int pass = 0; pass < 1 + has_template; pass++) {
        const char *want = pass ? tmpl : name;
        for (int i = 0; i < k_search_count; i++)
            if (present(root, i, want)) return search_entry(root, i, want, path, cap);
    }
    path[0] = 0;
    return 0;
}

// Applies the unit file and its drop-ins ("NAME.d/*.conf", and the
// template's for an instance) to the records.
int load_unit(const char *root, const char *name, timer_unit *timer, service_unit *service) {
    char path[1024];
    int found = find_unit(root, name, path, sizeof path);
    if (found <= 0) return found;
    int64_t n = read_file(path);
    if (n < 0) return 0;
    unit_apply_text(g_file, (size_t)n, timer, service);

    // Drop-in names across all folders, each from the highest folder that
    // has it, applied in name order.
    char tmpl[PLAT_NAME_CAP];
    const char *owners[2] = {nullptr, name};
    if (template_of(name, tmpl, sizeof tmpl)) owners[0] = tmpl;
    for (const char *owner : owners) {
        if (!owner) continue;
        int total = 0;
        char folder[PLAT_NAME_CAP + 2];
        join(folder, sizeof folder, owner, ".d", "");
        for (int i = 0; i < k_search_count; i++) {
            char dir[1024];
            if (!present(root, i, folder) || !search_entry(root, i, folder, dir, sizeof dir))
                continue;
            int left_out;
            int count = plat_list_dir(dir, g_entries, LIST_CAP, &left_out);
            for (int k = 0; k < count && total < DROPIN_CAP; k++) {
                if (!ends_with(g_entries[k].s, ".conf")) continue;
                int dup = 0;
                for (int j = 0; j < total && !dup; j++)
                    dup = strcmp(g_dropins[j].s, g_entries[k].s) == 0;
                if (!dup) g_dropins[total++] = g_entries[k];
            }
        }
        // Insertion sort: drop-in folders hold a handful of files.
        for (int a = 1; a < total; a++)
            for (int b = a; b > 0 && strcmp(g_dropins[b].s, g_dropins[b - 1].s) < 0; b--) {
                plat_name t = g_dropins[b];
                g_dropins[b] = g_dropins[b - 1];
                g_dropins[b - 1] = t;
            }
        for (int k = 0; k < total; k++)
            for (int i = 0; i < k_search_count; i++) {
                char file[1024];
                plat_file_info info;
                if (snprintf(file, sizeof file, "%s%s/%s/%s", root, k_search_path[i], folder,
                             g_dropins[k].s) >= (int)sizeof file ||
                    !plat_lstat(file, &info))
                    continue;
                int64_t len = read_file(file); // a mask (/dev/null) reads as nothing
                if (len > 0) unit_apply_text(g_file, (size_t)len, timer, service);
                break;
            }
    }
    return 1;
}

// Adds the "*.timer" names of one wants folder to g_timers, once each.
void collect_wanted(const char *folder) {
    // Listed straight behind the names already collected (g_timers has room
    // for a whole listing there), then the timers among them kept in place.
    plat_name *listed = &g_timers[g_timer_count];
    int left_out;
    int count = plat_list_dir(folder, listed, LIST_CAP, &left_out);
    if (left_out) g_truncated = 1;
    const int before = g_timer_count;
    for (int k = 0; k < count; k++) {
        const char *name = listed[k].s;
        if (!ends_with(name, ".timer") || strlen(name) <= 6) continue;
        int dup = 0;
        for (int j = 0; j < before && !dup; j++) dup = strcmp(g_timers[j].s, name) == 0;
        if (dup) continue;
        if (g_timer_count >= TIMER_CAP) {
            g_truncated = 1;
            return;
        }
        if (&g_timers[g_timer_count] != &listed[k]) g_timers[g_timer_count] = listed[k];
        g_timer_count++;
    }
}

// Replaces the unit type of name by ".service".
void service_of(const char *name, char *out, size_t cap) {
    str_copy(out, cap, name);
    char *dot = strrchr(out, '.');
    if (dot) *dot = 0;
    str_append(out, cap, ".service");
}

// Expands the specifiers a command line commonly carries: %i %I (instance),
// %n %N (unit name, without type), %p (prefix), %%.
void expand_specifiers(const char *in, const char *unit, char *out, size_t cap) {
    char prefix[PLAT_NAME_CAP], instance[PLAT_NAME_CAP], bare[PLAT_NAME_CAP];
    str_copy(bare, sizeof bare, unit);
    char *dot = strrchr(bare, '.');
    if (dot) *dot = 0;
    str_copy(prefix, sizeof prefix, bare);
    char *at = strchr(prefix, '@');
    instance[0] = 0;
    if (at) {
        str_copy(instance, sizeof instance, at + 1);
        *at = 0;
    }
    out[0] = 0;
    // The length so far is kept, so that a long command costs one pass.
    size_t len = 0;
    for (const char *p = in; *p; p++) {
        char one[2] = {*p, 0};
        const char *piece = one;
        if (*p == '%' && p[1]) {
            switch (p[1]) {
            case 'i':
            case 'I':
                piece = instance;
                break;
            case 'n':
                piece = unit;
                break;
            case 'N':
                piece = bare;
                break;
            case 'p':
            case 'P':
                piece = prefix;
                break;
            case '%':
                piece = "%";
                break;
            default:
                piece = nullptr;
                break;
            }
            if (piece)
                p++;
            else
                piece = one;
        }
        const size_t n = strlen(piece);
        if (str_copy_span(out + len, cap - len, piece, n)) return;
        len += n;
    }
}

// A systemd time span ("15min", "1h 30min", "12h", "43200") in seconds, or
// -1 when it does not read as one.
int64_t span_seconds(const char *text) {
    struct unit_size {
        const char *name;
        double seconds;
    };
    static const unit_size k_units[] = {
        {"usec", 1e-6},      {"us", 1e-6},        {"msec", 1e-3},     {"ms", 1e-3},
        {"seconds", 1},      {"second", 1},       {"sec", 1},         {"s", 1},
        {"minutes", 60},     {"minute", 60},      {"min", 60},        {"hours", 3600},
        {"hour", 3600},      {"hr", 3600},        {"h", 3600},        {"days", 86400},
        {"day", 86400},      {"d", 86400},        {"weeks", 604800},  {"week", 604800},
        {"w", 604800},       {"months", 2629800}, {"month", 2629800}, {"M", 2629800},
        {"years", 31557600}, {"year", 31557600},  {"y", 31557600},    {"m", 60},
    };
    double total = 0;
    const char *p = text;
    int parts = 0;
    while (*p) {
        while (*p == ' ') p++;
        if (!*p) break;
        if (!(*p >= '0' && *p <= '9') && *p != '.') return -1;
        double v = 0, scale = 0;
        for (; (*p >= '0' && *p <= '9') || *p == '.'; p++) {
            if (*p == '.') {
                if (scale) return -1;
                scale = 1;
            } else if (scale) {
                scale /= 10;
                v += (*p - '0') * scale;
            } else {
                v = v * 10 + (*p - '0');
            }
            if (v > 1e12) return -1;
        }
        while (*p == ' ') p++;
        double size = 1;
        if (*p && !(*p >= '0' && *p <= '9')) {
            const unit_size *hit = nullptr;
            size_t hit_len = 0;
            for (const unit_size &u : k_units) {
                size_t n = strlen(u.name);
                if (strncmp(p, u.name, n) == 0 && n > hit_len &&
                    !((p[n] >= 'a' && p[n] <= 'z') || (p[n] >= 'A' && p[n] <= 'Z'))) {
                    hit = &u;
                    hit_len = n;
                }
            }
            if (!hit) return -1;
            size = hit->seconds;
            p += hit_len;
        }
        total += v * size;
        parts++;
    }
    if (!parts || total > 1e12) return -1;
    return (int64_t)total;
}

// "1 day 2 hours", "15 minutes", "0 seconds".
void append_span(char *buf, size_t cap, int64_t s) {
    const struct {
        int64_t size;
        const char *name;
    } k_parts[] = {{86400, "day"}, {3600, "hour"}, {60, "minute"}, {1, "second"}};
    int first = 1;
    for (const auto &part : k_parts) {
        int64_t n = s / part.size;
        s %= part.size;
        if (!n) continue;
        char item[48];
        snprintf(item, sizeof item, "%s%lld %s%s", first ? "" : " ", (long long)n, part.name,
                 n == 1 ? "" : "s");
        str_append(buf, cap, item);
        first = 0;
    }
    if (first) str_append(buf, cap, "0 seconds");
}

// "15 minutes after boot, then 1 day after each run"
void describe_monotonic(const timer_unit *t, char *out, size_t cap) {
    for (int i = 0; i < t->monotonic_count; i++) {
        char key[32];
        str_copy(key, sizeof key, t->monotonic[i]);
        char *eq = strchr(key, '=');
        if (eq) *eq = 0;
        const char *value = strchr(t->monotonic[i], '=') + 1;
        if (i) str_append(out, cap, ", then ");
        int64_t s = span_seconds(value);
        if (s >= 0)
            append_span(out, cap, s);
        else
            str_append(out, cap, value);
        for (const monotonic_key &m : k_monotonic)
            if (strcmp(key, m.key) == 0) {
                str_append(out, cap, " ");
                str_append(out, cap, m.phrase);
            }
    }
}

} // namespace

namespace {

void add_runs(cron_job *job, const cal_spec *cs, int64_t start) {
    int64_t runs[CAL_MAX_RUNS];
    int n = cal_next_runs(cs, start, runs);
    int count = job->next_count;
    cal_merge_runs(job->next, &count, runs, n);
    job->next_count = count;
}

// Adds the runs of the values read_timers held back, zone by zone.
void add_zoned_runs(int64_t start) {
    for (int i = 0; i < g_zoned_count; i++) {
        if (g_zoned[i].done) continue;
        const char *zone = g_zoned[i].zone;
        // Held within the zone: each value's own switch then costs nothing.
        int pushed = plat_zone_push(zone);
        for (int k = i; k < g_zoned_count; k++) {
            zoned_value *z = &g_zoned[k];
            if (z->done || strcmp(z->zone, zone) != 0) continue;
            z->done = 1;
            cal_spec cs;
            if (!cal_parse(&cs, z->text)) continue;
            // Parsed again within the zone, whose own abbreviation may be its
            // name ("CET"): the zone found by the first parse stands.
            str_set(cs.zone, z->zone);
            cs.utc = 0;
            cs.dst = -1;
            add_runs(z->job, &cs, start);
        }
        if (pushed) plat_zone_pop();
    }
    g_zoned_count = 0;
}

} // namespace

void timer_fill_job(cron_job *job, const char *name, const timer_unit *timer,
                    const char *service_name, const service_unit *service, int64_t start) {
    str_copy(job->timer, sizeof job->timer, name);
    str_copy(job->unit, sizeof job->unit, service_name);
    str_copy(job->source, sizeof job->source, "systemd");
    str_copy(job->kind, sizeof job->kind, "timer");
    char expr[1024] = "";
    char desc[1024] = "";
    for (int i = 0; i < timer->calendar_count; i++) {
        if (i) str_append(expr, sizeof expr, "; ");
        str_append(expr, sizeof expr, timer->calendars[i]);
    }
    if (!timer->calendar_count)
        for (int i = 0; i < timer->monotonic_count; i++) {
            if (i) str_append(expr, sizeof expr, " ");
            str_append(expr, sizeof expr, timer->monotonic[i]);
        }
    str_copy(job->expr, sizeof job->expr, expr);

    job->valid = 1;
    cal_spec cs;
    for (int i = 0; i < timer->calendar_count; i++) {
        if (!cal_parse(&cs, timer->calendars[i])) {
            if (job->valid) {
                char error[160];
                join(error, sizeof error, "OnCalendar=", timer->calendars[i], ": ");
                str_append(error, sizeof error, cs.error);
                str_copy(job->error, sizeof job->error, error);
            }
            job->valid = 0;
            continue;
        }
        char one[224];
        cal_describe(&cs, one, sizeof one);
        if (desc[0]) {
            str_append(desc, sizeof desc, "; ");
            if (one[0] >= 'A' && one[0] <= 'Z') one[0] = (char)(one[0] - 'A' + 'a');
        }
        str_append(desc, sizeof desc, one);
        if (g_zoned_defer && cs.zone[0] && g_zoned_count < ZONED_CAP) {
            zoned_value *z = &g_zoned[g_zoned_count++];
            z->job = job;
            z->done = 0;
            str_set(z->zone, cs.zone);
            str_set(z->text, timer->calendars[i]);
        } else {
            add_runs(job, &cs, start);
        }
    }
    if (timer->monotonic_count) {
        if (desc[0]) str_append(desc, sizeof desc, "; ");
        describe_monotonic(timer, desc, sizeof desc);
    }
    if (!timer->calendar_count && !timer->monotonic_count) {
        job->valid = 0;
        str_copy(job->error, sizeof job->error, "no OnCalendar= or On...Sec= setting");
    }
    if (timer->randomized_delay[0]) {
        int64_t s = span_seconds(timer->randomized_delay);
        if (s > 0) {
            str_append(desc, sizeof desc, ", plus up to ");
            append_span(desc, sizeof desc, s);
            str_append(desc, sizeof desc,
                       s == 1 || (s % 60 == 0 && s / 60 == 1) || (s % 3600 == 0 && s / 3600 == 1) ||
                               (s % 86400 == 0 && s / 86400 == 1)
                           ? "'s random delay"
                           : "' random delay");
        }
    }
    if (timer->persistent && timer->calendar_count)
        str_append(desc, sizeof desc, ", catches up after downtime");
    str_copy(job->description, sizeof job->description, desc);

    char command[1024];
    str_copy(command, sizeof command, service_name);
    if (service && service->exec_start[0]) {
        const char *exec = service->exec_start;
        while (*exec && strchr("@-:+!", *exec)) exec++;
        char expanded[1024];
        expand_specifiers(exec, service_name, expanded, sizeof expanded);
        str_append(command, sizeof command, ": ");
        str_append(command, sizeof command, expanded);
    }
    str_copy(job->command, sizeof job->command, command);
    str_copy(job->user, sizeof job->user, service && service->user[0] ? service->user : "root");
}

void read_timers(const char *root, int64_t start) {
    g_timer_count = 0;
    for (int i = 0; i < k_search_count; i++) {
        char dir[512];
        join(dir, sizeof dir, root, k_search_path[i], "");
        g_search_count[i] = plat_list_dir(dir, g_search[i], SEARCH_CAP, &g_search_left_out[i]);
        int count = g_search_count[i];
        if (count < 0) continue;
        // A .wants folder among the names left out would be missed.
        if (g_search_left_out[i]) g_truncated = 1;
        for (int k = 0; k < count; k++) {
            const char *name = g_search[i][k].s;
            if (!ends_with(name, ".wants") && !ends_with(name, ".requires")) continue;
            char wants[1024];
            join(wants, sizeof wants, dir, "/", name);
            collect_wanted(wants);
        }
    }
    // Name order; the collected names may come from several folders.
    for (int a = 1; a < g_timer_count; a++) {
        plat_name t = g_timers[a];
        int b = a;
        for (; b > 0 && strcmp(t.s, g_timers[b - 1].s) < 0; b--) g_timers[b] = g_timers[b - 1];
        g_timers[b] = t;
    }
    g_zoned_count = 0;
    g_zoned_defer = 1;
    for (int k = 0; k < g_timer_count; k++) {
        const char *name = g_timers[k].s;
        static timer_unit timer;
        static service_unit service;
        memset(&timer, 0, sizeof timer);
        memset(&service, 0, sizeof service);
        if (load_unit(root, name, &timer, nullptr) <= 0) continue;
        char service_name[PLAT_NAME_CAP];
        if (timer.unit[0])
            str_copy(service_name, sizeof service_name, timer.unit);
        else
            service_of(name, service_name, sizeof service_name);
        int have_service = load_unit(root, service_name, nullptr, &service) > 0;
        cron_job *job = add_job();
        if (!job) break;
        timer_fill_job(job, name, &timer, service_name, have_service ? &service : nullptr, start);
        note_source("systemd");
    }
    g_zoned_defer = 0;
    add_zoned_runs(start);
}
