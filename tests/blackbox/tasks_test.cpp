// The Task Scheduler's task definitions in the jobs answer, read from a
// prepared task folder (Windows/System32/Tasks under the test build's root):
// the real files under their task paths, and hostile files beside them.
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "runner.h"

using nlohmann::json;

namespace {

const std::string k_tasks = "Windows/System32/Tasks/";

// Writes a task file at the task path (slashes for backslashes).
void put_task(const std::string &root, const std::string &task, const std::string &bytes) {
    const std::string path = root + "/" + k_tasks + task;
    make_dirs(path.substr(0, path.rfind('/')));
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string real(const std::string &name) {
    return read_file(data_path("windows-tasks/" + name));
}

// The real files under the task paths they had on their machines
// (tests/data/tasks/tree.txt, which the wine run reads too).
std::string fixture_tree() {
    std::string root = make_temp_dir();
    std::ifstream list(data_path("tasks/tree.txt"));
    std::string line;
    int count = 0;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        put_task(root, line.substr(0, tab), real(line.substr(tab + 1)));
        count++;
    }
    EXPECT_EQ(count, 25);
    return root;
}

run_result jobs_in(const std::string &root, const std::string &tz = "Europe/Berlin",
                   int timeout_s = 120) {
    auto env = base_env(k_now, tz);
    env.push_back("QUERY_STRING=action=jobs");
    env.push_back("PATH=/nonexistent");
    return run_in_tree(root, env, timeout_s);
}

json answer(const run_result &r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return json::parse(json_body(r));
}

} // namespace

TEST(Tasks, FixtureTreeMatchesTheReviewedReference) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build reads the system's own folder";
    auto r = jobs_in(fixture_tree());
    EXPECT_ANSWER(r, k_json_header + read_file(data_path("tasks/tree.expected.json")));
}

// The same tree on a New York node (and the answer the wine run compares
// with, since the Windows runtime knows the US rules of a TZ string only).
TEST(Tasks, FixtureTreeInNewYorkMatchesTheReviewedReference) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build reads the system's own folder";
    auto r = jobs_in(fixture_tree(), "America/New_York");
    EXPECT_ANSWER(r, k_json_header + read_file(data_path("tasks/tree-new-york.expected.json")));
}

TEST(Tasks, OrderPathsAndSource) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build reads the system's own folder";
    json j = answer(jobs_in(fixture_tree()));
    EXPECT_EQ(j["sources"], json::array({"Task Scheduler"}));
    EXPECT_EQ(j["count"], 25);
    std::vector<std::string> paths;
    for (const auto &job : j["jobs"]) {
        EXPECT_EQ(job["source"], "Task Scheduler");
        EXPECT_EQ(job["kind"], "task");
        EXPECT_EQ(job["valid"], true);
        std::string command = job["command"];
        paths.push_back(command.substr(0, command.find(':')));
    }
    // Byte order within each folder, folders where their names fall.
    std::vector<std::string> first(paths.begin(), paths.begin() + 6);
    EXPECT_EQ(first,
              (std::vector<std::string>{
                  "\\BackupTask", "\\CCleaner Update", "\\CreateExplorerShellUnelevatedTask",
                  "\\Credit EOM Roll-up", "\\Microsoft\\VisualStudio\\Updates\\BackgroundDownload",
                  "\\Microsoft\\Windows\\Autochk\\Proxy"}));
    EXPECT_EQ(paths.back(), "\\smartmontools");
}

// Whatever lies in the folder, each entry is one job, at once.
TEST(Tasks, HostileFiles) {
    if (program_is_windows()) GTEST_SKIP() << "FIFOs and links are made on the test's side";
    std::string root = make_temp_dir();
    const std::string open_task =
        "<Task xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">";
    std::string deep = open_task;
    for (int i = 0; i < 10000; i++) deep += "<a>";
    std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE Task [<!ENTITY a \"aaaaaaaaaa\">"
                         "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>" +
                         open_task + "&b;</Task>";
    const std::string good = real("boot-delay-30min-system.xml");
    put_task(root, "a-not-xml", "MZ\x90\x00\x03 this is a program");
    put_task(root, "b-cut-short", good.substr(0, good.size() / 2 & ~(size_t)1));
    put_task(root, "c-wrong-root",
             "<Job xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"/>");
    put_task(root, "d-wrong-namespace", "<Task xmlns=\"urn:other\"/>");
    put_task(root, "e-dtd", laughs);
    put_task(root, "f-entity", open_task + "&copy;</Task>");
    put_task(root, "g-deep", deep);
    put_task(root, "h-good", good);
    const std::string tasks = root + "/" + k_tasks;
    // 100 MB, made sparse: no read may take it whole.
    {
        std::ofstream big(tasks + "i-huge", std::ios::binary);
        big << good;
    }
    ASSERT_EQ(truncate((tasks + "i-huge").c_str(), 100 * 1024 * 1024), 0);
    ASSERT_EQ(mkfifo((tasks + "j-fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("k-loop2", (tasks + "k-loop1").c_str()), 0);
    ASSERT_EQ(symlink("k-loop1", (tasks + "k-loop2").c_str()), 0);
    ASSERT_EQ(symlink(".", (tasks + "l-self").c_str()), 0);
    ASSERT_EQ(symlink("h-good", (tasks + "m-link").c_str()), 0);
    json j = answer(jobs_in(root, "UTC", 60));
    struct {
        const char *command, *error;
    } rows[] = {
        {"\\a-not-xml", "unreadable task definition: neither UTF-8 nor UTF-16 text"},
        {"\\b-cut-short", "unreadable task definition: cut short inside a tag"},
        {"\\c-wrong-root", "unreadable task definition: the root element is not Task"},
        {"\\d-wrong-namespace",
         "unreadable task definition: not in the Task Scheduler's namespace"},
        {"\\e-dtd", "unreadable task definition: a document type declaration"},
        {"\\f-entity", "unreadable task definition: an unknown entity"},
        {"\\g-deep", "unreadable task definition: elements nested deeper than 64 levels"},
        {"\\h-good", nullptr},
        {"\\i-huge", "unreadable task definition: longer than 256 KiB"},
        {"\\j-fifo", "unreadable task definition: not a regular file"},
        {"\\k-loop1", "unreadable task definition: a link that leads nowhere"},
        {"\\k-loop2", "unreadable task definition: a link that leads nowhere"},
        {"\\l-self", "unreadable task definition: a link to a folder, not followed"},
        {"\\m-link", nullptr},
    };
    ASSERT_EQ(j["count"], std::size(rows));
    for (size_t i = 0; i < std::size(rows); i++) {
        SCOPED_TRACE(rows[i].command);
        const json &job = j["jobs"][i];
        std::string command = job["command"];
        EXPECT_EQ(command.substr(0, command.find(':')), rows[i].command);
        EXPECT_EQ(job["valid"], rows[i].error == nullptr);
        if (rows[i].error) {
            EXPECT_EQ(job["error"], rows[i].error);
            EXPECT_EQ(job["description"], "Task definition not read");
        } else {
            EXPECT_EQ(job["description"], "At system start-up, after 30 minutes");
        }
    }
}

// 10 000 task files: the first 512 in byte order, the rest counted.
TEST(Tasks, TenThousandFiles) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build reads the system's own folder";
    std::string root = make_temp_dir();
    const std::string good = real("weekly-mon-fri-0300-trigger-timelimit.xml");
    const std::string dir = root + "/" + k_tasks + "Backups/";
    make_dirs(dir);
    for (int i = 0; i < 10000; i++) {
        char name[32];
        snprintf(name, sizeof name, "t%05d", i);
        FILE *f = fopen((dir + name).c_str(), "wb");
        ASSERT_TRUE(f);
        fwrite(good.data(), 1, good.size(), f);
        fclose(f);
    }
    json j = answer(jobs_in(root, "UTC", 60));
    EXPECT_EQ(j["count"], 512);
    EXPECT_EQ(j["truncated"], true);
    EXPECT_EQ(std::string(j["jobs"][0]["command"]).substr(0, 15), "\\Backups\\t00000");
    EXPECT_EQ(std::string(j["jobs"][511]["command"]).substr(0, 15), "\\Backups\\t00511");
    EXPECT_EQ(j["jobs"][511]["next"][0]["utc"], "2026-11-13T03:00:00Z");
}

// An empty folder lists nothing and notes no source.
TEST(Tasks, EmptyFolder) {
    if (program_is_windows()) GTEST_SKIP() << "the Windows build reads the system's own folder";
    std::string root = make_temp_dir();
    make_dirs(root + "/" + k_tasks);
    json j = answer(jobs_in(root));
    EXPECT_EQ(j["count"], 0);
    EXPECT_EQ(j["sources"], json::array());
}
