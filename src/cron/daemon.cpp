#include "cron/daemon.h"

#include <stdio.h>
#include <string.h>

#include "util/str.h"

namespace {

// The daemon counts a field as unrestricted, or a job as following the
// clock, by the first character of the field as written.
int starts_with_star(const char *text) {
    return text[0] == '*';
}

} // namespace

void cron_daemon_flags(const cron_expr *ce, cron_daemon *out) {
    if (ce->keyword[0]) {
        out->wildcard = strcmp(ce->keyword, "@hourly") == 0;
        out->dom_star = !ce->dom_restricted;
        out->dow_star = !ce->dow_restricted;
    } else {
        out->wildcard = starts_with_star(ce->field_text[0]) || starts_with_star(ce->field_text[1]);
        out->dom_star = starts_with_star(ce->field_text[2]);
        out->dow_star = starts_with_star(ce->field_text[4]);
    }
}

int cron_daemon_day_matches(const cron_expr *ce, const cron_daemon *dm, int mday, int wday) {
    const int dom = ce->days_of_month[mday], dow = ce->days_of_week[wday];
    if (dm->dom_star || dm->dow_star) return dom && dow;
    return dom || dow;
}

// Debian's cron reads a step only after "*" or a range: a single value with a
// step makes it reject the whole line.
const char *cron_daemon_rejection(const char *schedule) {
    for (const char *item = schedule; *item;) {
        const char *end = item;
        while (*end && *end != ',' && !is_space((unsigned char)*end)) end++;
        const char *slash = (const char *)memchr(item, '/', (size_t)(end - item));
        if (slash && item[0] != '*' && !memchr(item, '-', (size_t)(slash - item)))
            return "step after a single value, which cron rejects (write a range, as 5-59/10)";
        item = *end ? end + 1 : end;
    }
    return nullptr;
}

// With neither day field written "*..." either one matching is enough, so a
// field that selects every day ("1-31") makes the job run daily; with one of
// them written "*..." both must match, which the general description does
// not say: the weekdays are described, and the days of the month added.
void cron_daemon_describe(const cron_expr *ce, char out[CRON_DESCRIPTION_CAP]) {
    const size_t cap = CRON_DESCRIPTION_CAP;
    if (ce->keyword[0]) return;
    cron_daemon dm;
    cron_daemon_flags(ce, &dm);
    const int either = !dm.dom_star && !dm.dow_star;
    if (either && ce->dom_restricted != ce->dow_restricted) {
        cron_expr daily = *ce;
        daily.dom_restricted = daily.dow_restricted = 0;
        memset(daily.days_of_month + 1, 1, 31);
        memset(daily.days_of_week, 1, 7);
        cron_describe(&daily, out);
        return;
    }
    if (either || !ce->dom_restricted || !ce->dow_restricted) return;
    cron_expr weekdays = *ce;
    weekdays.dom_restricted = 0;
    memset(weekdays.days_of_month + 1, 1, 31);
    cron_describe(&weekdays, out);
    int days = 0;
    for (int d = 1; d <= 31; d++) days += ce->days_of_month[d];
    str_append(out, cap, days == 1 ? ", if it is day " : ", if it is one of days ");
    const char *sep = "";
    for (int d = 1; d <= 31; d++) {
        if (!ce->days_of_month[d]) continue;
        char item[8];
        snprintf(item, sizeof item, "%s%d", sep, d);
        str_append(out, cap, item);
        sep = ", ";
    }
    str_append(out, cap, " of the month");
}

const char *cron_name_rejection(const char *name) {
    for (const char *p = name; *p; p++)
        if (!is_alnum((unsigned char)*p) && *p != '_' && *p != '-')
            return *p == '.' ? "name contains a dot"
                             : "name contains a character other than letters, digits, _ and -";
    return nullptr;
}
