// The task list: csv_split against a direct model of its rules, and the job
// that schtasks_line makes of every line.
#include <vector>

#include "fuzz_util.h"
#include "jobs/jobs.h"

namespace {

// A field cut at its capacity keeps no half of a UTF-8 character: a lead
// byte whose sequence would run past the end goes, with what follows it.
void drop_partial_character(std::string &f) {
    size_t start = f.size();
    while (start > 0 && f.size() - start < 3 && ((unsigned char)f[start - 1] & 0xc0) == 0x80)
        start--;
    if (start == 0) return;
    unsigned char lead = (unsigned char)f[start - 1];
    size_t need = lead >= 0xf5 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 1;
    if (start - 1 + need > f.size()) f.resize(start - 1);
}

// Splits line as the reader's CSV rules say; returns the skip verdict.
int model_split(const std::string &line, std::vector<std::string> &fields) {
    fields.clear();
    size_t p = 0;
    for (;;) {
        std::string f;
        bool cut;
        if (p < line.size() && line[p] == '"') {
            p++;
            while (p < line.size() && line[p] != '"' && f.size() < 255) f += line[p++];
            cut = p < line.size() && line[p] != '"';
            if (p < line.size() && line[p] == '"') p++;
        } else {
            while (p < line.size() && line[p] != ',' && f.size() < 255) f += line[p++];
            cut = p < line.size() && line[p] != ',';
        }
        if (cut) drop_partial_character(f);
        fields.push_back(f);
        if (p < line.size() && line[p] == ',') p++;
        if (p >= line.size() || fields.size() == 4) break;
    }
    return fields.size() != 1;
}

void check_line(const std::string &text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (!line.empty()) {
        auto fields = new char[4][256];
        memset(fields, 0x5a, sizeof(char[4][256]));
        int n = -1;
        int rc = csv_split(line.c_str(), fields, &n);
        std::vector<std::string> expected;
        FUZZ_CHECK(rc == model_split(line, expected));
        FUZZ_CHECK(n == (int)expected.size());
        for (int i = 0; i < n; i++) {
            FUZZ_CHECK(terminated(fields[i], 256));
            FUZZ_CHECK(fields[i] == expected[i]);
        }
        delete[] fields;
    }

    int before = g_job_count;
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back(0);
    schtasks_line(buf.data());
    FUZZ_CHECK(g_job_count == before || g_job_count == before + 1);
    if (g_job_count == before) return;
    const cron_job &j = g_jobs[before];
    FUZZ_CHECK(strcmp(j.source, "schtasks") == 0 && strcmp(j.kind, "task") == 0);
    FUZZ_CHECK(strcmp(j.expr, "task") == 0 && j.user[0] == 0 && j.error[0] == 0);
    FUZZ_CHECK(j.valid == 1 && j.next_count == 0);
    FUZZ_CHECK(terminated(j.command, sizeof j.command) && j.command[0]);
    FUZZ_CHECK(strcmp(j.command, "TaskName") != 0);
    FUZZ_CHECK(terminated(j.description, sizeof j.description) && j.description[0]);
    FUZZ_CHECK(g_source_count == 1 && strcmp(g_sources[0], "schtasks") == 0);
}

} // namespace

// The input is split into lines as fgets would with a 2048-byte buffer.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    jobs_reset();
    for (size_t pos = 0; pos < size;) {
        size_t n = 0;
        while (pos + n < size && n < 2047) {
            if (data[pos + n++] == '\n') break;
        }
        check_line(c_text(data + pos, n));
        pos += n;
    }
    FUZZ_CHECK(g_job_count <= JOB_CAPACITY && g_source_count <= 1);
    return 0;
}
