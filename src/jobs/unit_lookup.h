// systemd unit lookup from the unit files alone: which timers are enabled
// (their names in the "*.wants" and "*.requires" folders of the unit search
// path), and where a unit's file and drop-ins are. The search path is
// k_unit_search_path (paths.h), read under k_root.
#pragma once

#include "jobs/unit_file.h"
#include "util/platform.h"

enum { UNIT_TIMER_CAP = 1024 };

// Lists the folders of the search path once each, then collects the enabled
// "*.timer" names, once each, in name order: at most UNIT_TIMER_CAP of them,
// and 2048 names per wants folder. Stores a pointer to the names in *names
// (valid until the next call) and returns their count. Sets g_truncated when
// an enabled name may have been left out.
int unit_enabled_timers(const plat_name **names);

// Applies the unit file of name (the first one found along the search path,
// or its template's for "name@instance.type") and then its drop-ins
// ("NAME.d/*.conf", the template's first, in file-name order, the higher
// folder winning for equal names) to the records given (either may be null).
// Needs the listing of unit_enabled_timers. Returns 1, or 0 when there is no
// unit file, or it is masked (a link to /dev/null) or unreadable.
int unit_load(const char *name, timer_unit *timer, service_unit *service);
