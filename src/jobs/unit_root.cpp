// Where the systemd unit search path starts; set when the program is built.
#include "jobs/jobs.h"

#ifndef ZV_UNIT_ROOT
#define ZV_UNIT_ROOT ""
#endif

const char *const k_unit_root = ZV_UNIT_ROOT;
