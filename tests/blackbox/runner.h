// Runs the built program as the host would: an exact environment, nothing
// inherited, no standard input, and the clock pinned by libfaketime.
#pragma once
#include <string>
#include <vector>

struct run_result {
    std::string out;
    std::string err;
    int status = -1; // exit status, or -1 when the process did not exit normally
};

// 2026-11-12 04:36:30 UTC, a Thursday.
constexpr long long k_now = 1794458190;

// The environment of every run: TZ (UTC unless given), the pinned clock, and
// the given NAME=value entries. A NAME= entry with "TZ=" replaces the zone.
std::vector<std::string> base_env(long long now = k_now, const std::string &tz = "UTC");

// Runs the program with exactly env (plus the sanitizer options of a
// sanitizer build). A run that outlives timeout_s seconds is killed and fails
// the test: a bound on hangs, not a speed check.
run_result run_program(const std::vector<std::string> &env,
                       const std::vector<std::string> &args = {}, int timeout_s = 120);

// Runs the build that reads the cron files under root (its working
// directory) instead of the node's, with exactly env.
run_result run_in_tree(const std::string &root, const std::vector<std::string> &env,
                       int timeout_s = 120);

// Runs the build that reads the systemd units under root (its working
// directory) instead of the node's, with exactly env. The Windows build,
// which reads no units, runs as run_program does.
run_result run_in_unit_tree(const std::string &root, const std::vector<std::string> &env,
                            int timeout_s = 120);

// A request (QUERY_STRING and extra entries) on a node without systemd units.
run_result run_query_without_timers(const std::string &query, std::vector<std::string> extra = {},
                                    int timeout_s = 120);

// Shorthand: a request with QUERY_STRING and extra environment entries.
run_result run_query(const std::string &query, std::vector<std::string> extra = {},
                     long long now = k_now, const std::string &tz = "UTC");

// True when the program under test is the Windows build (run through the
// wrapper named by ZV_PROGRAM_WRAPPER, i.e. wine).
bool program_is_windows();

// The program under test: ZV_PROGRAM, else the one this build made.
std::string program_path();

// The command that starts the program (ZV_PROGRAM_WRAPPER: wine for the
// Windows build, qemu-user for a static Linux build, whose clock only the
// preloaded emulator can pin), or empty when it runs directly.
std::string program_wrapper();

// The JSON header block that starts every JSON answer.
extern const std::string k_json_header;

// Path of a file in tests/data.
std::string data_path(const std::string &name);

// A temporary file holding text, and an empty temporary directory; both are
// removed when the test process ends.
std::string write_temp(const std::string &text);
std::string make_temp_dir();

// A file's bytes, or empty when it cannot be read.
std::string read_file(const std::string &path);

// Creates each folder of path (slash-separated) that is not there yet.
void make_dirs(const std::string &path);

// Writes text to root/path, creating its folders, with the given mode.
void put_file(const std::string &root, const std::string &path, const std::string &text,
              unsigned mode = 0644);

// A symbolic link root/path to target, its folders created; fails the test
// when it cannot be made.
void link_to(const std::string &root, const std::string &path, const std::string &target);

// Expects exit status 0, empty stderr, and stdout = header + body.
#define EXPECT_ANSWER(r, expected)                                                                 \
    do {                                                                                           \
        EXPECT_EQ((r).status, 0);                                                                  \
        EXPECT_EQ((r).err, "");                                                                    \
        EXPECT_EQ((r).out, (expected));                                                            \
    } while (0)

// The body after the JSON header block, which must come first.
std::string json_body(const run_result &r);
