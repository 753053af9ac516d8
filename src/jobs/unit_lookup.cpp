#include "jobs/unit_lookup.h"

#include <stdio.h>
#include <string.h>

#include "jobs/jobs.h"
#include "jobs/paths.h"
#include "util/sort.h"
#include "util/str.h"

namespace {

enum { LIST_CAP = 2048, SEARCH_CAP = 1024, DROPIN_CAP = 64, FILE_CAP = 1 << 16 };

// Each search folder is listed once; whether a unit file or a drop-in
// folder exists is then looked up here instead of asked of the system.
plat_name g_search[UNIT_SEARCH_COUNT][SEARCH_CAP];
int g_search_count[UNIT_SEARCH_COUNT]; // -1: unreadable
int g_search_left_out[UNIT_SEARCH_COUNT];

plat_name g_dropins[DROPIN_CAP];
plat_name g_entries[LIST_CAP];
plat_name g_timers[(int)UNIT_TIMER_CAP + (int)LIST_CAP];
int g_timer_count;
char g_file[FILE_CAP + 1];

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

// a, b and c one after the other into out, cut to cap.
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

// The path of entry name of search folder i (under k_root) into out. Returns
// 1, or 0 when it does not fit (and so cannot be there).
int search_entry(int i, const char *name, char *out, size_t cap) {
    const char *parts[4] = {k_root, k_unit_search_path[i], "/", name};
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

// Whether search folder i holds an entry name: looked up in its listing,
// and asked of the system only for a name beyond a cut listing.
int present(int i, const char *name) {
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
        return search_entry(i, name, path, sizeof path) && plat_lstat(path, &info);
    }
    return 0;
}

// Finds the unit file of name (or of its template) along the search path:
// the first entry of that name wins. A mask (a link to /dev/null) wins too,
// and then reads as no unit, since only regular files are opened. Returns 1
// with its path, or 0.
int find_unit(const char *name, char *path, size_t cap) {
    char tmpl[PLAT_NAME_CAP];
    int has_template = template_of(name, tmpl, sizeof tmpl);
    for (int pass = 0; pass < 1 + has_template; pass++) {
        const char *want = pass ? tmpl : name;
        for (int i = 0; i < UNIT_SEARCH_COUNT; i++)
            if (present(i, want)) return search_entry(i, want, path, cap);
    }
    path[0] = 0;
    return 0;
}

// Collects into g_dropins the "*.conf" names of the drop-in folder (owner
// followed by ".d") across the search path, once each, in name order.
// Returns their count, at most DROPIN_CAP.
int collect_dropins(const char *folder) {
    int total = 0;
    for (int i = 0; i < UNIT_SEARCH_COUNT; i++) {
        char dir[1024];
        if (!present(i, folder) || !search_entry(i, folder, dir, sizeof dir)) continue;
        int left_out;
        int count = plat_list_dir(dir, g_entries, LIST_CAP, &left_out);
        for (int k = 0; k < count && total < DROPIN_CAP; k++) {
            if (!str_ends_with(g_entries[k].s, ".conf")) continue;
            int dup = 0;
            for (int j = 0; j < total && !dup; j++)
                dup = strcmp(g_dropins[j].s, g_entries[k].s) == 0;
            if (!dup) g_dropins[total++] = g_entries[k];
        }
    }
    sort_names(g_dropins, total);
    return total;
}

// Applies the drop-ins of folder ("NAME.d"), each from the highest search
// folder that has it.
void apply_dropins(const char *folder, timer_unit *timer, service_unit *service) {
    const int total = collect_dropins(folder);
    for (int k = 0; k < total; k++)
        for (int i = 0; i < UNIT_SEARCH_COUNT; i++) {
            char file[1024];
            plat_file_info info;
            if (snprintf(file, sizeof file, "%s%s/%s/%s", k_root, k_unit_search_path[i], folder,
                         g_dropins[k].s) >= (int)sizeof file ||
                !plat_lstat(file, &info))
                continue;
            int64_t len = read_file(file); // a mask (/dev/null) reads as nothing
            if (len > 0) unit_apply_text(g_file, (size_t)len, timer, service);
            break;
        }
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
        if (!str_ends_with(name, ".timer") || strlen(name) <= 6) continue;
        int dup = 0;
        for (int j = 0; j < before && !dup; j++) dup = strcmp(g_timers[j].s, name) == 0;
        if (dup) continue;
        if (g_timer_count >= UNIT_TIMER_CAP) {
            g_truncated = 1;
            return;
        }
        if (&g_timers[g_timer_count] != &listed[k]) g_timers[g_timer_count] = listed[k];
        g_timer_count++;
    }
}

// Whether name is that of a folder of wanted or required units.
int is_wants_folder(const char *name) {
    return str_ends_with(name, ".wants") || str_ends_with(name, ".requires");
}

// Lists search folder i into g_search[i] and collects the timers of its wants
// folders. A folder with more names than its listing holds is listed once
// more for its wants folders alone, which may be among the names left out.
void list_search_folder(int i) {
    char dir[512];
    join(dir, sizeof dir, k_root, k_unit_search_path[i], "");
    g_search_count[i] = plat_list_dir(dir, g_search[i], SEARCH_CAP, &g_search_left_out[i]);
    const plat_name *names = g_search[i];
    int count = g_search_count[i];
    if (count < 0) return;
    if (g_search_left_out[i]) {
        int left_out;
        count = plat_list_dir_where(dir, is_wants_folder, g_entries, LIST_CAP, &left_out);
        if (left_out) g_truncated = 1;
        names = g_entries;
    }
    for (int k = 0; k < count; k++) {
        if (!is_wants_folder(names[k].s)) continue;
        char wants[1024];
        join(wants, sizeof wants, dir, "/", names[k].s);
        collect_wanted(wants);
    }
}

} // namespace

int unit_enabled_timers(const plat_name **names) {
    g_timer_count = 0;
    for (int i = 0; i < UNIT_SEARCH_COUNT; i++) list_search_folder(i);
    // Name order; the collected names may come from several folders.
    sort_names(g_timers, g_timer_count);
    *names = g_timers;
    return g_timer_count;
}

int unit_load(const char *name, timer_unit *timer, service_unit *service) {
    char path[1024];
    if (!find_unit(name, path, sizeof path)) return 0;
    int64_t n = read_file(path);
    if (n < 0) return 0;
    unit_apply_text(g_file, (size_t)n, timer, service);
    char tmpl[PLAT_NAME_CAP], folder[PLAT_NAME_CAP + 2];
    if (template_of(name, tmpl, sizeof tmpl)) {
        join(folder, sizeof folder, tmpl, ".d", "");
        apply_dropins(folder, timer, service);
    }
    join(folder, sizeof folder, name, ".d", "");
    apply_dropins(folder, timer, service);
    return 1;
}
