// Matching the node's records to the jobs of the table. Runs are told
// apart only as the writers of the records tell them apart:
//
// - systemd names the unit in UNIT=; a run begins with "Starting" (or, when
//   that record is older than the window, with the first record seen) and
//   ends with "Deactivated successfully" or "Failed with result"; the main
//   process's exit record before it gives the exit status.
// - Debian's cron logs "(user) CMD (command)" from the job's own process
//   (its pid in the tag), or at -L 8 "(user) CMD ([pid] command)" from the
//   process that waits for it; a failure, at -L 4, is "(CRON) error
//   (grandchild #pid ...)" from the waiting process, and an end, at -L 2,
//   "(user) END ([pid] command)" only with the pid at -L 8. A failure or an
//   end is tied to a start only through that pid.
// - cronie logs "(user) CMD (command)" and "(user) CMDEND (command)"; an
//   end is tied to its start when both carry the same pid.
#include "jobs/history.h"

#include <string.h>

#include "jobs/paths.h"
#include "util/platform.h"
#include "util/str.h"

int32_t g_history_asked;

const char *const k_hist_message_ids[] = {
    "7d4958e842da4a758f6c1cdc7b36dcc5", // a start job began
    "39f53479d3a045ac8e11786248231fbf", // a start job finished
    "7ad2d189f7e94e70a38c781354912448", // the unit succeeded
    "d9b373ed55a64feb8242e02dbe79a49c", // the unit failed
    "be02cf6855d2428ba40df7e9d022f03d", // a start job failed
    "98e322203f7a4ed290d09fe03c09fe15", // a unit process exited
    nullptr,
};

static const int k_hist_id_kinds[] = {HIST_UNIT_STARTING, HIST_UNIT_STARTED,      HIST_UNIT_SUCCESS,
                                      HIST_UNIT_FAILED,   HIST_UNIT_START_FAILED, HIST_UNIT_EXIT};

int hist_message_kind(const char *id, size_t n) {
    if (n != 32) return HIST_NONE;
    for (int i = 0; k_hist_message_ids[i]; i++)
        if (memcmp(id, k_hist_message_ids[i], 32) == 0) return k_hist_id_kinds[i];
    return HIST_NONE;
}

int cron_logged_command(const char *command, char *out, size_t cap) {
    static const char k_octal[] = "01234567";
    size_t n = 0;
    int cut = 0;
    for (const unsigned char *p = (const unsigned char *)command; *p; p++) {
        unsigned char c = *p;
        if (c == '%') break;
        if (c == '\\' && p[1] == '%') c = *++p;
        char piece[4];
        size_t len = 0;
        if (c < ' ') {
            piece[len++] = '^';
            piece[len++] = (char)(c + '@');
        } else if (c == 127) {
            piece[len++] = '^';
            piece[len++] = '?';
        } else if (c > 127) {
            piece[len++] = '\\';
            piece[len++] = k_octal[c >> 6];
            piece[len++] = k_octal[(c >> 3) & 7];
            piece[len++] = k_octal[c & 7];
        } else {
            piece[len++] = (char)c;
        }
        if (n + len + 1 > cap) {
            cut = 1;
            break;
        }
        memcpy(out + n, piece, len);
        n += len;
    }
    if (cap) out[n] = 0;
    return cut;
}

namespace {

// Reads a decimal number of at most 18 digits at *p; moves *p past it.
int read_number(const char **p, const char *end, int64_t *value) {
    const char *s = *p;
    int64_t v = 0;
    int digits = 0;
    while (s < end && *s >= '0' && *s <= '9' && digits < 18) {
        v = v * 10 + (*s++ - '0');
        digits++;
    }
    if (!digits || (s < end && *s >= '0' && *s <= '9')) return 0;
    *p = s;
    *value = v;
    return 1;
}

// True when the n bytes at s begin with the terminated text prefix.
int starts(const char *s, size_t n, const char *prefix) {
    size_t k = strlen(prefix);
    return n >= k && memcmp(s, prefix, k) == 0;
}

// Debian's "(CRON) error (...)" texts: "grandchild #N failed with exit
// status S" and "grandchild #N terminated by signal S".
int parse_cron_error(const char *p, const char *end, hist_record *r) {
    if (!starts(p, (size_t)(end - p), "grandchild #")) return 0;
    p += 12;
    int64_t pid, value;
    if (!read_number(&p, end, &pid)) return 0;
    const char *what = nullptr;
    if (starts(p, (size_t)(end - p), " failed with exit status ")) {
        p += 25;
        what = "exit status ";
    } else if (starts(p, (size_t)(end - p), " terminated by signal ")) {
        p += 22;
        what = "killed by signal ";
    } else {
        return 0;
    }
    if (!read_number(&p, end, &value) || end - p != 1 || *p != ')') return 0;
    char number[24];
    int k = 0;
    char digits[24];
    int64_t v = value;
    do {
        digits[k++] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    for (int i = 0; i < k; i++) number[i] = digits[k - 1 - i];
    number[k] = 0;
    str_set(r->detail, what);
    str_append(r->detail, sizeof r->detail, number);
    r->job_pid = pid;
    r->kind = HIST_CRON_ERROR;
    return 1;
}

} // namespace

int hist_cron_message(const char *msg, size_t n, hist_record *r) {
    r->kind = HIST_NONE;
    r->job_pid = 0;
    r->user[0] = r->command[0] = r->detail[0] = 0;
    const char *end = msg + n;
    // A zero byte would end the texts compared early: "true\0..." is no "true".
    if (n < 2 || msg[0] != '(' || memchr(msg, 0, n)) return 0;
    const char *close = (const char *)memchr(msg + 1, ')', n - 1);
    if (!close || close == msg + 1) return 0;
    const char *user = msg + 1;
    size_t user_len = (size_t)(close - user);
    const char *p = close + 1;
    if (user_len == 4 && memcmp(user, "CRON", 4) == 0) {
        if (!starts(p, (size_t)(end - p), " error (")) return 0;
        return parse_cron_error(p + 8, end, r);
    }
    int kind;
    if (starts(p, (size_t)(end - p), " CMD (")) {
        kind = HIST_CRON_CMD;
        p += 6;
    } else if (starts(p, (size_t)(end - p), " END (")) {
        kind = HIST_CRON_END;
        p += 6;
    } else if (starts(p, (size_t)(end - p), " CMDEND (")) {
        kind = HIST_CRON_END;
        p += 9;
    } else {
        return 0;
    }
    // The command runs to the last byte, a ")" that the daemon put there.
    if (end - p < 1 || end[-1] != ')') return 0;
    if (user_len >= sizeof r->user) return 0;
    size_t cmd_len = (size_t)(end - 1 - p);
    if (cmd_len >= sizeof r->command) return 0;
    memcpy(r->user, user, user_len);
    r->user[user_len] = 0;
    memcpy(r->command, p, cmd_len);
    r->command[cmd_len] = 0;
    r->kind = kind;
    return 1;
}

// ---- Matching ------------------------------------------------------------

namespace {

enum { SLOTS = 2048 };

// What the pass keeps per job beside its last run.
struct run_state {
    int64_t pid;       // the run's process as its records name it
    int32_t exit_code; // systemd's last exit record of the run
    int32_t exit_status;
    int32_t cut; // the logged form of the command had to be cut
    // Newest first: what the records newer than the run's start said.
    int32_t resolved;     // the run's start has been seen
    int32_t pending;      // 0 nothing, 1 succeeded, 2 failed
    int32_t pending_seen; // a record of the run was seen
    int64_t pending_time; // the oldest such record
    char pending_result[32];
};

// Newest first: the cron records of ends and failures not yet tied to the
// start they follow, by the job's pid (direct-mapped; a clash keeps the
// newer record).
enum { END_SLOTS = 4096 };
struct pending_end {
    int64_t pid; // 0: free
    int32_t failed;
    int32_t with_pid; // the end named the job's pid ("[pid]"), so it is the job's
    char detail[48];
};
pending_end g_ends[END_SLOTS];
int32_t g_indexed, g_resolved;

run_state g_run[JOB_CAPACITY];
char g_logged[JOB_CAPACITY][2048]; // each cron job's command as cron logs it
int16_t g_head[SLOTS];             // first job of each hash slot, or -1
int16_t g_chain[JOB_CAPACITY];     // next job in the same slot, or -1

// The index slot of a key: its type ('u' unit, 'c' cron job) and one or two texts.
uint32_t hash_key(char type, const char *a, const char *b) {
    uint32_t h = 2166136261u;
    h = (h ^ (unsigned char)type) * 16777619u;
    for (const char *p = a; *p; p++) h = (h ^ (unsigned char)*p) * 16777619u;
    h = (h ^ 1u) * 16777619u;
    for (const char *p = b; p && *p; p++) h = (h ^ (unsigned char)*p) * 16777619u;
    return h % SLOTS;
}

// True for a timer job that names its service.
int is_timer(const cron_job *j) {
    return strcmp(j->kind, "timer") == 0 && j->unit[0];
}

// True for a cron job with a command.
int is_cron(const cron_job *j) {
    return strcmp(j->kind, "cron") == 0 && j->command[0];
}

// Stores a last run into the job.
void set_last(cron_job *j, int64_t t, const char *outcome, const char *detail, const char *from) {
    j->last_time = t;
    str_set(j->last_outcome, outcome);
    str_set(j->last_detail, detail);
    str_set(j->last_from, from);
}

// The detail of a unit's failure: its result, with the main process's
// exit record where the result comes from it.
void unit_failure_detail(const hist_record *r, const run_state *s, char *out, size_t cap) {
    char number[16];
    int32_t v = s->exit_status < 0 ? 0 : s->exit_status;
    int k = 0;
    char digits[16];
    do {
        digits[k++] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    for (int i = 0; i < k; i++) number[i] = digits[k - 1 - i];
    number[k] = 0;
    out[0] = 0;
    if (strcmp(r->result, "exit-code") == 0 && s->exit_code == HIST_EXITED) {
        str_copy(out, cap, "exit status ");
        str_append(out, cap, number);
    } else if ((strcmp(r->result, "signal") == 0 || strcmp(r->result, "core-dump") == 0) &&
               (s->exit_code == HIST_KILLED || s->exit_code == HIST_DUMPED)) {
        str_copy(out, cap, "killed by signal ");
        str_append(out, cap, number);
        if (s->exit_code == HIST_DUMPED) str_append(out, cap, ", core dumped");
    } else if (strcmp(r->result, "timeout") == 0) {
        str_copy(out, cap, "timed out");
    } else if (strcmp(r->result, "oom-kill") == 0) {
        str_copy(out, cap, "killed for want of memory");
    } else if (r->result[0]) {
        str_copy(out, cap, "result ");
        str_append(out, cap, r->result);
    }
}

// Oldest first: one of systemd's records of a unit, applied to the timers
// whose service it is; a newer start begins a new run.
int apply_unit(const hist_record *r, const char *from) {
    int hit = 0;
    for (int i = g_head[hash_key('u', r->unit, nullptr)]; i >= 0; i = g_chain[i]) {
        cron_job *j = &g_jobs[i];
        if (!is_timer(j) || strcmp(j->unit, r->unit) != 0) continue;
        run_state *s = &g_run[i];
        hit = 1;
        int have = j->last_from[0] != 0;
        if (have && r->time < j->last_time) continue;
        switch (r->kind) {
        case HIST_UNIT_STARTING:
            set_last(j, r->time, "started", "", from);
            *s = run_state{};
            break;
        case HIST_UNIT_STARTED:
            if (!have) set_last(j, r->time, "started", "", from);
            break;
        case HIST_UNIT_EXIT:
            if (!have) set_last(j, r->time, "started", "", from);
            s->exit_code = r->exit_code;
            s->exit_status = r->exit_status;
            break;
        case HIST_UNIT_SUCCESS:
            if (!have) j->last_time = r->time;
            set_last(j, j->last_time, "succeeded", "", from);
            break;
        case HIST_UNIT_FAILED: {
            char detail[48];
            unit_failure_detail(r, s, detail, sizeof detail);
            set_last(j, have ? j->last_time : r->time, "failed", detail, from);
            break;
        }
        case HIST_UNIT_START_FAILED:
            if (!have || strcmp(j->last_outcome, "failed") != 0)
                set_last(j, have ? j->last_time : r->time, "failed", "", from);
            break;
        default:
            break;
        }
    }
    return hit;
}

// The jobs whose user and logged command equal the record's; with
// bracket set, the command after Debian's "[pid] " is the one compared.
int apply_cron_start(const hist_record *r, const char *command, int64_t pid, const char *from) {
    int hit = 0;
    for (int i = g_head[hash_key('c', r->user, command)]; i >= 0; i = g_chain[i]) {
        cron_job *j = &g_jobs[i];
        if (!is_cron(j) || g_run[i].cut || strcmp(j->user, r->user) != 0 ||
            strcmp(g_logged[i], command) != 0)
            continue;
        hit = 1;
        if (j->last_from[0] && (r->time < j->last_time || g_run[i].pid == pid)) continue;
        set_last(j, r->time, "started", "", from);
        g_run[i] = run_state{};
        g_run[i].pid = pid;
    }
    return hit;
}

// An end record: the jobs of that command whose last run has the pid.
int apply_cron_end(const hist_record *r, const char *command, int64_t pid) {
    int hit = 0;
    for (int i = g_head[hash_key('c', r->user, command)]; i >= 0; i = g_chain[i]) {
        cron_job *j = &g_jobs[i];
        if (!is_cron(j) || g_run[i].cut || !j->last_from[0] || g_run[i].pid != pid ||
            strcmp(j->user, r->user) != 0 || strcmp(g_logged[i], command) != 0)
            continue;
        hit = 1;
        if (strcmp(j->last_outcome, "started") == 0)
            str_set(j->last_outcome, r->job_pid ? "succeeded" : "started");
        if (!r->job_pid && !j->last_detail[0]) str_set(j->last_detail, "ended");
    }
    return hit;
}

// Splits Debian's "[pid] command" into the pid and the command after it.
const char *bracket_pid(const char *command, int64_t *pid) {
    if (command[0] != '[') return nullptr;
    const char *p = command + 1;
    const char *end = p + strlen(p);
    if (!read_number(&p, end, pid) || p[0] != ']' || p[1] != ' ') return nullptr;
    return p + 2;
}

// Oldest first: one of cron's records, tied to its job's run by its
// command and user (starts) or by the job's pid (ends and failures).
int apply_cron(const hist_record *r, const char *from) {
    if (r->kind == HIST_CRON_ERROR) {
        // The waiting process names its job's process; the newest run with
        // that pid is the one (pids come round again within a month).
        int best = -1;
        for (int i = 0; i < g_job_count; i++) {
            const cron_job *j = &g_jobs[i];
            if (!is_cron(j) || !j->last_from[0] || g_run[i].pid != r->job_pid ||
                strcmp(j->last_from, from) != 0 || j->last_time > r->time)
                continue;
            if (best < 0 || j->last_time > g_jobs[best].last_time) best = i;
        }
        if (best < 0) return 0;
        for (int i = best; i < g_job_count; i++) {
            cron_job *j = &g_jobs[i];
            if (is_cron(j) && j->last_from[0] && g_run[i].pid == r->job_pid &&
                j->last_time == g_jobs[best].last_time && strcmp(j->last_from, from) == 0) {
                str_set(j->last_outcome, "failed");
                str_set(j->last_detail, r->detail);
            }
        }
        return 1;
    }
    int64_t pid = 0;
    const char *rest = bracket_pid(r->command, &pid);
    if (r->kind == HIST_CRON_CMD) {
        if (rest && apply_cron_start(r, rest, pid, from)) return 1;
        return apply_cron_start(r, r->command, r->pid, from);
    }
    if (r->kind == HIST_CRON_END) {
        if (rest) {
            hist_record with_pid = *r;
            with_pid.job_pid = pid;
            if (apply_cron_end(&with_pid, rest, pid)) return 1;
        }
        return apply_cron_end(r, r->command, r->pid);
    }
    return 0;
}

// Puts job i at the head of the slot's chain.
void index_job(int i, uint32_t slot) {
    g_chain[i] = g_head[slot];
    g_head[slot] = (int16_t)i;
}

} // namespace

void history_begin(void) {
    for (int s = 0; s < SLOTS; s++) g_head[s] = -1;
    for (int s = 0; s < END_SLOTS; s++) g_ends[s].pid = 0;
    g_indexed = g_resolved = 0;
    // Indexed from the last job down, so that each chain lists jobs in
    // table order.
    for (int i = g_job_count - 1; i >= 0; i--) {
        cron_job *j = &g_jobs[i];
        j->last_time = 0;
        j->last_outcome[0] = j->last_detail[0] = j->last_from[0] = 0;
        g_run[i] = run_state{};
        g_chain[i] = -1;
        if (is_timer(j)) {
            index_job(i, hash_key('u', j->unit, nullptr));
            g_indexed++;
        } else if (is_cron(j)) {
            // A command cut to the record's capacity cannot be compared.
            g_run[i].cut = cron_logged_command(j->command, g_logged[i], sizeof g_logged[i]) ||
                           strlen(j->command) + 1 >= sizeof j->command;
            index_job(i, hash_key('c', j->user, g_logged[i]));
            if (!g_run[i].cut) g_indexed++;
        }
    }
}

int history_apply(const hist_record *r, const char *from) {
    switch (r->kind) {
    case HIST_UNIT_STARTING:
    case HIST_UNIT_STARTED:
    case HIST_UNIT_SUCCESS:
    case HIST_UNIT_FAILED:
    case HIST_UNIT_START_FAILED:
    case HIST_UNIT_EXIT:
        return apply_unit(r, from);
    case HIST_CRON_CMD:
    case HIST_CRON_END:
    case HIST_CRON_ERROR:
        return apply_cron(r, from);
    default:
        return 0;
    }
}

// ---- Newest first ----------------------------------------------------------

namespace {

// Newest first: the start of timer job i's last run at t, ended as the
// newer records said.
void resolve(int i, int64_t t, const char *from) {
    cron_job *j = &g_jobs[i];
    run_state *s = &g_run[i];
    s->resolved = 1;
    g_resolved++;
    if (s->pending == 2) {
        hist_record failed{};
        str_set(failed.result, s->pending_result);
        char detail[48];
        unit_failure_detail(&failed, s, detail, sizeof detail);
        set_last(j, t, "failed", detail, from);
    } else {
        set_last(j, t, s->pending == 1 ? "succeeded" : "started", "", from);
    }
}

// Newest first: one of systemd's records of a unit; records newer than the
// last start gather how the run ended, the start settles it.
int unit_newest(const hist_record *r, const char *from) {
    int hit = 0;
    for (int i = g_head[hash_key('u', r->unit, nullptr)]; i >= 0; i = g_chain[i]) {
        cron_job *j = &g_jobs[i];
        run_state *s = &g_run[i];
        if (!is_timer(j) || strcmp(j->unit, r->unit) != 0) continue;
        hit = 1;
        if (s->resolved) continue;
        s->pending_seen = 1;
        s->pending_time = r->time;
        switch (r->kind) {
        case HIST_UNIT_STARTING:
            resolve(i, r->time, from);
            break;
        case HIST_UNIT_SUCCESS:
            if (!s->pending) s->pending = 1;
            break;
        case HIST_UNIT_FAILED:
            // The start job's failure comes after it, so is seen first.
            if (!s->pending || (s->pending == 2 && !s->pending_result[0])) {
                s->pending = 2;
                str_set(s->pending_result, r->result);
            }
            break;
        case HIST_UNIT_START_FAILED:
            if (!s->pending) s->pending = 2;
            break;
        case HIST_UNIT_EXIT:
            if (!s->exit_code) {
                s->exit_code = r->exit_code;
                s->exit_status = r->exit_status;
            }
            break;
        default:
            break;
        }
    }
    return hit;
}

// The slot of a pid in the table of ends not yet tied to a start.
pending_end *end_slot(int64_t pid) {
    return &g_ends[(uint64_t)pid % END_SLOTS];
}

// A start: the end or failure kept for its pid, newer than it, is its own.
int cron_start_newest(const hist_record *r, const char *command, int64_t pid, const char *from) {
    pending_end *e = end_slot(pid);
    pending_end end{};
    if (e->pid == pid) {
        end = *e;
        e->pid = 0;
    }
    int hit = 0;
    for (int i = g_head[hash_key('c', r->user, command)]; i >= 0; i = g_chain[i]) {
        cron_job *j = &g_jobs[i];
        if (!is_cron(j) || g_run[i].cut || strcmp(j->user, r->user) != 0 ||
            strcmp(g_logged[i], command) != 0)
            continue;
        hit = 1;
        if (g_run[i].resolved) continue;
        g_run[i].resolved = 1;
        g_resolved++;
        if (end.pid && end.failed)
            set_last(j, r->time, "failed", end.detail, from);
        else if (end.pid && end.with_pid)
            set_last(j, r->time, "succeeded", "", from);
        else
            set_last(j, r->time, "started", end.pid ? "ended" : "", from);
    }
    return hit;
}

// Newest first: keeps an end or a failure of the job with the pid until
// its start comes.
void keep_end(int64_t pid, int failed, int with_pid, const char *detail) {
    if (pid <= 0) return;
    pending_end *e = end_slot(pid);
    if (e->pid && e->pid != pid) return;  // a newer record holds the slot
    if (e->pid == pid && !failed) return; // a failure after the end stays
    const int named = with_pid || (e->pid == pid && e->with_pid);
    e->pid = pid;
    e->failed = failed;
    e->with_pid = named;
    str_set(e->detail, detail);
}

// Newest first: one of cron's records; ends and failures are kept by pid,
// a start takes the one of its pid and settles its jobs.
int cron_newest(const hist_record *r, const char *from) {
    if (r->kind == HIST_CRON_ERROR) {
        keep_end(r->job_pid, 1, 1, r->detail);
        return 1;
    }
    int64_t pid = 0;
    const char *rest = bracket_pid(r->command, &pid);
    if (r->kind == HIST_CRON_END) {
        if (rest)
            keep_end(pid, 0, 1, "");
        else
            keep_end(r->pid, 0, 0, "");
        return 1;
    }
    if (r->kind != HIST_CRON_CMD) return 0;
    if (rest && cron_start_newest(r, rest, pid, from)) return 1;
    return cron_start_newest(r, r->command, r->pid, from);
}

} // namespace

int history_apply_newest(const hist_record *r, const char *from) {
    if (r->kind >= HIST_UNIT_STARTING && r->kind <= HIST_UNIT_EXIT) return unit_newest(r, from);
    return cron_newest(r, from);
}

int history_unresolved(void) {
    return g_indexed - g_resolved;
}

void history_finish_newest(const char *from) {
    for (int i = 0; i < g_job_count; i++)
        if (is_timer(&g_jobs[i]) && !g_run[i].resolved && g_run[i].pending_seen)
            resolve(i, g_run[i].pending_time, from);
}

// ---- Stamps, anacron and the Task Scheduler -----------------------------

#ifndef _WIN32
namespace {

// A Persistent= timer's stamp file: its modification time is the timer's
// last trigger.
void timer_stamp(cron_job *j) {
    char path[512];
    char rel[400];
    str_set(rel, k_timer_stamps);
    str_append(rel, sizeof rel, "/stamp-");
    if (str_append(rel, sizeof rel, j->timer)) return;
    if (!root_path(rel, path, sizeof path)) return;
    plat_file_info info;
    if (!plat_stat(path, &info) || info.kind != PLAT_REGULAR || info.mtime <= 0) return;
    set_last(j, info.mtime, "started", "", "timer stamp");
}

// The scripts of the run-parts folders anacron runs: the date anacron wrote
// in its spool file of that folder (YYYYMMDD, local), taken as the day's
// start.
void anacron_date(cron_job *j) {
    static const char *const k_folders[] = {"/etc/cron.daily", "/etc/cron.weekly",
                                            "/etc/cron.monthly", nullptr};
    const char *name = nullptr;
    for (int i = 0; k_folders[i]; i++)
        if (strcmp(j->source, k_folders[i]) == 0) name = k_folders[i] + 5;
    if (!name) return;
    char rel[300], path[512];
    str_set(rel, k_anacron_spool);
    str_append(rel, sizeof rel, "/");
    str_append(rel, sizeof rel, name);
    if (!root_path(rel, path, sizeof path)) return;
    int h = plat_open_read(path);
    if (h < 0) return;
    char text[16];
    int64_t n = plat_read(h, text, sizeof text - 1);
    plat_close(h);
    if (n < 8) return;
    for (int i = 0; i < 8; i++)
        if (text[i] < '0' || text[i] > '9') return;
    if (n > 8 && text[8] != '\n') return;
    struct tm tm {};
    tm.tm_year = (text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 +
                 (text[3] - '0') - 1900;
    tm.tm_mon = (text[4] - '0') * 10 + (text[5] - '0') - 1;
    tm.tm_mday = (text[6] - '0') * 10 + (text[7] - '0');
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31) return;
    int64_t t = plat_mktime(&tm, 0);
    if (t <= 0) return;
    set_last(j, t, "started", "", "anacron");
}

} // namespace
#endif

int history_task(cron_job *job, const char *task_path) {
    int64_t when = 0;
    uint32_t result = 0;
    if (!plat_task_last_run(task_path, &when, &result)) return 0;
    static const char k_hex[] = "0123456789abcdef";
    if (result == 0) {
        set_last(job, when, "succeeded", "", "Task Scheduler");
    } else if (result == 0x41301u) {
        set_last(job, when, "running", "", "Task Scheduler");
    } else if (result == 0x41303u) {
        return 0; // the task has not run yet
    } else {
        char detail[24] = "result 0x";
        char digits[9];
        int k = 0;
        uint32_t v = result;
        do {
            digits[k++] = k_hex[v & 15];
            v >>= 4;
        } while (v);
        size_t n = strlen(detail);
        for (int i = 0; i < k; i++) detail[n++] = digits[k - 1 - i];
        detail[n] = 0;
        set_last(job, when, "failed", detail, "Task Scheduler");
    }
    return 1;
}

void read_history(int64_t now) {
    history_begin();
#ifdef _WIN32
    (void)now;
    // A task's command starts with its path, up to ": ".
    for (int i = 0; i < g_job_count; i++) {
        cron_job *j = &g_jobs[i];
        if (strcmp(j->source, "Task Scheduler") != 0) continue;
        char path[512];
        str_set(path, j->command);
        char *colon = strstr(path, ": ");
        if (colon) *colon = 0;
        history_task(j, path);
    }
#else
    if (read_journal(now) <= 0) read_text_logs(now);
    for (int i = 0; i < g_job_count; i++) {
        cron_job *j = &g_jobs[i];
        if (j->last_from[0]) continue;
        if (is_timer(j) && j->timer[0])
            timer_stamp(j);
        else
            anacron_date(j);
    }
#endif
}
