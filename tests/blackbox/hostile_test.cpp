// Hostile input: whatever the query string, the password carriers, the
// crontab file or the task list hold, the program exits 0 within a bound,
// writes nothing to stderr and answers well-formed output.
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runner.h"

using nlohmann::json;

namespace {

// A hang bound for every run here, far above any normal run.
constexpr int k_bound_s = 60;

const std::string k_401_body = "{\"ok\":false,\"error\":\"invalid node password\"}\n";

// Every byte 1..255 (environment values cannot hold a zero byte).
std::string all_bytes() {
    std::string s;
    for (int c = 1; c < 256; c++) s += (char)c;
    return s;
}

run_result run(const std::string &query, std::vector<std::string> extra = {}) {
    auto env = base_env();
    env.push_back("QUERY_STRING=" + query);
    for (auto &e : extra) env.push_back(e);
    auto r = run_program(env, {}, k_bound_s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return r;
}

// Parses a JSON answer's body. Bytes from 0x80 up pass through the writer
// unchanged, whether or not they form UTF-8, and can never be structure; they
// are masked so that the parser judges the structure alone.
json parse_answer(const run_result &r) {
    std::string body = json_body(r);
    for (char &c : body)
        if ((unsigned char)c >= 0x80) c = '?';
    EXPECT_TRUE(json::accept(body)) << body.substr(0, 300);
    return json::accept(body) ? json::parse(body) : json();
}

// A file of the given text, removed when the object goes.
struct temp_file {
    std::string path;
    explicit temp_file(const std::string &text) : path(write_temp(text)) {}
    ~temp_file() { unlink(path.c_str()); }
};

// A directory with a fake schtasks that prints the given file's bytes.
std::string fake_schtasks(const std::string &output_path) {
    std::string dir = make_temp_dir();
    std::string script = dir + "/schtasks";
    std::ofstream(script) << "#!/bin/sh\ncat '" << output_path << "'\n";
    chmod(script.c_str(), 0755);
    return dir;
}

} // namespace

TEST(Hostile, QueryStrings) {
    const std::string big(100000, 'A'), bytes = all_bytes();
    const std::string queries[] = {
        "action=explain&expr=" + big,
        "action=explain&expr=" + std::string(50000, '%'),
        "action=explain&expr=" + bytes,
        "action=explain&expr=%00" + bytes,
        "action=explain&expr=" + std::string(3000, '*') + "+*+*+*+*",
        "action=" + bytes + "&expr=" + bytes,
        "action=jobs&" + bytes + big,
        std::string(20000, '&') + "action=explain&expr=@daily",
        "action=" + big,
        "format=json&" + bytes,
        "action=explain&syntax=systemd&expr=" + big,
        "action=explain&syntax=systemd&expr=" + bytes,
        "action=explain&syntax=systemd&expr=" + std::string(1020, '1') + ":00",
        "action=explain&syntax=systemd&expr=*-*-*+*:*:*+" + bytes,
        "action=explain&syntax=" + bytes + "&expr=daily",
    };
    for (const auto &q : queries) {
        SCOPED_TRACE(q.substr(0, 40));
        auto r = run(q, {"CRONTAB_FILE=" + data_path("mixed.crontab")});
        json j = parse_answer(r);
        EXPECT_TRUE(j.is_object());
    }
    // Without "action=" or "format=json" the page is answered.
    for (const auto &q : {big, bytes, bytes + "&embed=" + big}) {
        auto r = run(q);
        EXPECT_EQ(r.out.rfind("Content-Type: text/html; charset=utf-8\r\n", 0), 0u);
    }
}

TEST(Hostile, PasswordCarriers) {
    const std::string big(100000, 'p'), ctl = "\x01\x02\t\x1b\x7f\xff pw";
    const std::vector<std::string> refused[] = {
        {"HTTP_X_VORN_PASSWORD=" + big},
        {"HTTP_X_VORN_PASSWORD=" + all_bytes()},
        {"HTTP_AUTHORIZATION=Bearer " + big},
        {"HTTP_AUTHORIZATION=" + std::string(100000, ' ')},
        {"HTTP_AUTHORIZATION=Bearer " + std::string(100000, ' ')},
        {"HTTP_AUTHORIZATION=" + all_bytes()},
        {"HTTP_X_VORN_PASSWORD=" + ctl + "\x01", "HTTP_AUTHORIZATION=Bearer " + ctl.substr(1)},
    };
    for (const auto &carriers : refused) {
        SCOPED_TRACE(carriers[0].substr(0, 40));
        auto env = carriers;
        env.push_back("VORN_PASSWORD=" + ctl);
        auto r = run("action=info&pwd=" + big, env);
        EXPECT_EQ(r.out.rfind("Status: 401 Unauthorized\r\n", 0), 0u);
        EXPECT_EQ(r.out.substr(r.out.size() - k_401_body.size()), k_401_body);
    }
    // An overlong or binary password still matches its exact carrier.
    for (const auto &pw : {big, all_bytes(), ctl}) {
        auto r = run("action=info&pwd=x", {"VORN_PASSWORD=" + pw, "HTTP_X_VORN_PASSWORD=" + pw});
        EXPECT_EQ(parse_answer(r)["action"], "info");
    }
}

TEST(Hostile, CrontabFiles) {
    std::string nul_bytes = "* * * * * a\0b\n\0\0\0\n0 0 * * *\0 x\n@daily\0\n";
    nul_bytes.append(std::string(5000, '\0')).append("\n15 * * * * after\n");
    std::string invalid_utf8 = "* * * * * \xff\xfe\xc3\x28 \xed\xa0\x80\n\xc0\xaf \x80 * * * x\n"
                               "\xff" +
                               all_bytes() + "\n";
    std::string long_line(10 * 1024 * 1024, 'x');
    long_line = "* * * * * " + long_line + "\n";
    std::string many;
    for (int i = 0; i < 100000; i++)
        many += i % 3 ? "*/" + std::to_string(i % 59 + 1) + " * * * * job\n" : "# c\n";
    std::string binary;
    for (int i = 0; i < 200000; i++) binary += (char)((i * 7919) % 256);

    const std::string files[] = {nul_bytes, invalid_utf8, long_line, many, binary};
    for (const auto &text : files) {
        SCOPED_TRACE(text.size());
        temp_file f(text);
        json j = parse_answer(run("action=jobs", {"CRONTAB_FILE=" + f.path}));
        EXPECT_LE(j["count"].get<int>(), 512);
        EXPECT_EQ(j["jobs"].size(), j["count"].get<size_t>());
    }
    temp_file f(many);
    json j = parse_answer(run("action=jobs", {"CRONTAB_FILE=" + f.path}));
    EXPECT_EQ(j["count"], 512);
    EXPECT_EQ(j["truncated"], true);
}

TEST(Hostile, EndlessDevicesAreNoCrontab) {
    // A character device has no end of file; it lists nothing.
    for (const char *dev : {"/dev/zero", "/dev/urandom", "/dev/null"}) {
        SCOPED_TRACE(dev);
        json j = parse_answer(run("action=jobs", {std::string("CRONTAB_FILE=") + dev}));
        EXPECT_EQ(j["count"], 0);
        EXPECT_EQ(j["sources"], json::array());
    }
}

// A FIFO without a writer would block a plain open for ever; a socket cannot
// be opened at all. Both list nothing, at once.
TEST(Hostile, FifoAndSocketAreNoCrontab) {
    if (program_is_windows()) GTEST_SKIP() << "no FIFOs under wine";
    std::string dir = make_temp_dir();
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0644), 0);
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s/sock", dir.c_str());
    ASSERT_EQ(bind(s, (sockaddr *)&addr, sizeof addr), 0);
    for (const char *name : {"/fifo", "/sock"}) {
        SCOPED_TRACE(name);
        json j = parse_answer(run("action=jobs", {"CRONTAB_FILE=" + dir + name}));
        EXPECT_EQ(j["count"], 0);
        EXPECT_EQ(j["sources"], json::array());
    }
    close(s);
}

TEST(Hostile, TaskLists) {
    if (!program_is_windows()) GTEST_SKIP() << "only the Windows build lists the task list";
    std::string unterminated = "\"TaskName\",\"Next Run Time\",\"Status\"\r\n"
                               "\"\\open,\"never closed\r\n"
                               "\"\r\n\"\"\"\",\"\r\n\"a\",\"b\",\"" +
                               std::string(5000, 'q') + "\r\n,,,,,,,,\r\n\"\xff\x01\",\"\x80\"\r\n";
    unterminated.append("\"nul\0byte\",\"x\",\"y\"\r\n", 21);
    std::string many;
    for (int i = 0; i < 100000; i++)
        many += i % 2 ? "\"\\T" + std::to_string(i) + "\",\"N/A\",\"Ready\r\n" : "\"x,\"\"\r\n";
    for (const auto &output : {unterminated, many}) {
        SCOPED_TRACE(output.size());
        temp_file f(output);
        std::string dir = fake_schtasks(f.path);
        auto r =
            run_query_without_timers("action=jobs", {"PATH=" + dir + ":/usr/bin:/bin"}, k_bound_s);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        json j = parse_answer(r);
        EXPECT_LE(j["count"].get<int>(), 512);
        for (const auto &job : j["jobs"]) EXPECT_EQ(job["kind"], "task");
    }
}

TEST(Hostile, TimeZones) {
    for (const std::string &tz : {std::string(10000, 'A'), std::string(":/dev/zero"),
                                  std::string(":/etc/passwd"), std::string("<+99>-99")}) {
        SCOPED_TRACE(tz.substr(0, 20));
        auto env = base_env(k_now, tz);
        env.push_back("QUERY_STRING=action=explain&expr=*+*+*+*+*");
        auto r = run_program(env, {}, k_bound_s);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(parse_answer(r)["valid"], true);
        env.back() = "QUERY_STRING=action=explain&syntax=systemd&expr=Mon..Fri+02:30";
        r = run_program(env, {}, k_bound_s);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(parse_answer(r)["valid"], true);
    }
}

// A host that closes its end of the pipe before reading: the writes fail, and
// the process still ends normally with status 0.
TEST(Hostile, ReaderGoneBeforeTheAnswer) {
    if (program_is_windows()) GTEST_SKIP() << "the runner drives the Windows build through wine";
    const std::string path = program_path(), wrapper = program_wrapper();
    std::vector<char *> argv;
    if (!wrapper.empty()) argv.push_back(const_cast<char *>(wrapper.c_str()));
    argv.push_back(const_cast<char *>(path.c_str()));
    argv.push_back(nullptr);
    for (const char *query : {"QUERY_STRING=", "QUERY_STRING=action=info"}) {
        SCOPED_TRACE(query);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        char *envp[] = {const_cast<char *>(query), nullptr};
        pid_t pid;
        ASSERT_EQ(posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp), 0);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        int st = 0;
        waitpid(pid, &st, 0);
        EXPECT_TRUE(WIFEXITED(st)) << "ended by signal " << (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
        EXPECT_EQ(WIFEXITED(st) ? WEXITSTATUS(st) : -1, 0);
    }
}
