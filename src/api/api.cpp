#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "api/api.h"
#include "cron/cron.h"
#include "entry/entry.h"
#include "jobs/jobs.h"
#include "util/str.h"

namespace {

// Field values shown for a keyword; "0 0 * * *" unless the row says more.
struct keyword_fields {
    const char *keyword;
    const char *values[5];
};

const keyword_fields k_keyword_fields[8] = {
    {"@reboot", {"@reboot", "@reboot", "@reboot", "@reboot", "@reboot"}},
    {"@hourly", {"0", "*", "*", "*", "*"}},
    {"@daily", {"0", "0", "*", "*", "*"}},
    {"@midnight", {"0", "0", "*", "*", "*"}},
    {"@weekly", {"0", "0", "*", "*", "0"}},
    {"@monthly", {"0", "0", "1", "*", "*"}},
    {"@yearly", {"0", "0", "1", "1", "*"}},
    {"@annually", {"0", "0", "1", "1", "*"}},
};

const char *const k_field_keys[5] = {"minute", "hour", "day_of_month", "month", "day_of_week"};

void explain(const char *query, int64_t now) {
    char expr[256];
    get_query_val(query, "expr", expr, sizeof expr);
    char now_utc[40], now_local[40];
    utc_stamp(now, now_utc);
    local_stamp(now, now_local);
    if (!expr[0]) {
        fputs("{\"ok\":false,\"error\":\"missing expr parameter\",\"valid\":false}\n", stdout);
        return;
    }

    cron_expr ce;
    if (!cron_parse(&ce, expr)) {
        fputs("{\"ok\":true,\"action\":\"explain\",\"expr\":", stdout);
        json_str(expr);
        fputs(",\"valid\":false,\"error\":", stdout);
        json_str(ce.error[0] ? ce.error : "invalid expression");
        fputs(",\"description\":\"\",\"keyword\":\"\",\"next\":[],\"now_utc\":", stdout);
        json_str(now_utc);
        fputs(",\"now_local\":", stdout);
        json_str(now_local);
        fputs("}\n", stdout);
        return;
    }

    int64_t runs[CRON_MAX_RUNS];
    int count = ce.boot_only ? 0 : cron_next_runs(&ce, now, runs);

    char normalized[256];
    char values[5][12];
    if (ce.keyword[0]) {
        str_copy(normalized, sizeof normalized, ce.keyword);
        const char *defaults[5] = {"0", "0", "*", "*", "*"};
        const char *const *src = defaults;
        for (const keyword_fields &k : k_keyword_fields)
            if (strcmp(ce.keyword, k.keyword) == 0) src = k.values;
        for (int i = 0; i < 5; i++) str_copy(values[i], sizeof values[i], src[i]);
    } else {
        snprintf(normalized, sizeof normalized, "%s %s %s %s %s", ce.field_text[0],
                 ce.field_text[1], ce.field_text[2], ce.field_text[3], ce.field_text[4]);
        for (int i = 0; i < 5; i++) str_copy(values[i], sizeof values[i], ce.field_text[i]);
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
        fputs(k_field_keys[i], stdout);
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
    fputs("}\n", stdout);
}

void jobs(int64_t now) {
    int64_t start = (int64_t)time(nullptr);
    const char *file = getenv("CRONTAB_FILE");
    jobs_reset();
    if (file && file[0])
        read_crontab_file(file, start);
    else
        read_schtasks();
#ifndef _WIN32
    if (!file || !file[0]) read_timers(k_unit_root, start);
#endif
    write_jobs_answer(now);
}

const char k_info[] =
    "{\"ok\":true,\"action\":\"info\",\"plugin\":\"zovuza_vuruvuz\",\"name\":\"crontab\","
    "\"version\":\"1.0.1\",\"desc\":\"Cron jobs\",\"read_only\":true,"
    "\"actions\":[\"jobs\",\"explain\",\"info\"],"
    "\"params\":{\"expr\":\"cron expression or @keyword; explain only\"},"
    "\"sources\":[\"CRONTAB_FILE\",\"schtasks /Query /FO CSV /NH\"],"
    "\"about\":\"Lists the jobs scheduled on this node, each with a description and its next "
    "five runs, in UTC and local\"}\n";

} // namespace

void write_jobs_answer(int64_t now) {
    char now_utc[40], now_local[40];
    utc_stamp(now, now_utc);
    local_stamp(now, now_local);
    fputs("{\"ok\":true,\"action\":\"jobs\",\"plugin\":\"zovuza_vuruvuz\",\"version\":\"1.0.1\""
          ",\"now_utc\":",
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
        fputs(i ? ",{\"source\":" : "{\"source\":", stdout);
        json_str(j.source);
        fputs(",\"kind\":", stdout);
        json_str(j.kind);
        fputs(",\"expr\":", stdout);
        json_str(j.expr);
        fputs(",\"command\":", stdout);
        json_str(j.command);
        fputs(",\"user\":", stdout);
        json_str(j.user);
        if (j.valid) {
            fputs(",\"valid\":true", stdout);
        } else {
            fputs(",\"valid\":false,\"error\":", stdout);
            json_str(j.error);
        }
        fputs(",\"description\":", stdout);
        json_str(j.description);
        fputs(",\"next\":", stdout);
        print_runs(j.next, j.next_count, now);
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
        jobs(now);
    else if (strcmp(action, "info") == 0)
        fputs(k_info, stdout);
    else
        fputs("{\"ok\":false,\"error\":\"unknown action\"}\n", stdout);
    return 0;
}
