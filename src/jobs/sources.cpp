#include "jobs/sources.h"

#include "jobs/jobs.h"
#include "jobs/paths.h"
#include "jobs/timeline.h"
#include "util/str.h"

namespace {

// One reader of the node's own jobs, and what it reads.
struct node_reader {
    void (*read)(int64_t start, run_window *window);
    void (*names)(void (*emit)(const char *name));
};

#ifdef _WIN32

// The task definition files; without the rights to read their folder, the
// task list, which still names every task.
void tasks(int64_t start, run_window *window) {
    if (!read_task_folder(start, window)) read_schtasks();
}

// The command that lists the tasks: the fixed self-description names the
// task list, which every node can read, as it always has.
void task_list_names(void (*emit)(const char *)) {
    emit("schtasks /Query /FO CSV /NH");
}

const node_reader k_node_readers[] = {
    {tasks, task_list_names},
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

// A task folder in Windows' layout, read only where the build names one (a
// test build reading a prepared tree): a POSIX node has none.
void task_folder(int64_t start, run_window *window) {
    read_task_folder(start, window);
}

void task_folder_names(void (*emit)(const char *)) {
    if (k_task_folder[0]) emit(k_task_folder);
}

// The folders of the unit search path, highest precedence first.
void unit_folder_names(void (*emit)(const char *)) {
    for (const char *folder : k_unit_search_path) emit(folder);
}

const node_reader k_node_readers[] = {
    {read_live_cron, cron_file_names},
    {task_folder, task_folder_names},
    {read_timers, unit_folder_names},
};

#endif

} // namespace

void read_job_sources(const char *fixture, int64_t start, run_window *window) {
    if (fixture && fixture[0]) {
        read_fixture_file(fixture, start, window);
        return;
    }
    for (const node_reader &r : k_node_readers) r.read(start, window);
}

void job_source_names(void (*emit)(const char *name)) {
    emit("CRONTAB_FILE");
    for (const node_reader &r : k_node_readers) r.names(emit);
}
