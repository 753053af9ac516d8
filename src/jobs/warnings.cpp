#include "jobs/warnings.h"

#include <stdio.h>
#include <string.h>

#include "jobs/cron_load.h"
#include "jobs/live.h"
#include "jobs/paths.h"
#include "util/platform.h"
#include "util/str.h"

namespace {

// Reserved words and builtins of sh (dash, which runs cron's commands on
// Debian): they start no program of their own.
const char *const k_shell_words[] = {
    "!",       "{",        "}",      "[[",    "case",    "do",    "done",   "elif",
    "else",    "esac",     "fi",     "for",   "if",      "in",    "then",   "until",
    "while",   ".",        ":",      "[",     "alias",   "bg",    "break",  "cd",
    "command", "continue", "echo",   "eval",  "exec",    "exit",  "export", "false",
    "fg",      "getopts",  "hash",   "jobs",  "kill",    "local", "printf", "pwd",
    "read",    "readonly", "return", "set",   "shift",   "test",  "times",  "trap",
    "true",    "type",     "ulimit", "umask", "unalias", "unset", "wait",
};

// Where a program left off cron's PATH is usually found.
const char *const k_usual_dirs[] = {"/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin",
                                    "/sbin",           "/bin",           "/snap/bin", "/opt/bin"};

int word_end_char(char c) {
    return !c || c == ' ' || c == '\t' || strchr(";&|<>()", c);
}

// A NAME=value word, NAME a shell identifier.
int is_assignment_word(const char *p, const char *end) {
    if (p == end || (*p >= '0' && *p <= '9')) return 0;
    const char *q = p;
    while (q < end && (is_alnum((unsigned char)*q) || *q == '_')) q++;
    return q > p && q < end && *q == '=';
}

int executable_at(const char *dir, const char *name, size_t n) {
    char shown[1024], access[1100];
    if (snprintf(shown, sizeof shown, "%s/%.*s", dir, (int)n, name) >= (int)sizeof shown) return 0;
    return root_path(shown, access, sizeof access) && plat_is_executable(access);
}

// The first folder of the ":"-separated list path that holds an executable
// name (n bytes), into dir; 1 when found. Empty and relative entries, which
// depend on the job's working folder, are passed over.
int find_on(const char *path, const char *name, size_t n, char *dir, size_t cap) {
    for (const char *p = path; *p;) {
        const char *end = strchr(p, ':');
        const size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len && p[0] == '/' && len < cap) {
            memcpy(dir, p, len);
            dir[len] = 0;
            if (executable_at(dir, name, n)) return 1;
        }
        if (!end) break;
        p = end + 1;
    }
    return 0;
}

// Whether dir is one of the folders of the ":"-separated list path.
int on_path(const char *path, const char *dir) {
    const size_t n = strlen(dir);
    for (const char *p = path; *p;) {
        const char *end = strchr(p, ':');
        const size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len == n && memcmp(p, dir, n) == 0) return 1;
        if (!end) break;
        p = end + 1;
    }
    return 0;
}

// One earlier answer, kept: the same program on the same PATH comes on many
// lines, and each look-up costs a stat per folder.
struct program_memo {
    char word[256];
    char path[512];
    int32_t result;
    char detail[160];
};
program_memo g_memo;

int judge_word(const char *word, size_t n, const char *path, char *out, size_t cap) {
    char name[256];
    str_copy_span(name, sizeof name, word, n);
    if (word[0] == '/') {
        char access[1100];
        plat_file_info info;
        if (!root_path(name, access, sizeof access)) return 0;
        if (!plat_stat(access, &info)) {
            snprintf(out, cap, "%s does not exist", name);
            return 1;
        }
        if (info.kind != PLAT_REGULAR || !(info.mode & 0111)) {
            snprintf(out, cap, "%s is not executable", name);
            return 1;
        }
        return 0;
    }
    char dir[512];
    if (find_on(path, word, n, dir, sizeof dir)) return 0;
    for (const char *usual : k_usual_dirs)
        if (!on_path(path, usual) && executable_at(usual, word, n)) {
            snprintf(out, cap, "%s is found in %s, which is not on cron's PATH %s", name, usual,
                     path);
            return 1;
        }
    snprintf(out, cap, "%s is not found on cron's PATH %s", name, path);
    return 1;
}

} // namespace

void cron_env_start(cron_env *env) {
    str_set(env->path, CRON_DEFAULT_PATH);
    env->cron_tz = 0;
}

void cron_env_note(cron_env *env, const char *line) {
    char name[16], value[512];
    if (!cron_env_line(line, name, sizeof name, value, sizeof value)) return;
    if (strcmp(name, "PATH") == 0) str_set(env->path, value);
    if (strcmp(name, "CRON_TZ") == 0) env->cron_tz = 1;
}

int has_unescaped_percent(const char *command) {
    for (const char *p = command; *p; p++) {
        if (*p == '\\' && p[1]) {
            p++;
            continue;
        }
        if (*p == '%') return 1;
    }
    return 0;
}

int program_warning(const char *command, const char *path, char *out, size_t cap) {
    out[0] = 0;
    const char *p = command;
    const char *end;
    for (;;) {
        while (*p == ' ' || *p == '\t') p++;
        end = p;
        while (!word_end_char(*end)) end++;
        if (end == p) return 0; // nothing, or an operator first
        if (!is_assignment_word(p, end)) break;
        p = end;
    }
    const size_t n = (size_t)(end - p);
    for (const char *q = p; q < end; q++)
        if (strchr("\"'`$\\*?[~=", *q)) return 0;
    if (n >= 256) return 0;
    for (const char *w : k_shell_words)
        if (strlen(w) == n && memcmp(w, p, n) == 0) return 0;
    if (memchr(p, '/', n) && p[0] != '/') return 0;
    if (strlen(g_memo.word) == n && memcmp(g_memo.word, p, n) == 0 &&
        strcmp(g_memo.path, path) == 0) {
        str_copy(out, cap, g_memo.detail);
        return g_memo.result;
    }
    const int result = judge_word(p, n, path, out, cap);
    str_copy_span(g_memo.word, sizeof g_memo.word, p, n);
    str_set(g_memo.path, path);
    str_set(g_memo.detail, out);
    g_memo.result = result;
    return result;
}

void cron_job_warn(cron_job *job, const cron_expr *ce, const cron_env *env, int flavor,
                   int ends_in_cr) {
    job->checked = 1;
    if (has_unescaped_percent(job->command)) job->warnings |= WARN_PERCENT;
    if (ends_in_cr) job->warnings |= WARN_CR;
    if (env->cron_tz && flavor != FLAVOR_CRONIE) job->warnings |= WARN_CRON_TZ;
    if (job->valid && !ce->boot_only && job->next_count == 0) job->warnings |= WARN_NEVER;
    if (job->command[0] &&
        program_warning(job->command, env->path, job->warning_detail, sizeof job->warning_detail))
        job->warnings |= WARN_PROGRAM;
}

void warning_text(const cron_job *job, uint16_t bit, char *out, size_t cap) {
    out[0] = 0;
    switch (bit) {
    case WARN_PERCENT:
        str_copy(out, cap,
                 "unescaped % in the command: cron runs the command up to it and gives the rest "
                 "as its input (write \\% for a %)");
        break;
    case WARN_PROGRAM:
        str_copy(out, cap, job->warning_detail);
        break;
    case WARN_CR:
        str_copy(out, cap,
                 "the line ends in a carriage return (Windows line ends): cron takes it as part "
                 "of the command");
        break;
    case WARN_NEVER:
        str_copy(out, cap, "never runs within the next 20 years: no date matches the schedule");
        break;
    case WARN_CRON_TZ:
        str_copy(out, cap,
                 "CRON_TZ= is ignored by this node's cron, which times every job in the "
                 "system's zone");
        break;
    case WARN_UNIT_MISSING: {
        char unit[256];
        str_set(unit, job->command);
        char *colon = strstr(unit, ": ");
        if (colon) *colon = 0;
        snprintf(out, cap, "the unit to start, %s, does not exist", unit);
        break;
    }
    case WARN_NOT_ENABLED:
        snprintf(out, cap, "not enabled: systemctl enable --now %s starts it", job->warning_detail);
        break;
    default:
        break;
    }
}

int timer_may_be_disabled(const char *name) {
    const size_t n = strlen(name);
    if (n <= 6 || strcmp(name + n - 6, ".timer") != 0) return 0;
    return !(n >= 7 && name[n - 7] == '@');
}

int unit_has_install(const char *text, size_t len) {
    static const char *const k_keys[] = {"WantedBy", "RequiredBy", "UpheldBy", "Alias"};
    int in_install = 0;
    for (size_t at = 0; at < len;) {
        const char *line = text + at;
        const char *nl = (const char *)memchr(line, '\n', len - at);
        const size_t n = nl ? (size_t)(nl - line) : len - at;
        at += n + 1;
        size_t s = 0;
        while (s < n && is_space((unsigned char)line[s])) s++;
        if (s < n && line[s] == '[') {
            in_install = n - s >= 9 && memcmp(line + s, "[Install]", 9) == 0;
            continue;
        }
        if (!in_install) continue;
        for (const char *key : k_keys) {
            const size_t k = strlen(key);
            size_t e = s + k;
            if (n < e || memcmp(line + s, key, k) != 0) continue;
            while (e < n && (line[e] == ' ' || line[e] == '\t')) e++;
            if (e < n && line[e] == '=') {
                e++;
                while (e < n && is_space((unsigned char)line[e])) e++;
                if (e < n) return 1;
            }
        }
    }
    return 0;
}
