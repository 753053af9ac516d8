#include "util/platform.h"

#include <fcntl.h>
#include <io.h>

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
