#include "jobs/unit_file.h"

#include <string.h>

#include "util/str.h"

namespace {

enum { LINE_CAP = 4096 };

enum unit_section { SECTION_OTHER, SECTION_TIMER, SECTION_SERVICE };

enum key_action {
    KEY_CALENDAR,   // OnCalendar=: one more calendar, an empty one clears
    KEY_MONOTONIC,  // On...Sec=: one more "key=value", an empty one clears
    KEY_DELAY,      // RandomizedDelaySec=
    KEY_PERSISTENT, // Persistent=
    KEY_UNIT,       // Unit=
    KEY_EXEC_START, // ExecStart=: the first command counts, an empty one clears
    KEY_USER,       // User=
};

// Every key read, with its section: the keys of other sections and every
// other key are ignored, as systemd ignores what it does not know.
struct unit_key {
    int32_t section;
    const char *name;
    int32_t action;
    const char *phrase; // monotonic keys: what the span is counted from
};

const unit_key k_unit_keys[] = {
    {SECTION_TIMER, "OnCalendar", KEY_CALENDAR, nullptr},
    {SECTION_TIMER, "OnBootSec", KEY_MONOTONIC, "after boot"},
    {SECTION_TIMER, "OnStartupSec", KEY_MONOTONIC, "after the service manager starts"},
    {SECTION_TIMER, "OnActiveSec", KEY_MONOTONIC, "after the timer starts"},
    {SECTION_TIMER, "OnUnitActiveSec", KEY_MONOTONIC, "after each run"},
    {SECTION_TIMER, "OnUnitInactiveSec", KEY_MONOTONIC, "after each run ends"},
    {SECTION_TIMER, "RandomizedDelaySec", KEY_DELAY, nullptr},
    {SECTION_TIMER, "Persistent", KEY_PERSISTENT, nullptr},
    {SECTION_TIMER, "Unit", KEY_UNIT, nullptr},
    {SECTION_SERVICE, "ExecStart", KEY_EXEC_START, nullptr},
    {SECTION_SERVICE, "User", KEY_USER, nullptr},
};

// The key name of section, or null when it is not read.
const unit_key *find_key(int section, const char *name) {
    for (const unit_key &k : k_unit_keys)
        if (k.section == section && strcmp(k.name, name) == 0) return &k;
    return nullptr;
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

// An empty trigger setting resets every trigger, calendar and monotonic.
void clear_triggers(timer_unit *t) {
    t->calendar_count = 0;
    t->monotonic_count = 0;
}

// One [Timer] setting, by the action of its key.
void apply_timer_key(timer_unit *t, const unit_key *k, const char *value) {
    switch (k->action) {
    case KEY_CALENDAR:
        if (!value[0])
            clear_triggers(t);
        else if (t->calendar_count < TIMER_CALENDARS)
            str_set(t->calendars[t->calendar_count++], value);
        break;
    case KEY_MONOTONIC:
        if (!value[0]) {
            clear_triggers(t);
        } else if (t->monotonic_count < TIMER_MONOTONIC) {
            char *slot = t->monotonic[t->monotonic_count++];
            str_copy(slot, sizeof t->monotonic[0], k->name);
            str_append(slot, sizeof t->monotonic[0], "=");
            str_append(slot, sizeof t->monotonic[0], value);
        }
        break;
    case KEY_DELAY:
        str_set(t->randomized_delay, value);
        break;
    case KEY_PERSISTENT:
        t->persistent = parse_bool(value);
        break;
    case KEY_UNIT:
        str_set(t->unit, value);
        break;
    }
}

// One [Service] setting; *exec_seen tells whether a command was already kept.
void apply_service_key(service_unit *s, const unit_key *k, const char *value, int *exec_seen) {
    if (k->action == KEY_EXEC_START) {
        // An empty value clears the list; the first command after it counts.
        if (!value[0]) {
            s->exec_start[0] = 0;
            *exec_seen = 0;
        } else if (!*exec_seen) {
            str_set(s->exec_start, value);
            *exec_seen = 1;
        }
    } else if (k->action == KEY_USER) {
        str_set(s->user, value);
    }
}

// Reads the next logical line of text from *pos into line (capacity cap),
// "\"-ended lines joined by a space as systemd joins them, trailing blanks and
// CR dropped. Returns 0 when the joined line does not fit (it is skipped).
int next_unit_line(const char *text, size_t len, size_t *pos, char *line, size_t cap) {
    size_t n = 0, at = *pos;
    int fits = 1;
    for (;;) {
        const size_t start = at;
        while (at < len && text[at] != '\n') at++;
        size_t piece = at - start;
        if (at < len) at++;
        if (n + piece + 1 >= cap) {
            fits = 0;
            piece = 0;
        }
        memcpy(line + n, text + start, piece);
        n += piece;
        line[n] = 0;
        while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == ' ' || line[n - 1] == '\t'))
            line[--n] = 0;
        if (n > 0 && line[n - 1] == '\\' && at < len) {
            line[n - 1] = ' ';
            continue;
        }
        *pos = at;
        return fits;
    }
}

} // namespace

// Line by line: comments, section headers, then "key = value" in a section
// whose record was given.
void unit_apply_text(const char *text, size_t len, timer_unit *timer, service_unit *service) {
    int section = SECTION_OTHER;
    int exec_seen = service && service->exec_start[0];
    char line[LINE_CAP];
    size_t pos = 0;
    while (pos < len) {
        if (!next_unit_line(text, len, &pos, line, sizeof line)) continue;
        // Zero bytes end the line early; what follows is ignored.
        str_trim(line);
        if (!line[0] || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            section = strcmp(line, "[Timer]") == 0     ? SECTION_TIMER
                      : strcmp(line, "[Service]") == 0 ? SECTION_SERVICE
                                                       : SECTION_OTHER;
            continue;
        }
        char *eq = strchr(line, '=');
        if (!eq || section == SECTION_OTHER) continue;
        if (section == SECTION_TIMER ? !timer : !service) continue;
        *eq = 0;
        char *value = eq + 1;
        str_trim(line);
        str_trim(value);
        const unit_key *k = find_key(section, line);
        if (!k) continue;
        if (section == SECTION_TIMER)
            apply_timer_key(timer, k, value);
        else
            apply_service_key(service, k, value, &exec_seen);
    }
}

const char *unit_monotonic_phrase(const char *key) {
    const unit_key *k = find_key(SECTION_TIMER, key);
    return k && k->action == KEY_MONOTONIC ? k->phrase : nullptr;
}
