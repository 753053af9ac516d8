// The XML reader and the task definition reader on fuzzed bytes: the text
// made is well-formed UTF-8 without NUL, a parsed tree is consistent (every
// element inside its parent, at most 64 levels), and the job made is
// terminated, valid or "unreadable task definition: ...", with its runs
// ascending after the start, within the horizon, each one of an enabled
// trigger's own runs, and its lane of a timeline window agrees with them.
#include "fuzz_util.h"
#include "jobs/jobs.h"
#include "util/str.h"
#include "util/xml.h"

namespace {

const int64_t k_start = 1794458190;

bool utf8_ok(const char *s, size_t n) {
    for (size_t i = 0; i < n;) {
        const int k = utf8_char_len((const unsigned char *)s + i, n - i);
        if (!k || !s[i]) return false;
        i += (size_t)k;
    }
    return true;
}

void check_tree(const xml_doc *doc) {
    FUZZ_CHECK(doc->count >= 1 && doc->count <= XML_MAX_NODES);
    FUZZ_CHECK(doc->nodes[0].parent == -1);
    for (int i = 0; i < doc->count; i++) {
        const xml_node *n = &doc->nodes[i];
        FUZZ_CHECK(n->tag >= 0 && n->tag < n->name && n->name + n->name_len <= n->tag_end);
        FUZZ_CHECK(n->tag_end <= n->content && n->content <= n->content_end);
        FUZZ_CHECK(n->content_end <= n->end && n->end <= doc->len);
        int depth = 0;
        for (int p = n->parent; p >= 0; p = doc->nodes[p].parent) {
            FUZZ_CHECK(p < i);
            const xml_node *up = &doc->nodes[p];
            FUZZ_CHECK(up->content <= n->tag && n->end <= up->content_end);
            depth++;
        }
        FUZZ_CHECK(depth < XML_MAX_DEPTH);
        char text[256];
        xml_text(doc, i, text, sizeof text);
        FUZZ_CHECK(terminated(text, sizeof text) && utf8_ok(text, strlen(text)));
    }
}

void check_job(const uint8_t *data, size_t size) {
    jobs_reset();
    cron_job &job = g_jobs[0];
    run_window *window = fuzz_window(k_start, size ? data[size - 1] : 0);
    task_fill_job(&job, "\\Fuzz", data, size, k_start, window);
    check_lane(window, &job);
    FUZZ_CHECK(strcmp(job.source, "Task Scheduler") == 0 && strcmp(job.kind, "task") == 0);
    FUZZ_CHECK(terminated(job.expr, sizeof job.expr) && terminated(job.user, sizeof job.user));
    FUZZ_CHECK(terminated(job.command, sizeof job.command));
    FUZZ_CHECK(terminated(job.description, sizeof job.description) && job.description[0]);
    FUZZ_CHECK(strncmp(job.command, "\\Fuzz", 5) == 0);
    if (!job.valid) {
        FUZZ_CHECK(strncmp(job.error, "unreadable task definition: ", 28) == 0);
        FUZZ_CHECK(job.next_count == 0);
        return;
    }
    FUZZ_CHECK(job.next_count >= 0 && job.next_count <= TASK_MAX_RUNS);
    // The same definition once more, its triggers asked one by one.
    static char utf8[TASK_FILE_LIMIT * 3 / 2 + 16];
    static xml_doc doc;
    static task_def task;
    static task_text text;
    size_t len;
    const char *error;
    FUZZ_CHECK(xml_to_utf8(data, size, utf8, sizeof utf8, &len, &error));
    FUZZ_CHECK(xml_parse(&doc, utf8, len) && task_from_doc(&doc, &task, &text));
    for (int i = 0; i < job.next_count; i++) {
        FUZZ_CHECK(job.next[i] > (i ? job.next[i - 1] : k_start));
        FUZZ_CHECK(job.next[i] <= k_start + 7305LL * 86400);
        bool found = false;
        for (int k = 0; k < task.trigger_count && !found; k++) {
            if (!task.triggers[k].enabled) continue;
            int64_t runs[TASK_MAX_RUNS];
            const int n = task_trigger_runs(&task.triggers[k], k_start, runs);
            for (int r = 0; r < n; r++) found = found || runs[r] == job.next[i];
        }
        FUZZ_CHECK(found);
    }
    FUZZ_CHECK(task.enabled || job.next_count == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    static char out[8192 * 3];
    size_t len = 0;
    const char *error = nullptr;
    if (xml_to_utf8(data, size, out, sizeof out, &len, &error)) {
        FUZZ_CHECK(len < sizeof out && out[len] == 0 && utf8_ok(out, len));
        static xml_doc doc;
        if (xml_parse(&doc, out, len))
            check_tree(&doc);
        else
            FUZZ_CHECK(doc.error[0] && terminated(doc.error, sizeof doc.error));
    } else {
        FUZZ_CHECK(error && error[0]);
    }
    check_job(data, size);
    return 0;
}
