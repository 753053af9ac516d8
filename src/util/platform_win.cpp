#include "util/platform.h"

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>

static char g_stdout_buf[1 << 16];

void plat_stdout_init(void) {
    // Text mode would turn every LF of the header blocks into CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, g_stdout_buf, _IOFBF, sizeof g_stdout_buf);
}

int plat_gmtime(int64_t t, struct tm *out) {
    __time64_t tt = (__time64_t)t;
    return _gmtime64_s(out, &tt) == 0;
}

int plat_localtime(int64_t t, struct tm *out) {
    __time64_t tt = (__time64_t)t;
    return _localtime64_s(out, &tt) == 0;
}

FILE *plat_popen(const char *cmdline) {
    // cmd.exe applies the redirection, so a missing command says nothing.
    char line[512];
    snprintf(line, sizeof line, "%s 2>nul", cmdline);
    return _popen(line, "r");
}

void plat_pclose(FILE *f) {
    if (f) _pclose(f);
}

// The node's files are read only on POSIX systems: the Windows build lists
// the task list instead, so these are inert stand-ins that keep one header.

int plat_stat(const char *, plat_file_info *out) {
    *out = plat_file_info{};
    return 0;
}

int plat_lstat(const char *path, plat_file_info *out) {
    return plat_stat(path, out);
}

int plat_readlink(const char *, char *out, size_t cap) {
    if (cap) out[0] = 0;
    return 0;
}

int plat_exists(const char *) {
    return 0;
}

int plat_is_executable(const char *) {
    return 0;
}

int plat_list_dir(const char *, plat_name *, int, int *left_out) {
    *left_out = 0;
    return -1;
}

int plat_open_read(const char *) {
    return -1;
}

int64_t plat_read(int, char *, size_t) {
    return -1;
}

void plat_close(int) {}

int plat_child_start(plat_child *c, const char *const *, int64_t) {
    c->pid = -1;
    c->fd = -1;
    c->deadline = 0;
    c->timed_out = 0;
    return 0;
}

int64_t plat_child_read(plat_child *, char *, size_t) {
    return 0;
}

void plat_child_end(plat_child *) {}

int64_t plat_monotonic_ms(void) {
    return (int64_t)GetTickCount64();
}

void plat_user_name(const char *, char *out, size_t cap) {
    if (!cap) return;
    const char *v = getenv("USERNAME");
    snprintf(out, cap, "%s", v ? v : "");
}

uint32_t plat_uid(void) {
    return 0;
}

int plat_utc_offset(int64_t t, int32_t *offset) {
    struct tm local, utc;
    if (!plat_localtime(t, &local) || !plat_gmtime(t, &utc)) return 0;
    int64_t days = (int64_t)(local.tm_yday - utc.tm_yday);
    if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
    *offset = (int32_t)(days * 86400 + (local.tm_hour - utc.tm_hour) * 3600 +
                        (local.tm_min - utc.tm_min) * 60 + (local.tm_sec - utc.tm_sec));
    return 1;
}

int plat_use_zone(const char *) {
    return 0;
}

// Named zones need the zone database, which Windows does not have: only the
// process's own zone and UTC are offered.
int plat_zone_exists(const char *) {
    return 0;
}

int plat_zone_push(const char *) {
    return 0;
}

void plat_zone_pop(void) {}

int64_t plat_mktime(struct tm *tm, int utc) {
    __time64_t t = utc ? _mkgmtime64(tm) : _mktime64(tm);
    if (t == (__time64_t)-1) return -1;
    return (int64_t)t;
}

void plat_zone_abbrevs(const char **std_name, const char **dst_name) {
    _tzset();
    *std_name = _tzname[0] ? _tzname[0] : "";
    *dst_name = _tzname[1] ? _tzname[1] : "";
}
