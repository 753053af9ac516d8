// cron's text logs, read from their ends.
#include "jobs/syslog.h"

#include <string.h>
#include <time.h>

#include "jobs/paths.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

const char k_months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

// Reads exactly width digits at p into *v.
int digits(const char *p, const char *end, int width, int *v) {
    if (end - p < width) return 0;
    int x = 0;
    for (int i = 0; i < width; i++) {
        if (p[i] < '0' || p[i] > '9') return 0;
        x = x * 10 + (p[i] - '0');
    }
    *v = x;
    return 1;
}

// "HH:MM:SS" at p into tm.
int clock_time(const char *p, const char *end, struct tm *tm) {
    if (end - p < 8 || p[2] != ':' || p[5] != ':') return 0;
    return digits(p, end, 2, &tm->tm_hour) && digits(p + 3, end, 2, &tm->tm_min) &&
           digits(p + 6, end, 2, &tm->tm_sec) && tm->tm_hour < 24 && tm->tm_min < 60 &&
           tm->tm_sec <= 60;
}

// "Dec 10 12:46:01" or "Dec  1 02:03:04": local time in a year chosen by
// now. Moves *p past the stamp.
int traditional_stamp(const char **pp, const char *end, int64_t now, int64_t *t) {
    const char *p = *pp;
    if (end - p < 15 || p[3] != ' ') return 0;
    int mon = -1;
    for (int i = 0; i < 12; i++)
        if (memcmp(p, k_months + 3 * i, 3) == 0) mon = i;
    if (mon < 0) return 0;
    struct tm tm {};
    int day;
    if (p[4] == ' ') {
        if (!digits(p + 5, end, 1, &day)) return 0;
    } else if (!digits(p + 4, end, 2, &day)) {
        return 0;
    }
    if (day < 1 || day > 31 || p[6] != ' ' || !clock_time(p + 7, end, &tm)) return 0;
    struct tm now_tm;
    if (!plat_localtime(now, &now_tm)) return 0;
    for (int back = 0; back < 2; back++) {
        struct tm try_tm = tm;
        try_tm.tm_year = now_tm.tm_year - back;
        try_tm.tm_mon = mon;
        try_tm.tm_mday = day;
        try_tm.tm_isdst = -1;
        int64_t v = plat_mktime(&try_tm, 0);
        if (v == -1) return 0;
        // A stamp more than a day ahead of now is of the year before.
        if (v <= now + 86400 || back == 1) {
            *t = v;
            break;
        }
    }
    *pp = p + 15;
    return 1;
}

// "2026-12-10T12:46:01", an optional fraction, then "Z" or "+01:00".
int iso_stamp(const char **pp, const char *end, int64_t *t) {
    const char *p = *pp;
    struct tm tm {};
    int year, mon, day;
    if (end - p < 20 || p[4] != '-' || p[7] != '-' || p[10] != 'T') return 0;
    if (!digits(p, end, 4, &year) || !digits(p + 5, end, 2, &mon) || !digits(p + 8, end, 2, &day) ||
        !clock_time(p + 11, end, &tm))
        return 0;
    if (mon < 1 || mon > 12 || day < 1 || day > 31 || year < 1970) return 0;
    p += 19;
    if (p < end && *p == '.') {
        p++;
        int n = 0;
        while (p < end && *p >= '0' && *p <= '9' && n < 9) p++, n++;
        if (!n) return 0;
    }
    int offset = 0;
    if (p < end && *p == 'Z') {
        p++;
    } else if (p < end && (*p == '+' || *p == '-')) {
        int oh, om;
        if (end - p < 6 || p[3] != ':' || !digits(p + 1, end, 2, &oh) ||
            !digits(p + 4, end, 2, &om) || oh > 23 || om > 59)
            return 0;
        offset = (oh * 3600 + om * 60) * (*p == '-' ? -1 : 1);
        p += 6;
    } else {
        return 0;
    }
    tm.tm_year = year - 1900;
    tm.tm_mon = mon - 1;
    tm.tm_mday = day;
    int64_t v = plat_mktime(&tm, 1);
    if (v == -1) return 0;
    *t = v - offset;
    *pp = p;
    return 1;
}

} // namespace

int syslog_line(const char *line, size_t n, int64_t now, hist_record *r) {
    const char *p = line, *end = line + n;
    int64_t t;
    if (!(n && line[0] >= '0' && line[0] <= '9' ? iso_stamp(&p, end, &t)
                                                : traditional_stamp(&p, end, now, &t)))
        return 0;
    // The host name, then the tag.
    if (p >= end || *p != ' ') return 0;
    p++;
    const char *host = p;
    while (p < end && *p != ' ') p++;
    if (p == host || p >= end) return 0;
    p++;
    size_t tag_len;
    if (end - p > 5 && memcmp(p, "CROND[", 6) == 0)
        tag_len = 6;
    else if (end - p > 4 && memcmp(p, "CRON[", 5) == 0)
        tag_len = 5;
    else
        return 0;
    p += tag_len;
    int64_t pid = 0;
    int nd = 0;
    while (p < end && *p >= '0' && *p <= '9' && nd < 18) pid = pid * 10 + (*p++ - '0'), nd++;
    if (!nd || end - p < 3 || memcmp(p, "]: ", 3) != 0) return 0;
    p += 3;
    if (!hist_cron_message(p, (size_t)(end - p), r)) return 0;
    r->time = t;
    r->pid = pid;
    r->unit[0] = r->result[0] = 0;
    r->exit_code = r->exit_status = 0;
    return 1;
}

namespace {

char g_chunk[1 << 16];
char g_line[SYSLOG_LINE_CAP];
hist_record g_text_record;

// Reads the last HIST_TEXT_WINDOW bytes of the file at path, line by line,
// and applies its cron records. Returns the count of cron records.
int64_t read_tail(const char *path, int64_t now) {
    int h = plat_open_read(path);
    if (h < 0) return 0;
    plat_file_info info;
    int64_t size = plat_stat(path, &info) ? info.size : 0;
    int64_t offset = size > HIST_TEXT_WINDOW ? size - HIST_TEXT_WINDOW : 0;
    int64_t end = offset + HIST_TEXT_WINDOW;
    // Starting inside a line: that line is not whole, so it is skipped.
    int skipping = offset > 0;
    size_t len = 0;
    int64_t count = 0;
    while (offset < end) {
        size_t want = sizeof g_chunk;
        if ((int64_t)want > end - offset) want = (size_t)(end - offset);
        int64_t got = plat_read_at(h, offset, g_chunk, want);
        if (got <= 0) break;
        offset += got;
        for (int64_t i = 0; i < got; i++) {
            char c = g_chunk[i];
            if (c != '\n') {
                if (len < sizeof g_line)
                    g_line[len++] = c;
                else
                    skipping = 1;
                continue;
            }
            if (!skipping && syslog_line(g_line, len, now, &g_text_record)) {
                count++;
                history_apply(&g_text_record, "syslog");
            }
            skipping = 0;
            len = 0;
        }
    }
    plat_close(h);
    return count;
}

} // namespace

int64_t read_text_logs(int64_t now) {
    char list[512];
    str_set(list, k_text_logs);
    int64_t count = 0;
    for (char *name = list; *name;) {
        char *colon = strchr(name, ':');
        if (colon) *colon = 0;
        char rotated[400], path[512];
        str_set(rotated, name);
        // The rotation holds the older records: read first.
        if (name[0] && !str_append(rotated, sizeof rotated, ".1") &&
            root_path(rotated, path, sizeof path))
            count += read_tail(path, now);
        if (name[0] && root_path(name, path, sizeof path)) count += read_tail(path, now);
        if (!colon) break;
        name = colon + 1;
    }
    return count;
}
