// journalctl's export format, read as a stream: records of "NAME=value"
// lines (or a binary field: "NAME", LF, a 64-bit little-endian length, the
// bytes, LF), each record ended by an empty line. Only the fields that say
// when, who wrote the record and what it says are kept; a record is passed
// on only when the journal's trusted fields vouch for its writer: _PID=1
// and _UID=0 for systemd's records of units, _UID=0 and _COMM "cron" or
// "crond" for the cron daemons'.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "jobs/history.h"

enum {
    JOURNAL_FIELD_CAP = 2304, // longest value kept; a longer one spoils its record
    JOURNAL_FIELDS = 10,
};

struct journal_parser {
    int32_t state;    // where in a field the stream is
    char name[64];    // the field being read
    int32_t name_len; // -1 once the name is longer than the field names kept
    int32_t field;    // index of the field being read, or -1 when not kept
    char value[JOURNAL_FIELD_CAP];
    size_t value_len;
    int32_t value_long; // the value did not fit
    uint64_t bin_left;  // bytes of a binary value still to come
    int32_t len_got;    // bytes of a binary length read
    uint8_t len_bytes[8];
    // The kept fields of the current record: values, lengths and flags.
    char fields[JOURNAL_FIELDS][JOURNAL_FIELD_CAP];
    size_t lengths[JOURNAL_FIELDS];
    int32_t seen[JOURNAL_FIELDS]; // 0 absent, 1 once, 2 twice or spoilt
    int32_t any;                  // the record has at least one field
    int64_t records;              // records ended so far
    int64_t vouched;              // of those, passed on
};

// Prepares p for a new stream.
void journal_parser_init(journal_parser *p);

// Reads the n bytes at data, the next piece of the stream (pieces may end
// anywhere). Calls emit with each vouched record, in stream order; the
// record is only valid during the call.
void journal_feed(journal_parser *p, const char *data, size_t n,
                  void (*emit)(const hist_record *r, void *ctx), void *ctx);

// Ends the stream: a record not ended by an empty line is dropped.
void journal_finish(journal_parser *p);
