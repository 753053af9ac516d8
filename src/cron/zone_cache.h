// The zone-offset cache of the schedule searches: conversions between times
// and calendar fields in UTC or in the conversion zone (the zone TZ names, or
// the one plat_zone_push put in force), answered by arithmetic from the
// zone's offset at the start of each UTC day. The C library is asked once per
// UTC day and the answer kept in one slot per day number modulo 512 (until a
// day a multiple of 512 days away is asked, or TZ changes), because the
// searches of one request look at the same few weeks over and over.
//
// The one rule for "no clock change near this day": the offsets (and
// daylight-saving flags) at the starts of the UTC days day - 1 to day + 2 are
// one and the same. Those days hold every instant that a wall time of the
// local day day can be, and no zone of the database undoes a change within a
// day, so every instant there has that offset. Days near a change go to the C
// library itself.
//
// Every cache keyed on a TZ setting keeps it as zone_key makes it, and starts
// afresh when the key changes.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <time.h>

enum { ZONE_KEY_CAP = 128 };

// The key of the zone TZ names (tz null: TZ unset): "-" when unset, "=" and
// the value otherwise, so that an unset TZ differs from every value, even "".
// A value too long for the key gives "", which no cache keeps.
void zone_key(char key[ZONE_KEY_CAP], const char *tz);

struct zone_cache;

// The process's one cache, made ready for conversions in UTC (utc set) or in
// the conversion zone in force; in the latter case it starts afresh when the
// zone_key of TZ differs from the one its days belong to.
zone_cache *zone_cache_for(int utc);

// The one offset (seconds east of UTC) and daylight-saving flag of the UTC
// days from day - 1 to day + 2, by the rule above. Returns 1, or 0 when a
// clock change is near or the zone cannot convert those days.
int zone_steady_offset(zone_cache *z, int64_t day, int32_t *offset, int32_t *isdst);

// The offset east of UTC at the time t in the conversion zone: from the
// cache when no clock change is near t's UTC day, else from the C library.
// Returns 1, or 0 when t cannot be converted.
int zone_offset_at(zone_cache *z, int64_t t, int32_t *offset);

// plat_mktime in the cache's zone, with the same answers: the fields of tm
// (tm_isdst -1, 0 or 1 as mktime takes it) are normalized and the time
// returned, or -1. Where the fields name exactly one instant (in UTC, or on a
// day with no clock change near and a tm_isdst the day agrees with) it is
// arithmetic; every other case goes to mktime. mktime resolves a wall time
// that occurs twice by the offset of its own previous result, so before it
// is called the last conversion answered here is shown to it first, as if it
// had made every conversion itself.
int64_t zone_to_time(zone_cache *z, struct tm *tm);

// plat_gmtime or plat_localtime of t in the cache's zone, answered from the
// cache where no clock change is near. Returns 1, or 0 when t cannot be
// converted.
int zone_break_down(zone_cache *z, int64_t t, struct tm *out);
