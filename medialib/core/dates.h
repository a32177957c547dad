// Calendar conversions for DateValue (OLE dates: days since 1899-12-30, the
// fraction being the time of day) and the date texts that tags carry.
//
// Tags store dates as text ("1999", "1999-05-06", "1999-05-06T12:30:00"; the
// OpenMG style "2005/01/01 00:00:00" is read too). Parsing is strict about the
// digits it accepts so that a damaged tag gives no date rather than a wrong one.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "medialib/core/attributes.h"

namespace medialib {

struct CivilTime {
    int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    bool has_month = false, has_day = false, has_time = false;  // which parts the text gave
};

// How a value before the epoch (1899-12-30) carries its time of day. As a
// plain count of days, -1.25 is 1899-12-28 18:00; OLE automation dates count
// the whole days back but the fraction forwards, so there -1.25 is 1899-12-29
// 06:00. The two agree from the epoch on.
enum class BeforeEpoch { PlainDays, OleTimeOfDay };

DateValue ToDateValue(const CivilTime& t, BeforeEpoch reading = BeforeEpoch::PlainDays);
// has_month/has_day/has_time all set; year 0 for values that are not finite or
// lie beyond some 8000 years either side of the epoch.
CivilTime FromDateValue(const DateValue& d, BeforeEpoch reading = BeforeEpoch::PlainDays);

// Whether the month (1-12) and day exist in that year of the Gregorian calendar.
bool IsCivilDate(int year, int month, int day);

// Parses "yyyy", "yyyy-MM", "yyyy-MM-dd", "yyyy-MM-ddTHH:mm[:ss]" (also with '/'
// as the date separator and ' ' before the time); nullopt when not a date.
std::optional<CivilTime> ParseDateText(std::string_view text);

// ISO 8601 text as ID3v2.4 and MP4 use it: "yyyy-MM-dd", with "THH:mm:ss" when
// the time of day is not midnight.
std::string FormatIsoDate(const DateValue& d);

}  // namespace medialib
