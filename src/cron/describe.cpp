#include <stdio.h>
#include <string.h>

#include "cron/cron.h"
#include "util/str.h"

namespace {

enum { DESC_CAP = CRON_DESCRIPTION_CAP, CLAUSE_CAP = 128, WEEKDAY_CAP = 96, HOURLIST_CAP = 256 };

// What the time-of-day rules look at, gathered once.
struct facts {
    const cron_expr *ce;
    int m_count, h_count;
    int minute_step, hour_step; // "*/N" texts
    int minute_n, hour_n;       // N of those texts
    int minute_comma, hour_comma;
    int hours_in_one_run; // the selected hours are one unbroken stretch
};

int count(const unsigned char *t, int from, int to) {
    int n = 0;
    for (int i = from; i <= to; i++) n += t[i];
    return n;
}

int first_set(const unsigned char *t, int from, int to) {
    for (int i = from; i <= to; i++)
        if (t[i]) return i;
    return from;
}

int last_set(const unsigned char *t, int from, int to) {
    for (int i = to; i >= from; i--)
        if (t[i]) return i;
    return to;
}

void appendf_int(char *buf, size_t cap, const char *sep, int v) {
    char item[8];
    snprintf(item, sizeof item, "%s%d", sep, v);
    str_append(buf, cap, item);
}

// Appends the selected values from..to as numbers, separated by sep.
void append_numbers(char *buf, size_t cap, const unsigned char *t, int from, int to,
                    const char *sep) {
    const char *s = "";
    for (int i = from; i <= to; i++)
        if (t[i]) {
            appendf_int(buf, cap, s, i);
            s = sep;
        }
}

void append_names(char *buf, size_t cap, const unsigned char *t, int from, int to,
                  const char *const *names, int index_base) {
    const char *s = "";
    for (int i = from; i <= to; i++)
        if (t[i]) {
            str_append(buf, cap, s);
            str_append(buf, cap, names[i - index_base]);
            s = ", ";
        }
}

// Time-of-day rules, tried in order; each writes the phrase and returns 1 when
// it applies.
typedef int (*time_rule)(const facts &f, char *out);

int rule_every_minute(const facts &f, char *out) {
    if (f.m_count != 60 || f.h_count != 24) return 0;
    str_copy(out, DESC_CAP, "Every minute");
    return 1;
}

// A step wider than the field ("*/90") selects its first value only, and
// "every 90 minutes" would be false.
int minute_step_fits(const facts &f) {
    return f.minute_step && !f.minute_comma && f.minute_n <= 60;
}

int rule_minute_step(const facts &f, char *out) {
    if (!minute_step_fits(f) || f.h_count != 24) return 0;
    if (f.minute_n == 1)
        str_copy(out, DESC_CAP, "Every minute");
    else
        snprintf(out, DESC_CAP, "Every %d minutes", f.minute_n);
    return 1;
}

int rule_every_hour(const facts &f, char *out) {
    if (f.h_count != 24 || f.ce->field_text[1][0] != '*') return 0;
    if (f.m_count > 6) {
        snprintf(out, DESC_CAP, "Every hour at %d selected minutes", f.m_count);
    } else {
        str_copy(out, DESC_CAP, "Every hour at minute ");
        append_numbers(out, DESC_CAP, f.ce->minutes, 0, 59, " and ");
    }
    return 1;
}

int rule_hour_step(const facts &f, char *out) {
    int minute = first_set(f.ce->minutes, 0, 59);
    // Minute 0 is left to the hour list, which names the hours exactly.
    // "*/3,1" also runs at 01:05, and "*/30" only at 00:05.
    if (!f.hour_step || f.hour_comma || f.hour_n > 24 || f.m_count != 1 || minute == 0) return 0;
    if (f.ce->dom_restricted || f.ce->dow_restricted) return 0;
    snprintf(out, DESC_CAP, "Every %d hours at minute %d", f.hour_n, minute);
    return 1;
}

int rule_minute_step_between(const facts &f, char *out) {
    // "between 09:00 and 17:59" is only true when no hour in between is left out.
    if (!minute_step_fits(f) || f.minute_n <= 0 || f.h_count < 2 || !f.hours_in_one_run) return 0;
    snprintf(out, DESC_CAP, "Every %d minutes, between %02d:00 and %02d:59", f.minute_n,
             first_set(f.ce->hours, 0, 23), last_set(f.ce->hours, 0, 23));
    return 1;
}

int rule_single_time(const facts &f, char *out) {
    if (f.m_count != 1 || f.h_count != 1) return 0;
    snprintf(out, DESC_CAP, "At %02d:%02d", first_set(f.ce->hours, 0, 23),
             first_set(f.ce->minutes, 0, 59));
    return 1;
}

int rule_few_times(const facts &f, char *out) {
    if (f.m_count * f.h_count > 6) return 0;
    str_copy(out, DESC_CAP, "At ");
    const char *sep = "";
    for (int h = 0; h < 24; h++) {
        if (!f.ce->hours[h]) continue;
        for (int m = 0; m < 60; m++) {
            if (!f.ce->minutes[m]) continue;
            char item[8];
            snprintf(item, sizeof item, "%s%02d:%02d", sep, h, m);
            str_append(out, DESC_CAP, item);
            sep = ", ";
        }
    }
    return 1;
}

int rule_times_a_day(const facts &f, char *out) {
    if (f.h_count != 24 && f.m_count == 1) return 0;
    snprintf(out, DESC_CAP, "At %d times a day", f.m_count * f.h_count);
    return 1;
}

int rule_hour_list(const facts &f, char *out) {
    char phrase[HOURLIST_CAP];
    snprintf(phrase, sizeof phrase, "At minute %d past hour%s ", first_set(f.ce->minutes, 0, 59),
             "s");
    append_numbers(phrase, sizeof phrase, f.ce->hours, 0, 23, ", ");
    str_copy(out, DESC_CAP, phrase);
    return 1;
}

const time_rule k_time_rules[] = {
    rule_every_minute, rule_minute_step, rule_every_hour,  rule_hour_step, rule_minute_step_between,
    rule_single_time,  rule_few_times,   rule_times_a_day, rule_hour_list,
};

// The date clause: the months ("in March"), then the weekdays and the days of
// the month when either is restricted ("on Monday or day 1 of the month").
// Writes into clause (capacity CLAUSE_CAP, holding "").
void build_clause(const cron_expr *ce, char *clause) {
    int months = count(ce->months, 1, 12);
    if (months == 1) {
        str_append(clause, CLAUSE_CAP, "in ");
        str_append(clause, CLAUSE_CAP, k_mon_long[first_set(ce->months, 1, 12) - 1]);
    } else if (months < 12) {
        str_append(clause, CLAUSE_CAP, "in ");
        append_names(clause, CLAUSE_CAP, ce->months, 1, 12, k_mon_long, 1);
    }
    if (!ce->dom_restricted && !ce->dow_restricted) return;
    if (clause[0]) str_append(clause, CLAUSE_CAP, " ");

    int days = count(ce->days_of_month, 1, 31);
    int day = first_set(ce->days_of_month, 1, 31);
    if (ce->dow_restricted) {
        char weekdays[WEEKDAY_CAP] = "on ";
        append_names(weekdays, sizeof weekdays, ce->days_of_week, 0, 6, k_dow_long, 0);
        str_append(clause, CLAUSE_CAP, weekdays);
        if (!ce->dom_restricted) return;
        if (days == 1) {
            char piece[32];
            snprintf(piece, sizeof piece, " or day %d of the month", day);
            str_append(clause, CLAUSE_CAP, piece);
        } else {
            str_append(clause, CLAUSE_CAP, " or on selected days of the month");
        }
        return;
    }
    if (days == 1) {
        char piece[32];
        snprintf(piece, sizeof piece, "on day %d of the month", day);
        str_append(clause, CLAUSE_CAP, piece);
    } else if (ce->field_step[2] && !ce->field_list[2]) {
        // With a list ("*/10,5") the step alone would leave days out.
        char piece[48];
        snprintf(piece, sizeof piece, "every %d days of the month", (int)ce->field_step[2]);
        str_append(clause, CLAUSE_CAP, piece);
    } else {
        str_append(clause, CLAUSE_CAP, "on days ");
        append_numbers(clause, CLAUSE_CAP, ce->days_of_month, 1, 31, ", ");
        str_append(clause, CLAUSE_CAP, " of the month");
    }
}

} // namespace

// A keyword's fixed text; else the first time-of-day rule that applies, then
// the date clause, or ", every day" after a clock time.
void cron_describe(const cron_expr *ce, char *out) {
    out[0] = 0;
    if (ce->keyword[0]) {
        const cron_keyword *k = cron_keyword_find(ce->keyword);
        str_copy(out, DESC_CAP, k ? k->description : "Custom schedule");
        return;
    }

    facts f;
    f.ce = ce;
    f.m_count = count(ce->minutes, 0, 59);
    f.h_count = count(ce->hours, 0, 23);
    f.minute_step = ce->field_step[0] != 0;
    f.hour_step = ce->field_step[1] != 0;
    f.minute_n = ce->field_step[0];
    f.hour_n = ce->field_step[1];
    f.minute_comma = ce->field_list[0];
    f.hour_comma = ce->field_list[1];
    f.hours_in_one_run = last_set(ce->hours, 0, 23) - first_set(ce->hours, 0, 23) + 1 == f.h_count;
    for (time_rule rule : k_time_rules)
        if (rule(f, out)) break;

    char clause[CLAUSE_CAP] = "";
    build_clause(ce, clause);
    if (clause[0]) {
        char join[DESC_CAP];
        snprintf(join, sizeof join, "%s, %s", out, clause);
        str_copy(out, DESC_CAP, join);
    } else if (strncmp(out, "At ", 3) == 0) {
        str_append(out, DESC_CAP, ", every day");
    }
}
