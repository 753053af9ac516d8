// A stand-in for the Windows task list command, for running the black-box
// tests under wine. It prints a first task made of its own arguments, then
// the bytes of output.csv from its own directory, and a line on stderr that
// the program under test must keep away from its own stderr. With a file
// named hang beside it, it then waits for ever instead of ending.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char **argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    printf("\"\\Args\",\"");
    for (int i = 1; i < argc; i++) printf(i > 1 ? " %s" : "%s", argv[i]);
    printf("\",\"Ready\"\r\n");

    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    char *slash = n ? strrchr(path, '\\') : nullptr;
    bool hang = false;
    if (slash && (size_t)(slash - path) + sizeof "\\output.csv" <= sizeof path) {
        strcpy(slash, "\\hang");
        hang = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
        strcpy(slash, "\\output.csv");
        if (FILE *f = fopen(path, "rb")) {
            char buf[4096];
            size_t got;
            while ((got = fread(buf, 1, sizeof buf, f)) > 0) fwrite(buf, 1, got, stdout);
            fclose(f);
        }
    }
    fflush(stdout);
    fputs("a message on stderr\n", stderr);
    if (hang) Sleep(INFINITE);
    return 0;
}
