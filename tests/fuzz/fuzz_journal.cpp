// journalctl's export stream: whatever bytes arrive, in whatever pieces,
// the parser passes on the same records, each vouched for by the trusted
// fields of its input, and matching them to a table of jobs keeps every
// last run well formed.
#include <vector>

#include "fuzz_util.h"
#include "jobs/history.h"
#include "jobs/journal.h"

namespace {

struct seen_record {
    int32_t kind;
    int64_t time, pid, job_pid;
    std::string unit, user, command, detail, result;
};

void collect(const hist_record *r, void *ctx) {
    FUZZ_CHECK(r->kind > HIST_NONE && r->kind <= HIST_CRON_ERROR);
    FUZZ_CHECK(terminated(r->unit, sizeof r->unit) && terminated(r->user, sizeof r->user));
    FUZZ_CHECK(terminated(r->command, sizeof r->command));
    FUZZ_CHECK(terminated(r->detail, sizeof r->detail));
    FUZZ_CHECK(terminated(r->result, sizeof r->result));
    FUZZ_CHECK(r->time >= 0 && r->pid >= 0);
    // systemd's records only from pid 1; cron's name a user.
    if (r->kind < HIST_CRON_CMD) FUZZ_CHECK(r->pid == 1 && r->unit[0]);
    if (r->kind == HIST_CRON_CMD || r->kind == HIST_CRON_END) FUZZ_CHECK(r->user[0]);
    history_apply_newest(r, "journal");
    static_cast<std::vector<seen_record> *>(ctx)->push_back(
        {r->kind, r->time, r->pid, r->job_pid, r->unit, r->user, r->command, r->detail, r->result});
}

journal_parser g_p;

std::vector<seen_record> parse(const uint8_t *data, size_t size, size_t piece) {
    std::vector<seen_record> out;
    journal_parser_init(&g_p);
    for (size_t i = 0; i < size; i += piece) {
        size_t n = size - i < piece ? size - i : piece;
        journal_feed(&g_p, (const char *)data + i, n, collect, &out);
    }
    FUZZ_CHECK(g_p.vouched <= g_p.records);
    FUZZ_CHECK((int64_t)out.size() == g_p.vouched);
    journal_finish(&g_p);
    history_finish_newest("journal");
    FUZZ_CHECK(history_unresolved() >= 0);
    return out;
}

// A few jobs for the records to meet.
void prepare_jobs() {
    jobs_reset();
    const char *const units[] = {"logrotate.service", "a.service"};
    for (const char *u : units) {
        cron_job *j = add_job();
        strcpy(j->kind, "timer");
        strcpy(j->unit, u);
        strcpy(j->timer, "x.timer");
    }
    const char *const commands[] = {"true", "/usr/local/bin/backup --full", "echo 50\\% done % in"};
    for (const char *c : commands) {
        cron_job *j = add_job();
        strcpy(j->kind, "cron");
        strcpy(j->user, "root");
        strcpy(j->command, c);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    size_t piece = 1 + data[0] % 17;
    prepare_jobs();
    history_begin();
    auto whole = parse(data + 1, size - 1, size);
    prepare_jobs();
    history_begin();
    auto split = parse(data + 1, size - 1, piece);
    FUZZ_CHECK(whole.size() == split.size());
    for (size_t i = 0; i < whole.size(); i++) {
        FUZZ_CHECK(whole[i].kind == split[i].kind && whole[i].time == split[i].time);
        FUZZ_CHECK(whole[i].unit == split[i].unit && whole[i].command == split[i].command);
        FUZZ_CHECK(whole[i].detail == split[i].detail && whole[i].job_pid == split[i].job_pid);
    }
    static const char *const k_outcomes[] = {"succeeded", "failed", "running", "started"};
    for (int i = 0; i < g_job_count; i++) {
        const cron_job &j = g_jobs[i];
        FUZZ_CHECK(terminated(j.last_outcome, sizeof j.last_outcome));
        FUZZ_CHECK(terminated(j.last_detail, sizeof j.last_detail));
        if (!j.last_from[0]) continue;
        FUZZ_CHECK(strcmp(j.last_from, "journal") == 0);
        bool known = false;
        for (const char *o : k_outcomes) known = known || strcmp(j.last_outcome, o) == 0;
        FUZZ_CHECK(known);
    }
    return 0;
}
