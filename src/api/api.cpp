#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "api/api.h"
#include "api/explain.h"
#include "api/last.h"
#include "api/timeline.h"
#include "cron/cron.h"
#include "jobs/history.h"
#include "jobs/jobs.h"
#include "jobs/sources.h"
#include "util/platform.h"
#include "util/query.h"
#include "util/str.h"
#include "version.h"

namespace {

// The explain answer for an expression that cron_parse rejected, or that
// was too long to be read whole.
void write_invalid(const char *expr, const char *error, const char *now_utc,
                   const char *now_local) {
    fputs("{\"ok\":true,\"action\":\"explain\",\"expr\":", stdout);
    json_str(expr);
    fputs(",\"valid\":false,\"error\":", stdout);
    json_str(error[0] ? error : "invalid expression");
    fputs(",\"description\":\"\",\"keyword\":\"\",\"next\":[],\"now_utc\":", stdout);
    json_str(now_utc);
    fputs(",\"now_local\":", stdout);
    json_str(now_local);
    fputs("}\n", stdout);
}

// The fields of text joined by single blanks: the whole expression as
// parsed, never a display copy.
void normalize(const char *text, char *out, size_t cap) {
    size_t n = 0;
    for (const char *p = text; *p && n + 1 < cap;) {
        if (is_space((unsigned char)*p)) {
            while (is_space((unsigned char)*p)) p++;
            if (n && *p) out[n++] = ' ';
            continue;
        }
        out[n++] = *p++;
    }
    out[n] = 0;
}

// The explain answer: the expression read whole, parsed, and on success its
// description, normalized text, field values and next runs.
void explain(const char *query, int64_t now) {
    // Four times the longest expression judged: room for blanks around it.
    char expr[4 * (CRON_TEXT_MAX + 1)];
    int got = get_query_text(query, "expr", expr, sizeof expr);
    char now_utc[40], now_local[40];
    utc_stamp(now, now_utc);
    local_stamp(now, now_local);
    if (!expr[0]) {
        fputs("{\"ok\":false,\"error\":\"missing expr parameter\",\"valid\":false}\n", stdout);
        return;
    }
    // The language of expr: cron (the default) or a systemd calendar event.
    char syntax[16];
    get_query_val(query, "syntax", syntax, sizeof syntax);
    if (strcmp(syntax, "systemd") == 0) {
        explain_calendar(expr, got == 2, now, now_utc, now_local);
        return;
    }
    if (syntax[0] && strcmp(syntax, "cron") != 0) {
        fputs("{\"ok\":false,\"error\":\"unknown syntax\",\"valid\":false}\n", stdout);
        return;
    }
    if (got == 2) {
        // Only part of it could be read, and a part is not what was asked.
        write_invalid(expr, k_expr_too_long, now_utc, now_local);
        return;
    }

    cron_expr ce;
    if (!cron_parse(&ce, expr)) {
        write_invalid(expr, ce.error, now_utc, now_local);
        return;
    }

    int64_t runs[CRON_MAX_RUNS];
    int count = ce.boot_only ? 0 : cron_next_runs(&ce, now, runs);

    char normalized[CRON_TEXT_MAX + 1];
    char values[5][12];
    const cron_keyword *k = ce.keyword[0] ? cron_keyword_find(ce.keyword) : nullptr;
    if (k) {
        str_set(normalized, k->name);
        for (int i = 0; i < 5; i++) str_set(values[i], k->field_values[i]);
    } else {
        normalize(expr, normalized, sizeof normalized);
        for (int i = 0; i < 5; i++) str_set(values[i], ce.field_text[i]);
    }

    fputs("{\"ok\":true,\"action\":\"explain\",\"expr\":", stdout);
    json_str(expr);
    fputs(",\"valid\":true,\"keyword\":", stdout);
    json_str(ce.keyword);
    fputs(",\"description\":", stdout);
    json_str(ce.description);
    fputs(",\"normalized\":", stdout);
    json_str(normalized);
    for (int i = 0; i < 5; i++) {
        fputs(i ? ",\"" : ",\"fields\":{\"", stdout);
        fputs(k_cron_fields[i].key, stdout);
        fputs("\":", stdout);
        json_str(values[i]);
    }
    fputs(ce.boot_only ? "},\"boot_only\":true" : "},\"boot_only\":false", stdout);
    fputs(",\"now_utc\":", stdout);
    json_str(now_utc);
    fputs(",\"now_local\":", stdout);
    json_str(now_local);
    fputs(",\"next\":", stdout);
    print_runs(runs, count, now);
    write_timer_form(&ce, expr, now);
    fputs("}\n", stdout);
}

// The jobs answer: the table filled by the source selector, stamped with now;
// with history=1 on a live source, each job's last run too.
void jobs(int64_t now, const char *query) {
    char history[8];
    get_query_val(query, "history", history, sizeof history);
    const char *file = getenv("CRONTAB_FILE");
    g_history_asked = strcmp(history, "1") == 0 && !(file && file[0]);
    int64_t start = (int64_t)time(nullptr);
    jobs_reset();
    read_job_sources(file, start);
    if (g_history_asked) read_history(now);
    write_jobs_answer(now);
}

int g_names_written; // source names of the info answer so far

// One name of the info answer's sources list.
void write_source_name(const char *name) {
    if (g_names_written++) putchar(',');
    json_str(name);
}

// The fixed self-description, with the sources that the selector names.
void info(void) {
    fputs("{\"ok\":true,\"action\":\"info\",\"plugin\":\"zovuza_vuruvuz\",\"name\":\"crontab\","
          "\"version\":\"" ZV_VERSION "\",\"desc\":\"Cron jobs\",\"read_only\":true,"
          "\"actions\":[\"jobs\",\"explain\",\"info\"],"
          "\"params\":{\"expr\":\"cron expression or @keyword; explain only\"},\"sources\":[",
          stdout);
    g_names_written = 0;
    job_source_names(write_source_name);
    fputs("],\"about\":\"Lists the jobs scheduled on this node, each with a description and "
          "its next five runs, in UTC and local\"}\n",
          stdout);
}

} // namespace

void write_job_fields(const cron_job *j) {
    fputs("\"source\":", stdout);
    json_str(j->source);
    fputs(",\"kind\":", stdout);
    json_str(j->kind);
    fputs(",\"expr\":", stdout);
    json_str(j->expr);
    fputs(",\"command\":", stdout);
    json_str(j->command);
    fputs(",\"user\":", stdout);
    json_str(j->user);
    if (j->valid) {
        fputs(",\"valid\":true", stdout);
    } else {
        fputs(",\"valid\":false,\"error\":", stdout);
        json_str(j->error);
    }
    fputs(",\"description\":", stdout);
    json_str(j->description);
}

// Streamed from the table: the header fields, the source names, then one
// object per job in table order.
void write_jobs_answer(int64_t now) {
    // About a kilobyte per job: a few dozen fill the output buffer.
    if (g_job_count >= 32) plat_stdout_expect_long();
    char now_utc[40], now_local[40];
    utc_stamp(now, now_utc);
    local_stamp(now, now_local);
    fputs("{\"ok\":true,\"action\":\"jobs\",\"plugin\":\"zovuza_vuruvuz\",\"version\":\"" ZV_VERSION
          "\",\"now_utc\":",
          stdout);
    json_str(now_utc);
    fputs(",\"now_local\":", stdout);
    json_str(now_local);
    printf(",\"count\":%d,\"truncated\":%s,\"sources\":[", (int)g_job_count,
           g_truncated ? "true" : "false");
    for (int i = 0; i < g_source_count; i++) {
        if (i) putchar(',');
        json_str(g_sources[i]);
    }
    fputs("],\"jobs\":[", stdout);
    for (int i = 0; i < g_job_count; i++) {
        const cron_job &j = g_jobs[i];
        fputs(i ? ",{" : "{", stdout);
        write_job_fields(&j);
        fputs(",\"next\":", stdout);
        print_runs(j.next, j.next_count, now);
        if (g_history_asked) write_last(&j, now);
        write_job_warnings(&j);
        putchar('}');
    }
    fputs("]}\n", stdout);
}

int mode_json(const char *query) {
    const int64_t now = (int64_t)time(nullptr);
    char action[64];
    get_query_val(query, "action", action, sizeof action);
    json_header();
    if (strcmp(action, "explain") == 0)
        explain(query, now);
    else if (!action[0] || strcmp(action, "jobs") == 0 || strcmp(action, "list") == 0)
        jobs(now, query);
    else if (strcmp(action, "timeline") == 0)
        timeline_answer(query, now);
    else if (strcmp(action, "info") == 0)
        info();
    else
        fputs("{\"ok\":false,\"error\":\"unknown action\"}\n", stdout);
    return 0;
}
