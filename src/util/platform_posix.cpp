#include "util/platform.h"
#include "util/str.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
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

static int zone_name_ok(const char *name) {
    if (!name || !name[0] || name[0] == '/' || strlen(name) > 200) return 0;
    for (const char *p = name; *p; p++) {
        unsigned char c = (unsigned char)*p;
        if (!(is_alnum(c) || c == '/' || c == '-' || c == '_' || c == '+')) return 0;
        if (c == '/' && p[1] == '/') return 0;
    }
    return 1;
}

int plat_zone_exists(const char *name) {
    if (!zone_name_ok(name)) return 0;
    char path[256];
    snprintf(path, sizeof path, "/usr/share/zoneinfo/%s", name);
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st;
    char magic[4];
    int ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && read(fd, magic, 4) == 4 &&
             memcmp(magic, "TZif", 4) == 0;
    close(fd);
    return ok;
}

// TZ is switched through static "TZ=..." texts so that no conversion
// allocates; the node's own setting is kept to be put back.
static char g_tz_pushed[256];
static char g_tz_saved[256];
static int g_tz_depth;
static int g_tz_was_set;

int plat_zone_push(const char *name) {
    if (g_tz_depth || !plat_zone_exists(name)) return 0;
    const char *old = getenv("TZ");
    g_tz_was_set = old != nullptr;
    if (old) {
        if (strlen(old) + 4 > sizeof g_tz_saved) return 0;
        snprintf(g_tz_saved, sizeof g_tz_saved, "TZ=%s", old);
    }
    snprintf(g_tz_pushed, sizeof g_tz_pushed, "TZ=%s", name);
    if (putenv(g_tz_pushed) != 0) return 0;
    tzset();
    g_tz_depth = 1;
    return 1;
}

void plat_zone_pop(void) {
    if (!g_tz_depth) return;
    if (g_tz_was_set)
        putenv(g_tz_saved);
    else
        unsetenv("TZ");
    tzset();
    g_tz_depth = 0;
}

int64_t plat_mktime(struct tm *tm, int utc) {
    time_t t = utc ? timegm(tm) : mktime(tm);
    if (t == (time_t)-1) return -1;
    return (int64_t)t;
}

void plat_zone_abbrevs(const char **std_name, const char **dst_name) {
    tzset();
    *std_name = tzname[0] ? tzname[0] : "";
    *dst_name = tzname[1] ? tzname[1] : "";
}
