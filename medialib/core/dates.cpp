#include "medialib/core/dates.h"

#include <cmath>
#include <cstdio>

namespace medialib {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int& y, int& m, int& d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<long>(yoe) + era * 400 + (m <= 2));
}

constexpr long kOleEpochFromUnix = 25569;  // days from 1899-12-30 to 1970-01-01

bool Digits(std::string_view s, size_t pos, size_t n, int& out) {
    if (pos + n > s.size()) return false;
    out = 0;
    for (size_t i = 0; i < n; ++i) {
        const char c = s[pos + i];
        if (c < '0' || c > '9') return false;
        out = out * 10 + (c - '0');
    }
    return true;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

bool IsCivilDate(int year, int month, int day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

DateValue ToDateValue(const CivilTime& t, BeforeEpoch reading) {
    const long days = DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) +
                      kOleEpochFromUnix;
    const double frac = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
    if (reading == BeforeEpoch::OleTimeOfDay && days < 0) return DateValue{static_cast<double>(days) - frac};
    return DateValue{static_cast<double>(days) + frac};
}

CivilTime FromDateValue(const DateValue& d, BeforeEpoch reading) {
    CivilTime t;
    t.has_month = t.has_day = t.has_time = true;
    if (!std::isfinite(d.days) || std::fabs(d.days) > 3.0e6) return t;
    const double whole = reading == BeforeEpoch::OleTimeOfDay ? std::trunc(d.days) : std::floor(d.days);
    long secs = std::lround(std::fabs(d.days - whole) * 86400.0);
    long day = static_cast<long>(whole);
    if (secs >= 86400) {
        secs -= 86400;
        ++day;
    }
    CivilFromDays(day - kOleEpochFromUnix, t.year, t.month, t.day);
    t.hour = static_cast<int>(secs / 3600);
    t.minute = static_cast<int>(secs / 60 % 60);
    t.second = static_cast<int>(secs % 60);
    return t;
}

std::optional<CivilTime> ParseDateText(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    CivilTime t;
    if (!Digits(s, 0, 4, t.year) || t.year < 1) return std::nullopt;
    if (s.size() == 4) return t;
    const char sep = s[4];
    if ((sep != '-' && sep != '/') || !Digits(s, 5, 2, t.month) || t.month < 1 || t.month > 12)
        return std::nullopt;
    t.has_month = true;
    if (s.size() == 7) return t;
    if (s[7] != sep || !Digits(s, 8, 2, t.day) || !IsCivilDate(t.year, t.month, t.day)) return std::nullopt;
    t.has_day = true;
    if (s.size() == 10) return t;
    if ((s[10] != 'T' && s[10] != ' ') || !Digits(s, 11, 2, t.hour) || s.size() < 16 || s[13] != ':' ||
        !Digits(s, 14, 2, t.minute) || t.hour > 23 || t.minute > 59)
        return std::nullopt;
    if (s.size() > 16) {
        if (s.size() != 19 || s[16] != ':' || !Digits(s, 17, 2, t.second) || t.second > 59)
            return std::nullopt;
    }
    t.has_time = true;
    return t;
}

std::string FormatIsoDate(const DateValue& d) {
    const CivilTime t = FromDateValue(d);
    char buf[48];
    if (t.hour == 0 && t.minute == 0 && t.second == 0) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
    }
    return buf;
}

}  // namespace medialib
