#include "util/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "util/str.h"

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

void plat_prepare_pages(void *p, size_t n) {
#if defined(__linux__)
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif
    static uintptr_t page;
    if (!page) page = (uintptr_t)sysconf(_SC_PAGESIZE);
    if (!n || page < 64 || (page & (page - 1))) return;
    const uintptr_t start = (uintptr_t)p & ~(page - 1);
    const uintptr_t end = ((uintptr_t)p + n + page - 1) & ~(page - 1);
    // Kernels before 5.14 refuse the advice; the pages then fault as before.
    madvise((void *)start, end - start, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)n;
#endif
}

void plat_stdout_expect_long(void) {
    plat_prepare_pages(g_stdout_buf, sizeof g_stdout_buf);
}

// ---- Files and folders -------------------------------------------------

static void fill_info(const struct stat &st, plat_file_info *out) {
    switch (st.st_mode & S_IFMT) {
    case S_IFREG:
        out->kind = PLAT_REGULAR;
        break;
    case S_IFDIR:
        out->kind = PLAT_FOLDER;
        break;
    case S_IFLNK:
        out->kind = PLAT_LINK;
        break;
    default:
        out->kind = PLAT_OTHER;
        break;
    }
    out->uid = (uint32_t)st.st_uid;
    out->mode = (uint32_t)(st.st_mode & 07777);
    out->size = (int64_t)st.st_size;
    out->mtime = (int64_t)st.st_mtime;
}

int plat_stat(const char *path, plat_file_info *out) {
    struct stat st;
    memset(out, 0, sizeof *out);
    if (stat(path, &st) != 0) return 0;
    fill_info(st, out);
    return 1;
}

int plat_lstat(const char *path, plat_file_info *out) {
    struct stat st;
    memset(out, 0, sizeof *out);
    if (lstat(path, &st) != 0) return 0;
    fill_info(st, out);
    return 1;
}

int plat_readlink(const char *path, char *out, size_t cap) {
    if (cap == 0) return 0;
    out[0] = 0;
    ssize_t n = readlink(path, out, cap);
    if (n < 0 || (size_t)n >= cap) {
        out[0] = 0;
        return 0;
    }
    out[n] = 0;
    return 1;
}

int plat_exists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0;
}

int plat_is_executable(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111);
}

// The names are kept as a max-heap while the folder is read, so that a folder
// of any size costs log(cap) row swaps per name and keeps the cap smallest;
// the heap is sorted in place at the end.

// Swaps two names, moving only the bytes in use: rows are 256 bytes, names
// mostly a tenth of that, and a sort of a few hundred names swaps thousands.
static void swap_rows(plat_name *a, plat_name *b) {
    const size_t la = strlen(a->s), lb = strlen(b->s);
    const size_t n = (la > lb ? la : lb) + 1;
    char t[PLAT_NAME_CAP];
    memcpy(t, a->s, n);
    memcpy(a->s, b->s, n);
    memcpy(b->s, t, n);
}

static void sift_down(plat_name *h, int n, int i) {
    for (;;) {
        int big = i, l = 2 * i + 1, r = l + 1;
        if (l < n && strcmp(h[l].s, h[big].s) > 0) big = l;
        if (r < n && strcmp(h[r].s, h[big].s) > 0) big = r;
        if (big == i) return;
        swap_rows(&h[i], &h[big]);
        i = big;
    }
}

static void sift_up(plat_name *h, int i) {
    while (i > 0) {
        int parent = (i - 1) / 2;
        if (strcmp(h[parent].s, h[i].s) >= 0) return;
        swap_rows(&h[parent], &h[i]);
        i = parent;
    }
}

// Adds one entry name to the listing of up to cap rows in names (n so far),
// keeping the smallest names when there are more.
static void list_add(const char *name, int (*keep)(const char *), plat_name *names, int cap, int *n,
                     int *left_out) {
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return;
    if (keep && !keep(name)) return;
    const size_t len = strlen(name);
    if (len >= PLAT_NAME_CAP) {
        *left_out = 1;
        return;
    }
    if (*n < cap) {
        // Rows are filled in order: their pages are readied 64 at a time.
        if (*n % 64 == 0)
            plat_prepare_pages(&names[*n], (size_t)(cap - *n < 64 ? cap - *n : 64) * sizeof *names);
        memcpy(names[*n].s, name, len + 1);
        sift_up(names, (*n)++);
    } else {
        *left_out = 1;
        if (cap == 0 || strcmp(name, names[0].s) >= 0) return;
        memcpy(names[0].s, name, len + 1);
        sift_down(names, *n, 0);
    }
}

#if defined(__linux__)
// Entries are read with getdents64 into this buffer: opendir would allocate
// one for each folder.
static char g_dir_buf[1 << 15] __attribute__((aligned(8)));
#endif

int plat_list_dir(const char *path, plat_name *names, int cap, int *left_out) {
    return plat_list_dir_where(path, nullptr, names, cap, left_out);
}

int plat_list_dir_where(const char *path, int (*keep)(const char *name), plat_name *names, int cap,
                        int *left_out) {
    *left_out = 0;
    // O_NONBLOCK keeps a FIFO named as a folder from holding the open.
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    int n = 0;
#if defined(__linux__)
    static int ready;
    if (!ready) {
        plat_prepare_pages(g_dir_buf, sizeof g_dir_buf);
        ready = 1;
    }
    for (;;) {
        const long got = syscall(SYS_getdents64, fd, g_dir_buf, sizeof g_dir_buf);
        if (got <= 0) break; // the end, or an error: what was read stands
        for (long at = 0; at < got;) {
            // struct linux_dirent64: inode (8), offset (8), record length
            // (2), type (1), then the name, null-terminated.
            unsigned short reclen;
            memcpy(&reclen, g_dir_buf + at + 16, sizeof reclen);
            if (reclen < 20 || at + reclen > got) break;
            g_dir_buf[at + reclen - 1] = 0; // the name ends within its record
            list_add(g_dir_buf + at + 19, keep, names, cap, &n, left_out);
            at += reclen;
        }
    }
    close(fd);
#else
    DIR *d = fdopendir(fd);
    if (!d) {
        close(fd);
        return -1;
    }
    while (struct dirent *e = readdir(d)) list_add(e->d_name, keep, names, cap, &n, left_out);
    closedir(d);
#endif
    for (int end = n - 1; end > 0; end--) {
        swap_rows(&names[0], &names[end]);
        sift_down(names, end, 0);
    }
    return n;
}

int plat_open_read(const char *path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    // O_NONBLOCK stays: it changes nothing for a regular file, and two
    // system calls per file add up over hundreds of unit files.
    return fd;
}

int64_t plat_read(int handle, char *buf, size_t cap) {
    for (;;) {
        ssize_t n = read(handle, buf, cap);
        if (n >= 0) return (int64_t)n;
        if (errno != EINTR) return -1;
    }
}

int64_t plat_read_at(int handle, int64_t offset, char *buf, size_t cap) {
    for (;;) {
        ssize_t n = pread(handle, buf, cap, (off_t)offset);
        if (n >= 0) return (int64_t)n;
        if (errno != EINTR) return -1;
    }
}

int plat_task_last_run(const char *, int64_t *, uint32_t *) {
    return 0;
}

void plat_close(int handle) {
    if (handle >= 0) close(handle);
}

// ---- Child processes ---------------------------------------------------

int64_t plat_monotonic_ms(void) {
    // Straight to the kernel: a preloaded clock faker (the black-box tests
    // pin the wall clock that way) must not freeze the deadline too.
    struct timespec ts;
#ifdef SYS_clock_gettime
    if (syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ts) != 0) return 0;
#else
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
#endif
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Whether a command of that name may be found: name holds a slash, or some
// entry of PATH (when PATH is unset, of every C library's default path)
// names an existing file. Only a sure "no" is 0: a path too long to check
// counts as maybe. What starts, and from which entry, is left to posix_spawnp.
static int command_may_exist(const char *name) {
    if (!name[0]) return 0;
    if (strchr(name, '/')) return 1;
    const char *dirs = getenv("PATH");
    if (!dirs) dirs = "/usr/local/bin:/bin:/usr/bin";
    for (const char *p = dirs;;) {
        const char *end = strchr(p, ':');
        const size_t len = end ? (size_t)(end - p) : strlen(p);
        char path[4096];
        const int n = len ? snprintf(path, sizeof path, "%.*s/%s", (int)len, p, name)
                          : snprintf(path, sizeof path, "%s", name);
        struct stat st;
        if (n < 0 || (size_t)n >= sizeof path || stat(path, &st) == 0) return 1;
        if (!end) return 0;
        p = end + 1;
    }
}

int plat_child_start(plat_child *c, const char *const *argv, int64_t timeout_ms) {
    c->pid = -1;
    c->fd = -1;
    c->timed_out = 0;
    c->deadline = plat_monotonic_ms() + timeout_ms;
    // Looked up first: starting a process only to learn that the command is
    // not installed costs about as much as this whole request.
    if (!command_may_exist(argv[0])) return 0;
    int fds[2];
    if (pipe(fds) != 0) return 0;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t dflt;
    sigemptyset(&dflt);
    sigaddset(&dflt, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &dflt);
    // Its own process group, so that the kill at the deadline reaches
    // whatever the command started in turn.
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    pid_t pid;
    int rc = posix_spawnp(&pid, argv[0], &fa, &attr, const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return 0;
    }
    c->pid = pid;
    c->fd = fds[0];
    return 1;
}

static void kill_child(plat_child *c) {
    if (c->pid > 0) {
        kill(-(pid_t)c->pid, SIGKILL);
        kill((pid_t)c->pid, SIGKILL);
    }
}

int64_t plat_child_read(plat_child *c, char *buf, size_t cap) {
    if (c->fd < 0) return c->timed_out ? -1 : 0;
    for (;;) {
        int64_t left = c->deadline - plat_monotonic_ms();
        if (left <= 0) break;
        struct pollfd p = {c->fd, POLLIN, 0};
        int r = poll(&p, 1, left > 60000 ? 60000 : (int)left);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) continue;
        ssize_t n = read(c->fd, buf, cap);
        if (n < 0 && errno == EINTR) continue;
        return n < 0 ? -1 : (int64_t)n;
    }
    c->timed_out = 1;
    kill_child(c);
    close(c->fd);
    c->fd = -1;
    return -1;
}

void plat_child_end(plat_child *c) {
    if (c->fd >= 0) {
        close(c->fd);
        c->fd = -1;
    }
    if (c->pid <= 0) return;
    // The output has been read to its end or given up: a child that has not
    // exited yet would only hold the request, so it is ended either way.
    int st;
    pid_t r;
    while ((r = waitpid((pid_t)c->pid, &st, WNOHANG)) < 0 && errno == EINTR) {}
    if (r == 0) {
        kill_child(c);
        while (waitpid((pid_t)c->pid, &st, 0) < 0 && errno == EINTR) {}
    } else {
        // The process group may still hold a grandchild.
        kill(-(pid_t)c->pid, SIGKILL);
    }
    c->pid = -1;
}

// ---- The user and the zone ---------------------------------------------

uint32_t plat_uid(void) {
    return (uint32_t)getuid();
}

// passwd lines are name:password:uid:gid:gecos:home:shell. Stores the name
// of line when its uid field is uid; returns 1 then.
static int passwd_line_matches(const char *line, uint32_t uid, char *out, size_t cap) {
    const char *colon1 = strchr(line, ':');
    const char *colon2 = colon1 ? strchr(colon1 + 1, ':') : nullptr;
    if (!colon2 || colon1 == line || (size_t)(colon1 - line) >= cap) return 0;
    const char *p = colon2 + 1;
    if (*p < '0' || *p > '9') return 0;
    uint64_t v = 0;
    while (*p >= '0' && *p <= '9' && v <= 0xffffffffu) v = v * 10 + (uint64_t)(*p++ - '0');
    if (*p != ':' || v != uid) return 0;
    memcpy(out, line, (size_t)(colon1 - line));
    out[colon1 - line] = 0;
    return 1;
}

// Reads the account list at passwd_path (never through NSS) line by line
// until a line names uid, and stores that line's name into out (capacity
// cap). A line too long for the buffer is no account of ours. Returns 1 when
// found, else 0.
static int passwd_lookup(const char *passwd_path, uint32_t uid, char *out, size_t cap) {
    int fd = plat_open_read(passwd_path);
    if (fd < 0) return 0;
    char buf[4096], line[1024];
    size_t len = 0;
    int too_long = 0, found = 0;
    int64_t n;
    while (!found && (n = plat_read(fd, buf, sizeof buf)) > 0) {
        for (int64_t i = 0; i < n && !found; i++) {
            if (buf[i] != '\n') {
                if (len + 1 < sizeof line)
                    line[len++] = buf[i];
                else
                    too_long = 1; // such a line is no account of ours
                continue;
            }
            line[len] = 0;
            found = !too_long && passwd_line_matches(line, uid, out, cap);
            len = 0;
            too_long = 0;
        }
    }
    if (!found && len && !too_long) {
        line[len] = 0;
        found = passwd_line_matches(line, uid, out, cap);
    }
    close(fd);
    return found;
}

void plat_user_name(const char *passwd_path, char *out, size_t cap) {
    if (cap == 0) return;
    out[0] = 0;
    uint32_t uid = plat_uid();
    if (passwd_path && passwd_lookup(passwd_path, uid, out, cap)) return;
    static const char *const k_user_vars[] = {"LOGNAME", "USER"};
    for (const char *name : k_user_vars) {
        const char *v = getenv(name);
        if (v && v[0] && strlen(v) < cap) {
            memcpy(out, v, strlen(v) + 1);
            return;
        }
    }
    snprintf(out, cap, "%u", (unsigned)uid);
}

int plat_utc_offset(int64_t t, int32_t *offset) {
    time_t tt = (time_t)t;
    struct tm tm;
    if (!localtime_r(&tt, &tm)) return 0;
    *offset = (int32_t)tm.tm_gmtoff;
    return 1;
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

// The last zone name looked up, and the answer: timers name the same zone
// over and over, and each look-up opens its file.
static char g_zone_asked[256];
static int g_zone_answer;

int plat_zone_exists(const char *name) {
    if (!zone_name_ok(name)) return 0;
    if (strcmp(g_zone_asked, name) == 0) return g_zone_answer;
    char path[256];
    snprintf(path, sizeof path, "/usr/share/zoneinfo/%s", name);
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int ok = 0;
    if (fd >= 0) {
        struct stat st;
        char magic[4];
        ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && read(fd, magic, 4) == 4 &&
             memcmp(magic, "TZif", 4) == 0;
        close(fd);
    }
    str_set(g_zone_asked, name);
    g_zone_answer = ok;
    return ok;
}

// TZ is switched through static "TZ=..." texts so that no conversion
// allocates; the node's own setting is kept to be put back.
static char g_tz_pushed[256];
static char g_tz_saved[256];
static int g_tz_depth;
static int g_tz_was_set;
// The node's own abbreviations, taken when a push leaves its zone.
static char g_node_std[16];
static char g_node_dst[16];

int plat_zone_push(const char *name) {
    if (g_tz_depth) {
        // Within the same zone nothing changes; another one is refused.
        if (strcmp(g_tz_pushed + 3, name) != 0) return 0;
        g_tz_depth++;
        return 1;
    }
    if (!plat_zone_exists(name)) return 0;
    const char *old = getenv("TZ");
    g_tz_was_set = old != nullptr;
    if (old) {
        if (strlen(old) + 4 > sizeof g_tz_saved) return 0;
        snprintf(g_tz_saved, sizeof g_tz_saved, "TZ=%s", old);
    }
    tzset();
    str_set(g_node_std, tzname[0] ? tzname[0] : "");
    str_set(g_node_dst, tzname[1] ? tzname[1] : "");
    snprintf(g_tz_pushed, sizeof g_tz_pushed, "TZ=%s", name);
    if (putenv(g_tz_pushed) != 0) return 0;
    tzset();
    g_tz_depth = 1;
    return 1;
}

void plat_zone_pop(void) {
    if (!g_tz_depth || --g_tz_depth) return;
    if (g_tz_was_set)
        putenv(g_tz_saved);
    else
        unsetenv("TZ");
    tzset();
}

int64_t plat_mktime(struct tm *tm, int utc) {
    time_t t = utc ? timegm(tm) : mktime(tm);
    if (t == (time_t)-1) return -1;
    return (int64_t)t;
}

const char *plat_node_tz(void) {
    if (g_tz_depth) return g_tz_was_set ? g_tz_saved + 3 : nullptr;
    return getenv("TZ");
}

const char *plat_zone_tz(void) {
    return getenv("TZ");
}

void plat_node_zone_abbrevs(const char **std_name, const char **dst_name) {
    if (g_tz_depth) {
        *std_name = g_node_std;
        *dst_name = g_node_dst;
        return;
    }
    tzset();
    *std_name = tzname[0] ? tzname[0] : "";
    *dst_name = tzname[1] ? tzname[1] : "";
}

void plat_console_to_utf8(const char *in, char *out, size_t cap) {
    str_copy(out, cap, in);
}
