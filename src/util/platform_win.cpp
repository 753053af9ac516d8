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
