#include "api/explain.h"

#include <stdio.h>
#include <string.h>

#include "api/api.h"
#include "cron/calendar.h"
#include "cron/calendar_text.h"
#include "cron/convert.h"
#include "cron/daemon.h"
#include "util/str.h"

void write_timer_form(const cron_expr *ce, const char *text, int64_t now) {
    timer_form t;
    if (!cron_to_timer(ce, now, &t)) return;
    // A line the daemon rejects never runs there: no clock change to tell.
    if (const char *rejected = ce->keyword[0] ? nullptr : cron_daemon_rejection(text)) {
        str_set(t.note, "The node's cron rejects this line and never runs it: ");
        str_append(t.note, sizeof t.note, rejected);
        str_append(t.note, sizeof t.note, ".");
    }
    if (t.count == 0) {
        fputs(",\"systemd\":{\"on_boot_sec\":", stdout);
        json_str(t.on_boot_sec);
    } else {
        for (int i = 0; i < t.count; i++) {
            fputs(i ? "," : ",\"systemd\":{\"on_calendar\":[", stdout);
            json_str(t.on_calendar[i]);
        }
        putchar(']');
    }
    if (t.note[0]) {
        fputs(",\"note\":", stdout);
        json_str(t.note);
    }
    putchar('}');
}

namespace {

void write_calendar_invalid(const char *expr, const char *error, const char *now_utc,
                            const char *now_local) {
    fputs("{\"ok\":true,\"action\":\"explain\",\"syntax\":\"systemd\",\"expr\":", stdout);
    json_str(expr);
    fputs(",\"valid\":false,\"error\":", stdout);
    json_str(error[0] ? error : "invalid calendar expression");
    fputs(",\"normalized\":\"\",\"description\":\"\",\"next\":[],\"now_utc\":", stdout);
    json_str(now_utc);
    fputs(",\"now_local\":", stdout);
    json_str(now_local);
    fputs("}\n", stdout);
}

// The length of text without its leading and trailing blanks.
size_t trimmed_length(const char *text) {
    const char *b = text;
    while (is_space((unsigned char)*b)) b++;
    const char *e = b + strlen(b);
    while (e > b && is_space((unsigned char)e[-1])) e--;
    return (size_t)(e - b);
}

} // namespace

void explain_calendar(const char *expr, int too_long, int64_t now, const char *now_utc,
                      const char *now_local) {
    if (too_long || trimmed_length(expr) > CRON_TEXT_MAX) {
        write_calendar_invalid(expr, "expression too long", now_utc, now_local);
        return;
    }
    cal_spec cs;
    if (!cal_parse(&cs, expr)) {
        write_calendar_invalid(expr, cs.error, now_utc, now_local);
        return;
    }
    // Every value fits twice over: a field of the text never grows by more
    // than its digits' padding and six decimals.
    char normalized[4 * (CRON_TEXT_MAX + 1)];
    cal_normalized(&cs, normalized, sizeof normalized);
    char description[CRON_DESCRIPTION_CAP];
    cal_describe(&cs, description, sizeof description);
    int64_t runs[CAL_MAX_RUNS];
    const int count = cal_next_runs(&cs, now, runs);
    cron_form c;
    cal_to_cron(&cs, now, &c);

    fputs("{\"ok\":true,\"action\":\"explain\",\"syntax\":\"systemd\",\"expr\":", stdout);
    json_str(expr);
    fputs(",\"valid\":true,\"normalized\":", stdout);
    json_str(normalized);
    fputs(",\"description\":", stdout);
    json_str(description);
    fputs(",\"now_utc\":", stdout);
    json_str(now_utc);
    fputs(",\"now_local\":", stdout);
    json_str(now_local);
    fputs(",\"next\":", stdout);
    print_runs(runs, count, now);
    if (c.expressible) {
        fputs(",\"cron\":{\"expr\":", stdout);
        json_str(c.line);
        if (c.note[0]) {
            fputs(",\"note\":", stdout);
            json_str(c.note);
        }
    } else {
        fputs(",\"cron\":{\"reason\":", stdout);
        json_str(c.reason);
    }
    fputs("}}\n", stdout);
}
