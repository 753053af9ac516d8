// The journal's records of runs, read through journalctl's export output.
#include "jobs/journal.h"

#include <string.h>

#include "jobs/paths.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

enum field_index {
    F_TIME = 0, // __REALTIME_TIMESTAMP, microseconds since 1970 UTC
    F_PID,
    F_UID,
    F_COMM,
    F_MESSAGE_ID,
    F_UNIT,
    F_MESSAGE,
    F_UNIT_RESULT,
    F_EXIT_CODE,
    F_EXIT_STATUS,
};

const char *const k_field_names[JOURNAL_FIELDS] = {
    "__REALTIME_TIMESTAMP", "_PID",      "_UID",        "_COMM", "MESSAGE_ID", "UNIT", "MESSAGE",
    "UNIT_RESULT",          "EXIT_CODE", "EXIT_STATUS",
};

enum parse_state { S_NAME = 0, S_VALUE, S_BIN_LEN, S_BIN_DATA, S_BIN_END };

// The kept field of that name, or -1.
int field_of(const char *name, int32_t len) {
    if (len <= 0) return -1;
    for (int i = 0; i < JOURNAL_FIELDS; i++)
        if ((size_t)len == strlen(k_field_names[i]) && memcmp(name, k_field_names[i], len) == 0)
            return i;
    return -1;
}

// True when the field was seen once and equals text.
int field_is(const journal_parser *p, int f, const char *text) {
    size_t n = strlen(text);
    return p->seen[f] == 1 && p->lengths[f] == n && memcmp(p->fields[f], text, n) == 0;
}

// The field as a decimal number of at most 18 digits; 0 when it is none.
int field_number(const journal_parser *p, int f, int64_t *out) {
    if (p->seen[f] != 1 || p->lengths[f] == 0 || p->lengths[f] > 18) return 0;
    int64_t v = 0;
    for (size_t i = 0; i < p->lengths[f]; i++) {
        char c = p->fields[f][i];
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return 1;
}

// Copies a field seen once, with no zero byte in it, into out (capacity
// cap). Returns 0 when it is absent, spoilt or too long.
int field_text(const journal_parser *p, int f, char *out, size_t cap) {
    if (p->seen[f] != 1 || p->lengths[f] >= cap || memchr(p->fields[f], 0, p->lengths[f])) return 0;
    memcpy(out, p->fields[f], p->lengths[f]);
    out[p->lengths[f]] = 0;
    return 1;
}

hist_record g_record;

// Turns the fields of the record just ended into a hist_record, when the
// trusted fields vouch for its writer; returns 0 otherwise.
int make_record(const journal_parser *p, hist_record *r) {
    int64_t usec, pid, uid;
    if (!field_number(p, F_TIME, &usec) || !field_number(p, F_PID, &pid) ||
        !field_number(p, F_UID, &uid) || uid != 0)
        return 0;
    r->time = usec / 1000000;
    r->pid = pid;
    r->job_pid = 0;
    r->unit[0] = r->user[0] = r->command[0] = r->detail[0] = r->result[0] = 0;
    r->exit_code = 0;
    r->exit_status = 0;
    if (p->seen[F_MESSAGE_ID]) {
        int kind = p->seen[F_MESSAGE_ID] == 1
                       ? hist_message_kind(p->fields[F_MESSAGE_ID], p->lengths[F_MESSAGE_ID])
                       : HIST_NONE;
        // A unit record that names no unit is no job's.
        if (kind == HIST_NONE || pid != 1 || !field_text(p, F_UNIT, r->unit, sizeof r->unit) ||
            !r->unit[0])
            return 0;
        r->kind = kind;
        if (kind == HIST_UNIT_FAILED) field_text(p, F_UNIT_RESULT, r->result, sizeof r->result);
        if (kind == HIST_UNIT_EXIT) {
            int64_t status;
            if (field_is(p, F_EXIT_CODE, "exited"))
                r->exit_code = HIST_EXITED;
            else if (field_is(p, F_EXIT_CODE, "killed"))
                r->exit_code = HIST_KILLED;
            else if (field_is(p, F_EXIT_CODE, "dumped"))
                r->exit_code = HIST_DUMPED;
            if (field_number(p, F_EXIT_STATUS, &status) && status < 100000)
                r->exit_status = (int32_t)status;
            else
                r->exit_code = 0;
        }
        return 1;
    }
    if (!field_is(p, F_COMM, "cron") && !field_is(p, F_COMM, "crond")) return 0;
    if (p->seen[F_MESSAGE] != 1 || memchr(p->fields[F_MESSAGE], 0, p->lengths[F_MESSAGE])) return 0;
    return hist_cron_message(p->fields[F_MESSAGE], p->lengths[F_MESSAGE], r);
}

// An empty line: the record ends, is passed on when vouched for, and the
// kept fields are cleared for the next.
void end_record(journal_parser *p, void (*emit)(const hist_record *, void *), void *ctx) {
    if (p->any) {
        p->records++;
        if (make_record(p, &g_record)) {
            p->vouched++;
            emit(&g_record, ctx);
        }
    }
    for (int i = 0; i < JOURNAL_FIELDS; i++) {
        p->seen[i] = 0;
        p->lengths[i] = 0;
    }
    p->any = 0;
}

// A field name has ended: decides whether its value is kept.
void start_value(journal_parser *p) {
    p->any = 1;
    p->field = p->name_len < 0 ? -1 : field_of(p->name, p->name_len);
    if (p->field >= 0) {
        if (p->seen[p->field]) {
            p->seen[p->field] = 2; // twice: neither value is trusted
            p->field = -1;
        } else {
            p->seen[p->field] = 1;
            p->lengths[p->field] = 0;
        }
    }
}

// Adds bytes of the current value to its kept field; a value that does not
// fit spoils the field.
void value_bytes(journal_parser *p, const char *s, size_t n) {
    if (p->field < 0) return;
    size_t room = JOURNAL_FIELD_CAP - p->lengths[p->field];
    if (n > room) {
        p->seen[p->field] = 2; // cut: spoilt
        p->field = -1;
        return;
    }
    memcpy(p->fields[p->field] + p->lengths[p->field], s, n);
    p->lengths[p->field] += n;
}

} // namespace

void journal_parser_init(journal_parser *p) {
    p->state = S_NAME;
    p->name_len = 0;
    p->field = -1;
    p->any = 0;
    p->records = 0;
    p->vouched = 0;
    for (int i = 0; i < JOURNAL_FIELDS; i++) {
        p->seen[i] = 0;
        p->lengths[i] = 0;
    }
}

void journal_feed(journal_parser *p, const char *data, size_t n,
                  void (*emit)(const hist_record *r, void *ctx), void *ctx) {
    size_t i = 0;
    while (i < n) {
        switch (p->state) {
        case S_NAME: {
            char c = data[i++];
            if (c == '\n') {
                if (p->name_len == 0) {
                    end_record(p, emit, ctx);
                } else {
                    // A name alone on its line: a binary value follows.
                    start_value(p);
                    p->state = S_BIN_LEN;
                    p->len_got = 0;
                }
            } else if (c == '=') {
                start_value(p);
                p->state = S_VALUE;
            } else if (p->name_len >= 0) {
                if (p->name_len < (int32_t)sizeof p->name)
                    p->name[p->name_len++] = c;
                else
                    p->name_len = -1;
            }
            break;
        }
        case S_VALUE: {
            const char *lf = (const char *)memchr(data + i, '\n', n - i);
            size_t len = lf ? (size_t)(lf - (data + i)) : n - i;
            value_bytes(p, data + i, len);
            i += len;
            if (lf) {
                i++;
                p->state = S_NAME;
                p->name_len = 0;
            }
            break;
        }
        case S_BIN_LEN:
            p->len_bytes[p->len_got++] = (uint8_t)data[i++];
            if (p->len_got == 8) {
                p->bin_left = 0;
                for (int k = 7; k >= 0; k--) p->bin_left = (p->bin_left << 8) | p->len_bytes[k];
                p->state = p->bin_left ? S_BIN_DATA : S_BIN_END;
            }
            break;
        case S_BIN_DATA: {
            size_t len = n - i;
            if ((uint64_t)len > p->bin_left) len = (size_t)p->bin_left;
            value_bytes(p, data + i, len);
            i += len;
            p->bin_left -= len;
            if (!p->bin_left) p->state = S_BIN_END;
            break;
        }
        case S_BIN_END:
            // The LF after the value; anything else breaks the record.
            if (data[i++] != '\n' && p->field >= 0) p->seen[p->field] = 2;
            p->state = S_NAME;
            p->name_len = 0;
            break;
        }
    }
}

void journal_finish(journal_parser *p) {
    journal_parser_init(p);
}

// ---- journalctl ------------------------------------------------------------

namespace {

journal_parser g_parser;
char g_units[JOB_CAPACITY][262]; // "UNIT=" and a timer's service
const char *g_argv[32 + JOB_CAPACITY];
char g_read_buf[1 << 16];

// Each vouched record, newest first, goes to the matching.
void apply_record(const hist_record *r, void *) {
    history_apply_newest(r, "journal");
}

// Writes "--since=@" and the time into out.
void since_arg(int64_t since, char *out, size_t cap) {
    char digits[24];
    int k = 0;
    int64_t v = since < 0 ? 0 : since;
    do {
        digits[k++] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    str_copy(out, cap, "--since=@");
    size_t n = strlen(out);
    for (int i = k - 1; i >= 0 && n + 1 < cap; i--) out[n++] = digits[i];
    out[n] = 0;
}

} // namespace

int64_t read_journal(int64_t now) {
    int timers = 0, crons = 0, argc = 0;
    static char since[40], directory[600];
    g_argv[argc++] = k_journalctl;
    if (k_journal_dir[0]) {
        char dir[512];
        if (!root_path(k_journal_dir, dir, sizeof dir)) return -1;
        str_set(directory, "--directory=");
        str_append(directory, sizeof directory, dir);
        g_argv[argc++] = directory;
    }
    since_arg(now - (int64_t)HIST_DAYS * 86400, since, sizeof since);
    g_argv[argc++] = "--output=export";
    g_argv[argc++] = "--no-pager";
    g_argv[argc++] = "--quiet";
    g_argv[argc++] = "--reverse";
    g_argv[argc++] = since;
    g_argv[argc++] = "--output-fields=_PID,_UID,_COMM,MESSAGE_ID,UNIT,MESSAGE,UNIT_RESULT,"
                     "EXIT_CODE,EXIT_STATUS";
    // One disjunction per writer: systemd about the timers' services, and
    // each cron daemon.
    for (int i = 0; i < g_job_count; i++) {
        const cron_job *j = &g_jobs[i];
        if (strcmp(j->kind, "timer") == 0 && j->unit[0]) {
            if (!timers) {
                g_argv[argc++] = "_PID=1";
                g_argv[argc++] = "_UID=0";
                for (int k = 0; k_hist_message_ids[k]; k++) {
                    static char ids[8][48];
                    str_set(ids[k], "MESSAGE_ID=");
                    str_append(ids[k], sizeof ids[k], k_hist_message_ids[k]);
                    g_argv[argc++] = ids[k];
                }
            }
            str_set(g_units[timers], "UNIT=");
            str_append(g_units[timers], sizeof g_units[timers], j->unit);
            g_argv[argc++] = g_units[timers++];
        } else if (strcmp(j->kind, "cron") == 0) {
            crons++;
        }
    }
    if (crons) {
        static const char *const k_cron_terms[] = {"+",           "_COMM=cron", "_UID=0", "+",
                                                   "_COMM=crond", "_UID=0",     nullptr};
        for (int k = timers ? 0 : 1; k_cron_terms[k]; k++) g_argv[argc++] = k_cron_terms[k];
    }
    if (!timers && !crons) return 0;
    g_argv[argc] = nullptr;

    static plat_child child;
    if (!plat_child_start(&child, g_argv, k_child_timeout_ms)) return -1;
    journal_parser_init(&g_parser);
    for (;;) {
        int64_t n = plat_child_read(&child, g_read_buf, sizeof g_read_buf);
        if (n <= 0) break;
        journal_feed(&g_parser, g_read_buf, (size_t)n, apply_record, nullptr);
        if (!history_unresolved()) break; // older records change nothing
    }
    plat_child_end(&child);
    history_finish_newest("journal");
    int64_t records = g_parser.vouched;
    journal_finish(&g_parser);
    return records;
}
