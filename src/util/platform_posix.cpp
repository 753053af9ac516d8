#include "util/platform.h"

#include "util/str.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static char g_stdout_buf[1 << 16];

void plat_stdout_init(void) {
    // A host that stops reading early must not kill us with SIGPIPE: the
    // write fails instead and the process still ends with status 0.
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, g_stdout_buf, _IOFBF, sizeof g_stdout_buf);
}

int plat_gmtime(int64_t t, struct tm *out) {
    time_t tt = (time_t)t;
    return gmtime_r(&tt, out) != nullptr;
}

int plat_localtime(int64_t t, struct tm *out) {
    time_t tt = (time_t)t;
    return localtime_r(&tt, out) != nullptr;
}

// popen() would leak the shell's "not found" message to our stderr, so the
// child is spawned by hand with its stderr on /dev/null.
static pid_t g_child = -1;

FILE *plat_popen(const char *cmdline) {
    int fds[2];
    if (pipe(fds) != 0) return nullptr;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    // The child gets SIGPIPE back as usual; only we ignore it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t dflt;
    sigemptyset(&dflt);
    sigaddset(&dflt, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &dflt);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    char sh[] = "sh", dash_c[] = "-c";
    char *argv[] = {sh, dash_c, const_cast<char *>(cmdline), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, "/bin/sh", &fa, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return nullptr;
    }
    FILE *f = fdopen(fds[0], "r");
    if (!f) {
        close(fds[0]);
        waitpid(pid, nullptr, 0);
        return nullptr;
    }
    g_child = pid;
    return f;
}

void plat_pclose(FILE *f) {
    if (f) fclose(f);
    if (g_child > 0) {
        int st;
        while (waitpid(g_child, &st, 0) < 0 && errno == EINTR) {}
        g_child = -1;
    }
}

void plat_console_to_utf8(const char *in, char *out, size_t cap) {
    str_copy(out, cap, in);
}
