// Line-by-line reading of a file or a child's output into fixed buffers.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "util/platform.h"

struct line_input {
    int handle;        // from plat_open_read, or -1
    plat_child *child; // read instead of handle when set
    char buf[8192];
    size_t pos, end;
    int32_t done;      // end of input, read error, or deadline passed
    int32_t timed_out; // the child's deadline passed with input left unread
};

// Prepares in to read a handle from plat_open_read, or a started child.
void lines_from_handle(line_input *in, int handle);
void lines_from_child(line_input *in, plat_child *child);

// Stores the next line into line (capacity cap), without its LF, and returns
// 1; returns 0 at the end of the input. A line longer than cap - 1 keeps its
// first cap - 1 bytes, the rest of it is skipped (it never reads as a line
// of its own) and *cut is set to 1; otherwise *cut is 0.
int next_line(line_input *in, char *line, size_t cap, int *cut);
