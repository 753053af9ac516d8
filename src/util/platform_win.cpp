#include "util/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "util/str.h"

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

void plat_console_to_utf8(const char *in, char *out, size_t cap) {
    // A program without a console of its own has no console code page; the
    // command then writes in the system's OEM code page.
    UINT cp = GetConsoleOutputCP();
    if (cp == 0) cp = CP_OEMCP;
    static wchar_t wide[4096];
    int n = MultiByteToWideChar(cp, 0, in, -1, wide, (int)(sizeof wide / sizeof wide[0]));
    if (n <= 0) {
        str_copy(out, cap, in);
        return;
    }
    // Converted into a buffer with room for every character, then cut like
    // any other copy.
    static char utf8[3 * 4096];
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, (int)sizeof utf8, nullptr, nullptr) <= 0) {
        str_copy(out, cap, in);
        return;
    }
    str_copy(out, cap, utf8);
}
