#include "runner.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

const std::string k_json_header = "Content-Type: application/json; charset=utf-8\r\n"
                                  "Cache-Control: no-store\r\n"
                                  "X-Content-Type-Options: nosniff\r\n"
                                  "\r\n";

std::string program_path() {
    const char *p = getenv("ZV_PROGRAM");
    return p && *p ? p : ZV_PROGRAM_DEFAULT;
}

std::string program_wrapper() {
    const char *w = getenv("ZV_PROGRAM_WRAPPER");
    return w ? w : "";
}

bool program_is_windows() {
    std::string path = program_path();
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
}

std::vector<std::string> base_env(long long now, const std::string &tz) {
    return {"TZ=" + tz, std::string("LD_PRELOAD=") + ZV_FAKETIME_LIB, "FAKETIME_FMT=%s",
            "FAKETIME=" + std::to_string(now), "FAKETIME_DONT_RESET=1"};
}

#ifndef ZV_SANITIZED
#define ZV_SANITIZED 0
#endif

// A sanitizer build links its runtime into the program, but libfaketime is
// preloaded ahead of it, so the order check is off. The allocator's release
// timer is off too: its first clock_gettime would enter libfaketime, whose
// lazy dlsym calls malloc under the allocator's lock and deadlocks at start.
// Reports end the run and go to stderr, which every test expects empty.
static const char *const k_sanitizer_env[] = {
    "ASAN_OPTIONS=verify_asan_link_order=0:allocator_release_to_os_interval_ms=-1:detect_leaks=1",
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1",
};

static long long monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static run_result run_at(const std::string &path, const std::string &cwd,
                         const std::vector<std::string> &env, const std::vector<std::string> &args,
                         int timeout_s) {
    std::string wrapper = cwd.empty() ? program_wrapper() : "";
    std::vector<char *> argv;
    if (!wrapper.empty()) argv.push_back(const_cast<char *>(wrapper.c_str()));
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> full_env = env;
    if (!wrapper.empty()) {
        // What wine itself needs, and nothing more: its prefix, and its own
        // diagnostics switched off so that they stay out of stderr. wine hands
        // these to the program too, which reads neither.
        for (const char *name : {"WINEPREFIX", "WINEDEBUG"}) {
            const char *value = getenv(name);
            if (value) full_env.push_back(std::string(name) + "=" + value);
        }
    }
    std::vector<char *> envp;
    for (const auto &e : full_env) envp.push_back(const_cast<char *>(e.c_str()));
    if (ZV_SANITIZED)
        for (const char *e : k_sanitizer_env) envp.push_back(const_cast<char *>(e));
    envp.push_back(nullptr);

    int out[2], err[2];
    if (pipe(out) || pipe(err)) abort();
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addclose(&fa, err[0]);
    posix_spawn_file_actions_addclose(&fa, out[1]);
    posix_spawn_file_actions_addclose(&fa, err[1]);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    pid_t pid;
    int rc = wrapper.empty()
                 ? posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), envp.data())
                 : posix_spawnp(&pid, wrapper.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    run_result r;
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        ADD_FAILURE() << "cannot start " << argv[0];
        return r;
    }
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *dst[2] = {&r.out, &r.err};
    int open_fds = 2;
    char buf[65536];
    const long long deadline = monotonic_ms() + 1000LL * timeout_s;
    bool timed_out = false;
    while (open_fds > 0) {
        long long left = deadline - monotonic_ms();
        if (left <= 0) {
            timed_out = true;
            kill(pid, SIGKILL);
            for (auto &p : fds)
                if (p.fd >= 0) close(p.fd);
            break;
        }
        if (poll(fds, 2, (int)left) <= 0) continue;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                dst[i]->append(buf, (size_t)n);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_fds--;
            }
        }
    }
    int st;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    if (timed_out) {
        ADD_FAILURE() << "killed after " << timeout_s << " s: " << path;
        r.status = -1;
    }
    return r;
}

run_result run_program(const std::vector<std::string> &env, const std::vector<std::string> &args,
                       int timeout_s) {
    return run_at(program_path(), "", env, args, timeout_s);
}

run_result run_in_tree(const std::string &root, const std::vector<std::string> &env,
                       int timeout_s) {
    return run_at(ZV_ROOT_PROGRAM, root, env, {}, timeout_s);
}

run_result run_in_unit_tree(const std::string &root, const std::vector<std::string> &env,
                            int timeout_s) {
    if (program_is_windows()) return run_program(env, {}, timeout_s);
    return run_in_tree(root, env, timeout_s);
}

run_result run_query_without_timers(const std::string &query, std::vector<std::string> extra,
                                    int timeout_s) {
    auto env = base_env();
    env.push_back("QUERY_STRING=" + query);
    for (auto &e : extra) env.push_back(e);
    return run_in_unit_tree(make_temp_dir(), env, timeout_s);
}

run_result run_query(const std::string &query, std::vector<std::string> extra, long long now,
                     const std::string &tz) {
    auto env = base_env(now, tz);
    env.push_back("QUERY_STRING=" + query);
    for (auto &e : extra) env.push_back(e);
    return run_program(env);
}

std::string data_path(const std::string &name) {
    return std::string(ZV_DATA_DIR) + "/" + name;
}

// Everything a test process makes under /tmp, removed when the process ends.
static std::vector<std::string> &temp_paths() {
    static struct registry {
        std::vector<std::string> paths;
        ~registry() {
            std::error_code ec;
            for (const auto &p : paths) std::filesystem::remove_all(p, ec);
        }
    } r;
    return r.paths;
}

std::string make_temp_dir() {
    char dir[] = "/tmp/zv_test_XXXXXX";
    if (!mkdtemp(dir)) abort();
    temp_paths().push_back(dir);
    return dir;
}

std::string write_temp(const std::string &text) {
    char path[] = "/tmp/zv_test_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) abort();
    temp_paths().push_back(path);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) abort();
        done += (size_t)n;
    }
    close(fd);
    return path;
}

std::string json_body(const run_result &r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(0, k_json_header.size()), k_json_header);
    return r.out.size() >= k_json_header.size() ? r.out.substr(k_json_header.size()) : "";
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void make_dirs(const std::string &path) {
    std::string part, piece;
    std::stringstream ss(path);
    while (std::getline(ss, piece, '/')) {
        part += piece + "/";
        mkdir(part.c_str(), 0755);
    }
}

void put_file(const std::string &root, const std::string &path, const std::string &text,
              unsigned mode) {
    make_dirs(root + "/" + path.substr(0, path.rfind('/')));
    std::ofstream(root + "/" + path, std::ios::binary) << text;
    chmod((root + "/" + path).c_str(), (mode_t)mode);
}

void link_to(const std::string &root, const std::string &path, const std::string &target) {
    make_dirs(root + "/" + path.substr(0, path.rfind('/')));
    ASSERT_EQ(symlink(target.c_str(), (root + "/" + path).c_str()), 0) << path;
}
