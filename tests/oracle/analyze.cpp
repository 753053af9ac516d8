#include "analyze.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "cron/cron.h"

namespace analyze {

namespace {

std::string shell_quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// "Www YYYY-MM-DD HH:MM:SS UTC" as seconds since 1970.
bool parse_utc_stamp(const std::string &s, int64_t *out) {
    int y, mo, d, h, mi, se;
    char wd[8], zone[8];
    if (sscanf(s.c_str(), "%7s %d-%d-%d %d:%d:%d %7s", wd, &y, &mo, &d, &h, &mi, &se, zone) != 8)
        return false;
    if (std::string(zone) != "UTC") return false;
    *out = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + se;
    return true;
}

std::string after_colon(const std::string &line) {
    size_t c = line.find(": ");
    return c == std::string::npos ? "" : line.substr(c + 2);
}

std::string slurp(FILE *f) {
    std::string out;
    char buf[65536];
    size_t n;
    while (f && (n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return out;
}

} // namespace

std::map<std::string, answer> ask(const std::vector<std::string> &values, const char *tz,
                                  int64_t now, int iterations) {
    char err_path[] = "/tmp/zv_analyze_XXXXXX";
    int fd = mkstemp(err_path);
    if (fd >= 0) close(fd);
    std::string cmd = std::string("env -i TZ=") + tz + " LD_PRELOAD=" ZV_FAKETIME_LIB +
                      " FAKETIME_FMT=%s FAKETIME=" + std::to_string(now) + " " + k_tool +
                      " calendar --iterations=" + std::to_string(iterations);
    for (const std::string &v : values) cmd += " " + shell_quote(v);
    cmd += std::string(" 2>") + err_path;
    FILE *p = popen(cmd.c_str(), "r");
    std::string out = slurp(p);
    if (p) pclose(p);
    FILE *ef = fopen(err_path, "r");
    std::string err = slurp(ef);
    if (ef) fclose(ef);
    unlink(err_path);

    // One block per accepted value, in order: "  Original form: " (left out
    // when the value is its own normalized form), "Normalized form: ", the
    // elapse lines. A rejected value is named on stderr.
    std::vector<std::vector<std::string>> blocks;
    std::istringstream in(out);
    std::string line;
    bool after_original = false;
    while (std::getline(in, line)) {
        bool original = line.rfind("  Original form: ", 0) == 0;
        bool normalized = line.rfind("Normalized form: ", 0) == 0;
        if (original || (normalized && !after_original)) blocks.emplace_back();
        after_original = original;
        if (!blocks.empty()) blocks.back().push_back(line);
    }
    std::map<std::string, answer> answers;
    size_t next_block = 0;
    for (const std::string &v : values) {
        const std::string quoted = " '" + v + "': ";
        bool refused = false;
        std::istringstream errs(err);
        while (std::getline(errs, line))
            if (line.rfind("Failed to parse calendar", 0) == 0 &&
                line.find(quoted) != std::string::npos)
                refused = true;
        if (refused) continue;
        answer &a = answers[v];
        a.accepted = true;
        // A value whose search failed gets no block.
        if (err.find("Failed to determine next elapse for '" + v + "': ") != std::string::npos) {
            a.gave_up = true;
            continue;
        }
        if (next_block >= blocks.size()) break;
        const std::vector<std::string> &b = blocks[next_block++];
        for (size_t i = 0; i < b.size(); i++) {
            if (b[i].rfind("Normalized form: ", 0) == 0) a.normalized = after_colon(b[i]);
            if (b[i].find("Next elapse: ") == std::string::npos &&
                b[i].find("Iter. #") == std::string::npos)
                continue;
            std::string stamp = after_colon(b[i]);
            if (stamp == "never") continue;
            if (i + 1 < b.size() && b[i + 1].find("(in UTC): ") != std::string::npos)
                stamp = after_colon(b[i + 1]);
            int64_t t;
            if (parse_utc_stamp(stamp, &t)) a.runs.push_back(t);
        }
    }
    return answers;
}

namespace {

int64_t offset_at(int64_t t) {
    time_t tt = (time_t)t;
    struct tm tm;
    localtime_r(&tt, &tm);
    return tm.tm_gmtoff;
}

} // namespace

bool on_change_day(int64_t t) {
    const int64_t off = offset_at(t);
    const int64_t day = (t + off) / 86400;
    return offset_at(day * 86400 - off) != off || offset_at((day + 1) * 86400 - off - 1) != off;
}

void comparable(std::vector<int64_t> *a, std::vector<int64_t> *b, bool skip_changes) {
    int64_t limit = INT64_MAX;
    if (a->size() == 5) limit = std::min(limit, a->back());
    if (b->size() == 5) limit = std::min(limit, b->back());
    for (std::vector<int64_t> *v : {a, b}) {
        std::vector<int64_t> kept;
        for (int64_t t : *v)
            if (t <= limit && !(skip_changes && on_change_day(t))) kept.push_back(t);
        *v = kept;
    }
}

} // namespace analyze
