#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "util/platform.h"

namespace fs = std::filesystem;

namespace {

std::string temp_dir() {
    char tmpl[] = "/tmp/zv_plat_XXXXXX";
    const char *d = mkdtemp(tmpl);
    return d ? d : "";
}

void touch(const std::string &path, const std::string &text = "") {
    std::ofstream(path) << text;
}

} // namespace

TEST(PlatListDir, SortsInByteOrderAndKeepsTheSmallestWhenFull) {
    std::string d = temp_dir();
    const char *names[] = {"b", "a-", "Z", "a", "_x", "z.dpkg-old", ".placeholder", "~"};
    for (const char *n : names) touch(d + "/" + n);
    plat_name out[16];
    int left_out = 7;
    int n = plat_list_dir(d.c_str(), out, 16, &left_out);
    ASSERT_EQ(n, 8);
    EXPECT_EQ(left_out, 0);
    const char *sorted[] = {".placeholder", "Z", "_x", "a", "a-", "b", "z.dpkg-old", "~"};
    for (int i = 0; i < n; i++) EXPECT_STREQ(out[i].s, sorted[i]) << i;

    n = plat_list_dir(d.c_str(), out, 3, &left_out);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(left_out, 1);
    for (int i = 0; i < n; i++) EXPECT_STREQ(out[i].s, sorted[i]) << i;
    EXPECT_EQ(plat_list_dir((d + "/missing").c_str(), out, 3, &left_out), -1);
    fs::remove_all(d);
}

TEST(PlatOpenRead, ReadsRegularFilesOnlyAndNeverBlocks) {
    std::string d = temp_dir();
    touch(d + "/f", "abc");
    ASSERT_EQ(mkfifo((d + "/fifo").c_str(), 0600), 0);
    int h = plat_open_read((d + "/f").c_str());
    ASSERT_GE(h, 0);
    char buf[8];
    EXPECT_EQ(plat_read(h, buf, sizeof buf), 3);
    EXPECT_EQ(plat_read(h, buf, sizeof buf), 0);
    plat_close(h);
    // No writer: a blocking open would wait here for ever.
    EXPECT_EQ(plat_open_read((d + "/fifo").c_str()), -1);
    EXPECT_EQ(plat_open_read(d.c_str()), -1);
    EXPECT_EQ(plat_open_read("/dev/null"), -1);
    EXPECT_EQ(plat_open_read((d + "/missing").c_str()), -1);

    plat_file_info info;
    ASSERT_EQ(plat_lstat((d + "/fifo").c_str(), &info), 1);
    EXPECT_EQ(info.kind, PLAT_OTHER);
    ASSERT_EQ(plat_stat((d + "/f").c_str(), &info), 1);
    EXPECT_EQ(info.kind, PLAT_REGULAR);
    EXPECT_EQ(info.size, 3);
    ASSERT_EQ(symlink("f", (d + "/link").c_str()), 0);
    ASSERT_EQ(plat_lstat((d + "/link").c_str(), &info), 1);
    EXPECT_EQ(info.kind, PLAT_LINK);
    char target[16];
    EXPECT_EQ(plat_readlink((d + "/link").c_str(), target, sizeof target), 1);
    EXPECT_STREQ(target, "f");
    fs::remove_all(d);
}

TEST(PlatChild, ReadsOutputToItsEnd) {
    const char *argv[] = {"printf", "one\\ntwo\\n", nullptr};
    plat_child c;
    ASSERT_EQ(plat_child_start(&c, argv, 5000), 1);
    std::string got;
    char buf[4];
    int64_t n;
    while ((n = plat_child_read(&c, buf, sizeof buf)) > 0) got.append(buf, (size_t)n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(c.timed_out, 0);
    plat_child_end(&c);
    EXPECT_EQ(got, "one\ntwo\n");
}

TEST(PlatChild, EndsAChildThatPassesTheDeadline) {
    const char *argv[] = {"sleep", "100", nullptr};
    plat_child c;
    ASSERT_EQ(plat_child_start(&c, argv, 200), 1);
    pid_t pid = (pid_t)c.pid;
    char buf[16];
    EXPECT_EQ(plat_child_read(&c, buf, sizeof buf), -1);
    EXPECT_EQ(c.timed_out, 1);
    plat_child_end(&c);
    // Reaped: the pid no longer names a process of ours.
    EXPECT_EQ(kill(pid, 0), -1);
}

TEST(PlatChild, MissingCommandDoesNotStart) {
    const char *argv[] = {"zv-no-such-command", nullptr};
    plat_child c;
    EXPECT_EQ(plat_child_start(&c, argv, 1000), 0);
    plat_child_end(&c);
}

// A folder, a file without execute permission and a script whose
// interpreter is missing, of that name earlier on PATH, are passed over.
TEST(PlatChild, FindsTheCommandAlongPath) {
    std::string d = temp_dir();
    fs::create_directories(d + "/a/zv-tool");
    fs::create_directories(d + "/b");
    fs::create_directories(d + "/b2");
    fs::create_directories(d + "/c");
    touch(d + "/b/zv-tool", "#!/bin/sh\necho wrong\n");
    touch(d + "/b2/zv-tool", "#!/nonexistent/sh\necho wrong\n");
    chmod((d + "/b2/zv-tool").c_str(), 0755);
    touch(d + "/c/zv-tool", "#!/bin/sh\necho right\n");
    chmod((d + "/c/zv-tool").c_str(), 0755);
    const char *old = getenv("PATH");
    std::string saved = old ? old : "";
    setenv("PATH", (d + "/a:" + d + "/b:" + d + "/b2:" + d + "/c").c_str(), 1);
    const char *argv[] = {"zv-tool", nullptr};
    plat_child c;
    int started = plat_child_start(&c, argv, 5000);
    std::string got;
    char buf[64];
    int64_t n;
    while (started && (n = plat_child_read(&c, buf, sizeof buf)) > 0) got.append(buf, (size_t)n);
    plat_child_end(&c);
    setenv("PATH", (d + "/a:" + d + "/b").c_str(), 1);
    plat_child c2;
    EXPECT_EQ(plat_child_start(&c2, argv, 5000), 0);
    EXPECT_EQ(c2.pid, -1);
    plat_child_end(&c2);
    if (old)
        setenv("PATH", saved.c_str(), 1);
    else
        unsetenv("PATH");
    EXPECT_EQ(started, 1);
    EXPECT_EQ(got, "right\n");
    fs::remove_all(d);
}

TEST(PlatUserName, ReadsThePasswdLineOfTheUid) {
    std::string d = temp_dir();
    std::string uid = std::to_string(getuid());
    touch(d + "/passwd", "bad\nother:x:1" + uid + ":0::/:/bin/sh\nme:x:" + uid + ":0::/:/bin/sh");
    char name[32];
    plat_user_name((d + "/passwd").c_str(), name, sizeof name);
    EXPECT_STREQ(name, "me");
    fs::remove_all(d);
}

TEST(PlatZone, OffsetFollowsTheZoneInUse) {
    ASSERT_EQ(plat_zone_push("Europe/Berlin"), 1);
    int32_t off = 0;
    ASSERT_EQ(plat_utc_offset(1800000000, &off), 1); // 2027-01-15
    EXPECT_EQ(off, 3600);
    ASSERT_EQ(plat_utc_offset(1815000000, &off), 1); // 2027-07-08
    EXPECT_EQ(off, 7200);
    plat_zone_pop();
}

TEST(PlatZone, PushesNestWithinOneZoneOnly) {
    const char *old = getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    int32_t off = -1;
    ASSERT_EQ(plat_zone_push("Asia/Tokyo"), 1);
    EXPECT_EQ(plat_zone_push("Asia/Tokyo"), 1);
    EXPECT_EQ(plat_zone_push("Europe/Berlin"), 0);
    plat_zone_pop();
    ASSERT_EQ(plat_utc_offset(1800000000, &off), 1);
    EXPECT_EQ(off, 9 * 3600); // still within the outer push
    plat_zone_pop();
    ASSERT_EQ(plat_utc_offset(1800000000, &off), 1);
    EXPECT_EQ(off, 0);
    EXPECT_STREQ(getenv("TZ"), "UTC");
    plat_zone_pop(); // one pop too many changes nothing
    EXPECT_STREQ(getenv("TZ"), "UTC");
    // A name asked twice gets the same answer; a missing zone stays missing.
    EXPECT_EQ(plat_zone_exists("Asia/Tokyo"), 1);
    EXPECT_EQ(plat_zone_exists("Asia/Tokyo"), 1);
    EXPECT_EQ(plat_zone_exists("Asia/Nowhere"), 0);
    EXPECT_EQ(plat_zone_exists("Asia/Nowhere"), 0);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
