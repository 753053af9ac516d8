// The Task Scheduler's task definitions, read from the files it keeps under
// %SystemRoot%\System32\Tasks: one XML document per task, sub-folders as task
// folders. Elements are looked up by name, since real files keep neither the
// published order nor a version.
#include <stdlib.h>
#include <string.h>

#include "jobs/jobs.h"
#include "jobs/paths.h"
#include "jobs/timeline.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

const char k_task_ns[] = "http://schemas.microsoft.com/windows/2004/02/mit/task";
const char k_source[] = "Task Scheduler";

// xs:boolean; anything else keeps the default.
int read_bool(const xml_doc *doc, int parent, const char *path, int fallback) {
    char v[16];
    if (!xml_path_text(doc, parent, path, v, sizeof v)) return fallback;
    str_trim(v);
    if (strcmp(v, "true") == 0 || strcmp(v, "1") == 0) return 1;
    if (strcmp(v, "false") == 0 || strcmp(v, "0") == 0) return 0;
    return fallback;
}

// A duration child of parent: its seconds, 0 when absent; 0 with the error
// set when malformed.
int64_t read_duration(const xml_doc *doc, int parent, const char *path, task_text *text) {
    char v[64];
    if (!xml_path_text(doc, parent, path, v, sizeof v)) return 0;
    const int64_t s = task_parse_duration(v);
    if (s < 0 && !text->error[0]) {
        str_set(text->error, "a duration that cannot be read: ");
        str_append(text->error, sizeof text->error, path);
    }
    return s < 0 ? 0 : s;
}

// A boundary child of parent; absent is unset, malformed sets the error.
int read_time(const xml_doc *doc, int parent, const char *name, task_time *out, task_text *text) {
    char v[64];
    memset(out, 0, sizeof *out);
    if (!xml_path_text(doc, parent, name, v, sizeof v)) return 1;
    if (task_parse_time(v, out)) return 1;
    if (!text->error[0]) {
        str_set(text->error, "a date and time that cannot be read: ");
        str_append(text->error, sizeof text->error, name);
    }
    return 0;
}

const char *const k_day_elements[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                       "Thursday", "Friday", "Saturday"};
const char *const k_month_elements[12] = {"January",   "February", "March",    "April",
                                          "May",       "June",     "July",     "August",
                                          "September", "October",  "November", "December"};

// A set of empty elements (<Monday/>) below parent/path as bits.
int32_t name_bits(const xml_doc *doc, int parent, const char *path, const char *const *names,
                  int count) {
    int at = xml_child(doc, parent, path);
    int32_t bits = 0;
    if (at < 0) return 0;
    for (int c = doc->nodes[at].first_child; c >= 0; c = doc->nodes[c].next_sibling)
        for (int i = 0; i < count; i++)
            if (xml_is(doc, c, names[i])) bits |= 1 << i;
    return bits;
}

// A number child of parent in lo..hi, or fallback when absent; 0 with the
// error set when out of range.
int32_t read_number(const xml_doc *doc, int parent, const char *name, int lo, int hi, int fallback,
                    task_text *text) {
    char v[32];
    if (!xml_path_text(doc, parent, name, v, sizeof v)) return fallback;
    str_trim(v);
    char *end;
    const long n = strtol(v, &end, 10);
    if (!v[0] || *end || n < lo || n > hi) {
        if (!text->error[0]) {
            str_set(text->error, "a value out of range: ");
            str_append(text->error, sizeof text->error, name);
        }
        return fallback;
    }
    return (int32_t)n;
}

// The schedule of a CalendarTrigger.
void read_calendar(const xml_doc *doc, int trig, task_trigger *t, task_text *text) {
    int s;
    if ((s = xml_child(doc, trig, "ScheduleByDay")) >= 0) {
        t->kind = TASK_DAILY;
        t->interval = read_number(doc, s, "DaysInterval", 1, 365, 1, text);
    } else if ((s = xml_child(doc, trig, "ScheduleByWeek")) >= 0) {
        t->kind = TASK_WEEKLY;
        t->interval = read_number(doc, s, "WeeksInterval", 1, 52, 1, text);
        t->weekdays = name_bits(doc, s, "DaysOfWeek", k_day_elements, 7);
    } else if ((s = xml_child(doc, trig, "ScheduleByMonth")) >= 0) {
        t->kind = TASK_MONTHLY;
        t->months = name_bits(doc, s, "Months", k_month_elements, 12);
        int days = xml_child(doc, s, "DaysOfMonth");
        for (int d = days >= 0 ? xml_child(doc, days, "Day") : -1; d >= 0;
             d = xml_next_named(doc, d, "Day")) {
            char v[16];
            xml_text(doc, d, v, sizeof v);
            str_trim(v);
            char *end;
            const long n = strtol(v, &end, 10);
            if (strcmp(v, "Last") == 0)
                t->last_day = 1;
            else if (v[0] && !*end && n >= 1 && n <= 31)
                t->month_days |= 1u << n;
            else if (!text->error[0])
                str_set(text->error, "a value out of range: Day");
        }
    } else if ((s = xml_child(doc, trig, "ScheduleByMonthDayOfWeek")) >= 0) {
        t->kind = TASK_MONTHLY_DOW;
        t->months = name_bits(doc, s, "Months", k_month_elements, 12);
        t->weekdays = name_bits(doc, s, "DaysOfWeek", k_day_elements, 7);
        int weeks = xml_child(doc, s, "Weeks");
        for (int w = weeks >= 0 ? xml_child(doc, weeks, "Week") : -1; w >= 0;
             w = xml_next_named(doc, w, "Week")) {
            char v[16];
            xml_text(doc, w, v, sizeof v);
            str_trim(v);
            if (strcmp(v, "Last") == 0)
                t->weeks |= 16;
            else if (v[0] >= '1' && v[0] <= '4' && !v[1])
                t->weeks |= 1 << (v[0] - '1');
            else if (!text->error[0])
                str_set(text->error, "a value out of range: Week");
        }
    } else {
        t->kind = TASK_OTHER;
        str_set(t->name, "CalendarTrigger");
        if (!text->error[0]) str_set(text->error, "a CalendarTrigger without a schedule");
    }
}

// The first channel an event subscription's query selects: its Path.
void event_log(const xml_doc *doc, int trig, task_trigger *t) {
    static char query[8192];
    if (!xml_path_text(doc, trig, "Subscription", query, sizeof query)) return;
    const char *p = strstr(query, "Path=");
    if (!p || (p[5] != '"' && p[5] != '\'')) return;
    const char q = p[5];
    const char *from = p + 6, *to = strchr(from, q);
    if (to) str_set_span(t->log, from, (size_t)(to - from));
}

// One child of Triggers: the common elements, then those of its kind.
void read_trigger(const xml_doc *doc, int trig, task_trigger *t, task_text *text) {
    memset(t, 0, sizeof *t);
    t->interval = 1;
    t->enabled = read_bool(doc, trig, "Enabled", 1);
    read_time(doc, trig, "StartBoundary", &t->start, text);
    read_time(doc, trig, "EndBoundary", &t->end, text);
    const int rep = xml_child(doc, trig, "Repetition");
    if (rep >= 0) {
        t->rep_interval = read_duration(doc, rep, "Interval", text);
        t->rep_duration = read_duration(doc, rep, "Duration", text);
        t->rep_stop = read_bool(doc, rep, "StopAtDurationEnd", 0);
        if (t->rep_interval > 0 && t->rep_interval < 60) {
            if (!text->error[0]) str_set(text->error, "a repetition interval under a minute");
            t->rep_interval = 0;
        }
    }
    t->random_delay = read_duration(doc, trig, "RandomDelay", text);
    t->delay = read_duration(doc, trig, "Delay", text);
    static const struct {
        const char *element;
        int32_t kind;
    } k_kinds[] = {
        {"TimeTrigger", TASK_TIME},
        {"BootTrigger", TASK_BOOT},
        {"LogonTrigger", TASK_LOGON},
        {"IdleTrigger", TASK_IDLE},
        {"EventTrigger", TASK_EVENT},
        {"RegistrationTrigger", TASK_REGISTRATION},
        {"SessionStateChangeTrigger", TASK_SESSION},
        {"WnfStateChangeTrigger", TASK_WNF},
    };
    int len;
    const char *local = xml_local_name(doc, trig, &len);
    t->kind = TASK_OTHER;
    str_set_span(t->name, local, (size_t)len);
    for (const auto &k : k_kinds)
        if (xml_is(doc, trig, k.element)) t->kind = k.kind;
    if (xml_is(doc, trig, "CalendarTrigger")) read_calendar(doc, trig, t, text);
    if (t->kind == TASK_LOGON || t->kind == TASK_SESSION) {
        xml_path_text(doc, trig, "UserId", t->user, sizeof t->user);
        str_trim(t->user);
    }
    if (t->kind == TASK_SESSION) {
        xml_path_text(doc, trig, "StateChange", t->name, sizeof t->name);
        str_trim(t->name);
    }
    if (t->kind == TASK_EVENT) event_log(doc, trig, t);
    if ((t->kind == TASK_TIME || (t->kind >= TASK_DAILY && t->kind <= TASK_MONTHLY_DOW)) &&
        !t->start.set && !text->error[0])
        str_set(text->error, "a time trigger without a StartBoundary");
}

// The well-known accounts by name, as the console shows them.
const char *sid_name(const char *sid) {
    static const struct {
        const char *sid, *name;
    } k_sids[] = {
        {"S-1-5-18", "SYSTEM"},
        {"S-1-5-19", "LOCAL SERVICE"},
        {"S-1-5-20", "NETWORK SERVICE"},
        {"S-1-5-32-544", "Administrators"},
        {"S-1-5-32-545", "Users"},
        {"S-1-5-4", "INTERACTIVE"},
        {"S-1-5-11", "Authenticated Users"},
        {"S-1-1-0", "Everyone"},
    };
    for (const auto &k : k_sids)
        if (strcmp(k.sid, sid) == 0) return k.name;
    return sid;
}

// The first action as the console's Actions column would show it, and how
// many follow.
void read_actions(const xml_doc *doc, int root, task_text *text) {
    const int actions = xml_child(doc, root, "Actions");
    int count = 0;
    for (int a = actions >= 0 ? doc->nodes[actions].first_child : -1; a >= 0;
         a = doc->nodes[a].next_sibling) {
        if (count++) continue;
        char v[448];
        if (xml_is(doc, a, "Exec")) {
            xml_path_text(doc, a, "Command", v, sizeof v);
            str_trim(v);
            str_set(text->action, v);
            xml_path_text(doc, a, "Arguments", v, sizeof v);
            str_trim(v);
            if (v[0]) {
                str_append(text->action, sizeof text->action, " ");
                str_append(text->action, sizeof text->action, v);
            }
        } else if (xml_is(doc, a, "ComHandler")) {
            xml_path_text(doc, a, "ClassId", v, sizeof v);
            str_trim(v);
            str_set(text->action, "COM handler ");
            str_append(text->action, sizeof text->action, v);
        } else if (xml_is(doc, a, "SendEmail")) {
            str_set(text->action, "send an e-mail");
        } else if (xml_is(doc, a, "ShowMessage")) {
            str_set(text->action, "show a message");
        } else {
            int len;
            const char *local = xml_local_name(doc, a, &len);
            str_set_span(text->action, local, (size_t)len);
        }
    }
    if (count > 1) {
        char more[48];
        snprintf(more, sizeof more, " (+%d more action%s)", count - 1, count > 2 ? "s" : "");
        // The count stays whole even when the action is cut.
        const size_t keep =
            utf8_cut(text->action, strlen(text->action), sizeof text->action - 1 - strlen(more));
        text->action[keep] = 0;
        str_append(text->action, sizeof text->action, more);
    }
}

// The namespace the root element is in: its xmlns, or xmlns:prefix.
int root_namespace_ok(const xml_doc *doc) {
    const xml_node *n = &doc->nodes[0];
    char attr[80] = "xmlns";
    for (int k = 0; k < n->name_len; k++)
        if (doc->text[n->name + k] == ':') {
            str_set(attr, "xmlns:");
            char prefix[64];
            str_set_span(prefix, doc->text + n->name, (size_t)k);
            str_append(attr, sizeof attr, prefix);
            break;
        }
    char ns[96];
    xml_attr(doc, 0, attr, ns, sizeof ns);
    return strcmp(ns, k_task_ns) == 0;
}

// %SystemRoot% at the start of the folder setting becomes its value.
void task_folder_path(char *out, size_t cap) {
    const char *folder = k_task_folder;
    const char var[] = "%SystemRoot%";
    char expanded[512];
    if (strncmp(folder, var, sizeof var - 1) == 0) {
        const char *root = getenv("SystemRoot");
        str_copy(expanded, sizeof expanded, root && root[0] ? root : "C:\\Windows");
        str_append(expanded, sizeof expanded, folder + sizeof var - 1);
        folder = expanded;
    }
    if (!root_path(folder, out, (unsigned)cap)) out[0] = 0;
}

enum { NAME_POOL = 2048, FOLDER_NAMES = 1024, FOLDER_DEPTH = 16 };

plat_name g_names[NAME_POOL];
int g_names_used;
int g_table_full;
int64_t g_start;
run_window *g_window; // the walk's window, or null

// Adds the job of one task: unreadable with error, or read from the open
// handle (closed here).
void add_task(const char *task_path, const char *error, int handle) {
    cron_job *job = add_job();
    if (!job) {
        g_table_full = 1;
        plat_close(handle);
        return;
    }
    static unsigned char bytes[TASK_FILE_LIMIT + 1];
    int64_t n = 0;
    if (!error) {
        // A regular file: a short read is its end.
        for (;;) {
            const size_t want = sizeof bytes - (size_t)n;
            const int64_t got = plat_read(handle, (char *)bytes + n, want);
            if (got <= 0) break;
            n += got;
            if ((size_t)got < want || (size_t)n == sizeof bytes) break;
        }
        if (n > TASK_FILE_LIMIT) error = "longer than 256 KiB";
    }
    plat_close(handle);
    if (error) {
        memset(job, 0, sizeof *job);
        str_set(job->source, k_source);
        str_set(job->kind, "task");
        str_set(job->command, task_path);
        str_set(job->error, "unreadable task definition: ");
        str_append(job->error, sizeof job->error, error);
        str_set(job->description, "Task definition not read");
    } else {
        task_fill_job(job, task_path, bytes, (size_t)n, g_start, g_window);
    }
    note_source(k_source);
}

// Why an entry that does not open as a regular file is no task definition.
const char *entry_error(int kind) {
    return kind == PLAT_MISSING   ? "a link that leads nowhere"
           : kind == PLAT_REGULAR ? "it cannot be opened"
                                  : "not a regular file";
}

// Lists one folder and reads its entries in byte order, descending into
// sub-folders as they come. Returns 0 when the folder cannot be listed.
int walk(const char *dir, const char *task_dir, int depth) {
    int cap = NAME_POOL - g_names_used;
    if (cap > FOLDER_NAMES) cap = FOLDER_NAMES;
    int left_out = 0;
    plat_name *names = g_names + g_names_used;
    const int n = plat_list_dir(dir, names, cap, &left_out);
    if (n < 0) return 0;
    if (left_out) g_truncated = 1;
    g_names_used += n;
    for (int i = 0; i < n && !g_table_full; i++) {
        char path[1024], task_path[1024];
        str_copy(path, sizeof path, dir);
        str_append(path, sizeof path, "/");
        int cut = str_append(path, sizeof path, names[i].s);
        str_copy(task_path, sizeof task_path, task_dir);
        str_append(task_path, sizeof task_path, "\\");
        str_append(task_path, sizeof task_path, names[i].s);
        if (cut) {
            add_task(task_path, "a path too long", -1);
            continue;
        }
        // Most entries are task files: opened at once, and only what does
        // not open as a file is looked at more closely.
        const int h = plat_open_read(path);
        if (h >= 0) {
            add_task(task_path, nullptr, h);
            continue;
        }
        plat_file_info info;
        plat_lstat(path, &info);
        if (info.kind == PLAT_FOLDER) {
            if (depth + 1 >= FOLDER_DEPTH)
                add_task(task_path, "task folders nested deeper than 16 levels", -1);
            else if (!walk(path, task_path, depth + 1))
                add_task(task_path, "a task folder that cannot be read", -1);
        } else if (info.kind == PLAT_LINK) {
            plat_file_info target;
            plat_stat(path, &target);
            add_task(task_path,
                     target.kind == PLAT_FOLDER ? "a link to a folder, not followed"
                                                : entry_error(target.kind),
                     -1);
        } else {
            add_task(task_path,
                     info.kind == PLAT_MISSING ? "it cannot be opened" : entry_error(info.kind),
                     -1);
        }
    }
    g_names_used -= n;
    return 1;
}

} // namespace

int task_from_doc(const xml_doc *doc, task_def *task, task_text *text) {
    // The triggers in use are cleared one by one as they are read.
    task->enabled = task->hidden = 0;
    task->maintenance_period = 0;
    task->trigger_count = task->triggers_left_out = 0;
    memset(text, 0, sizeof *text);
    if (!xml_is(doc, 0, "Task")) {
        str_set(text->error, "the root element is not Task");
        return 0;
    }
    if (!root_namespace_ok(doc)) {
        str_set(text->error, "not in the Task Scheduler's namespace");
        return 0;
    }
    const int settings = xml_child(doc, 0, "Settings");
    task->enabled = read_bool(doc, settings, "Enabled", 1);
    task->hidden = read_bool(doc, settings, "Hidden", 0);
    task->maintenance_period = read_duration(doc, settings, "MaintenanceSettings/Period", text);
    const int triggers = xml_child(doc, 0, "Triggers");
    for (int c = triggers >= 0 ? doc->nodes[triggers].first_child : -1; c >= 0;
         c = doc->nodes[c].next_sibling) {
        if (task->trigger_count == TASK_MAX_TRIGGERS) {
            task->triggers_left_out = 1;
            break;
        }
        read_trigger(doc, c, &task->triggers[task->trigger_count++], text);
    }
    read_actions(doc, 0, text);
    const int principal = xml_child(doc, xml_child(doc, 0, "Principals"), "Principal");
    char who[64];
    xml_path_text(doc, principal, "UserId", who, sizeof who);
    str_trim(who);
    if (!who[0]) {
        xml_path_text(doc, principal, "GroupId", who, sizeof who);
        str_trim(who);
    }
    str_set(text->user, sid_name(who));
    return !text->error[0];
}

namespace {

// The triggers' search, as the window calls it.
int search_task(const void *task, int64_t after, int64_t out[RUN_LIST_MAX]) {
    return task_next_runs((const task_def *)task, after, out);
}

} // namespace

void task_fill_job(cron_job *job, const char *task_path, const unsigned char *bytes, size_t n,
                   int64_t start, run_window *window) {
    static char utf8[TASK_FILE_LIMIT * 3 / 2 + 16];
    static xml_doc doc;
    static task_def task;
    static task_text text;
    memset(job, 0, sizeof *job);
    str_set(job->source, k_source);
    str_set(job->kind, "task");
    str_set(job->command, task_path);
    str_set(job->description, "Task definition not read");
    const char *error = nullptr;
    size_t len = 0;
    if (n > TASK_FILE_LIMIT)
        error = "longer than 256 KiB";
    else if (!n)
        error = "an empty file";
    else if (!xml_to_utf8(bytes, n, utf8, sizeof utf8, &len, &error))
        ;
    else if (!xml_parse(&doc, utf8, len))
        error = doc.error;
    else if (!task_from_doc(&doc, &task, &text))
        error = text.error;
    if (error) {
        str_set(job->error, "unreadable task definition: ");
        str_append(job->error, sizeof job->error, error);
        return;
    }
    job->valid = 1;
    char command[1024];
    str_copy(command, sizeof command, task_path);
    if (text.action[0]) {
        str_append(command, sizeof command, ": ");
        str_append(command, sizeof command, text.action);
    }
    str_set(job->command, command);
    str_set(job->user, text.user);
    task_expr(&task, job->expr, sizeof job->expr);
    task_describe(&task, job->description, sizeof job->description);
    int64_t runs[TASK_MAX_RUNS];
    job->next_count = task_next_runs(&task, start, runs);
    for (int i = 0; i < job->next_count; i++) job->next[i] = runs[i];
    window_add_runs(window, job, search_task, &task, runs, job->next_count);
}

int read_task_folder(int64_t start, run_window *window) {
    if (!k_task_folder[0]) return 0;
    char dir[600];
    task_folder_path(dir, sizeof dir);
    if (!dir[0]) return 0;
    g_names_used = 0;
    g_table_full = 0;
    g_start = start;
    g_window = window;
    return walk(dir, "", 0);
}
