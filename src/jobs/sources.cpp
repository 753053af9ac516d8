#include "jobs/sources.h"

#include "jobs/jobs.h"
#include "jobs/paths.h"
#include "util/str.h"

namespace {

// One reader of the node's own jobs, and what it reads.
struct node_reader {
    void (*read)(int64_t start);
    void (*names)(void (*emit)(const char *name));
};

#ifdef _WIN32

// The task list has no runs to search: start is of no use to it.
void task_list(int64_t) {
    read_schtasks();
}

// The command that lists the tasks.
void task_list_names(void (*emit)(const char *)) {
    emit("schtasks /Query /FO CSV /NH");
}

const node_reader k_node_readers[] = {
    {task_list, task_list_names},
};

#else

// The spool folders (one name each), crontab -l, the system crontabs and the
// run-parts folders that their lines name.
void cron_file_names(void (*emit)(const char *)) {
    char spools[512];
    str_set(spools, k_cron_spools);
    for (char *dir = spools; *dir;) {
        char *end = dir;
        while (*end && *end != ':') end++;
        const int last = !*end;
        *end = 0;
        if (dir[0]) emit(dir);
        if (last) break;
        dir = end + 1;
    }
    emit("crontab -l");
    emit(k_system_crontab);
    emit(k_cron_d);
    emit("run-parts folders");
}

// The folders of the unit search path, highest precedence first.
void unit_folder_names(void (*emit)(const char *)) {
    for (const char *folder : k_unit_search_path) emit(folder);
}

const node_reader k_node_readers[] = {
    {read_live_cron, cron_file_names},
    {read_timers, unit_folder_names},
};

#endif

} // namespace

void read_job_sources(const char *fixture, int64_t start) {
    if (fixture && fixture[0]) {
        read_fixture_file(fixture, start);
        return;
    }
    for (const node_reader &r : k_node_readers) r.read(start);
}

void job_source_names(void (*emit)(const char *name)) {
    emit("CRONTAB_FILE");
    for (const node_reader &r : k_node_readers) r.names(emit);
}
