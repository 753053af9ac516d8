#include "util/lines.h"

#include <string.h>

#include "util/str.h"

void lines_from_handle(line_input *in, int handle) {
    in->handle = handle;
    in->child = nullptr;
    in->pos = in->end = 0;
    in->done = handle < 0;
    in->timed_out = 0;
}

void lines_from_child(line_input *in, plat_child *child) {
    lines_from_handle(in, -1);
    in->child = child;
    in->done = child->fd < 0;
}

// Refills the buffer; returns 0 once nothing more will come.
static int refill(line_input *in) {
    if (in->done) return 0;
    int64_t n = in->child ? plat_child_read(in->child, in->buf, sizeof in->buf)
                          : plat_read(in->handle, in->buf, sizeof in->buf);
    if (n <= 0) {
        in->done = 1;
        if (in->child && in->child->timed_out) in->timed_out = 1;
        return 0;
    }
    in->pos = 0;
    in->end = (size_t)n;
    return 1;
}

int next_line(line_input *in, char *line, size_t cap, int *cut) {
    size_t len = 0;
    int any = 0;
    *cut = 0;
    for (;;) {
        if (in->pos == in->end && !refill(in)) break;
        any = 1;
        const char *start = in->buf + in->pos;
        size_t avail = in->end - in->pos;
        const char *nl = (const char *)memchr(start, '\n', avail);
        size_t take = nl ? (size_t)(nl - start) : avail;
        size_t room = cap - 1 - len;
        if (take > room) {
            *cut = 1;
            memcpy(line + len, start, room);
            len += room;
        } else {
            memcpy(line + len, start, take);
            len += take;
        }
        in->pos += take;
        if (nl) {
            in->pos++;
            if (*cut) len = utf8_drop_partial(line, len);
            line[len] = 0;
            return 1;
        }
    }
    if (*cut) len = utf8_drop_partial(line, len);
    line[len] = 0;
    return any && (len > 0 || *cut);
}
