// Asks systemd-analyze about calendar events, with its clock pinned by
// libfaketime: `systemd-analyze calendar --iterations=N` for many values in
// one run, read back as verdict, normalized form and elapse times.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

namespace analyze {

inline const char *const k_tool = "/usr/bin/systemd-analyze";

struct answer {
    bool accepted = false;
    bool gave_up = false; // systemd's own search stopped with an error
    std::string normalized;
    std::vector<int64_t> runs; // seconds, ascending, whole
};

// What systemd-analyze says of each of the distinct values in zone tz with
// the clock frozen at now, over iterations elapse times. A value it rejects
// is absent or not accepted.
std::map<std::string, answer> ask(const std::vector<std::string> &values, const char *tz,
                                  int64_t now, int iterations);

// True when the local day (in the process's zone) of t holds a clock change.
bool on_change_day(int64_t t);

// Cuts both lists of up to five ascending runs to the runs up to the earlier
// of their last ones (a list of fewer than five has ended), without the runs
// on change days when skip_changes is set.
void comparable(std::vector<int64_t> *a, std::vector<int64_t> *b, bool skip_changes);

} // namespace analyze
