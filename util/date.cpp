#include "util/date.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "util/string.h"

namespace {

constexpr const char *kUpperMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr const char *kLowerMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr size_t kZoneNameMax = 4;

struct TimeZone {
  std::string name;
  int offset_seconds = 0;
};

TimeZone &zone() {
  static TimeZone z;
  return z;
}

// Letter c of a month name, in the case that the first letter set.
bool is_letter(char c, bool upper, char lower_letter) {
  char wanted = upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(lower_letter))) : lower_letter;
  return c == wanted;
}

const char *last_chars(const char *text, size_t n) {
  size_t length = std::strlen(text);
  return length >= n ? text + length - n : nullptr;
}

// Two-digit years: 49 is 2049, 99 is 1999, and 106 (years since 1900) is 2006.
int full_year(int year) {
  if (year < 50) year += 2000;
  if (year < 200) year += 1900;
  return year;
}

}  // namespace

int DATE_init(DateRecord *date) {
  if (date == nullptr) return -1;
  date->year = date->month = date->day = date->yday = DATE_UNSET;
  date->wday = date->hour = date->minute = date->second = DATE_UNSET;
  return 0;
}

int DATE_get_current(DateRecord *date) {
  if (date == nullptr) return -1;
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  date->year = utc.tm_year + 1900;
  date->month = utc.tm_mon + 1;
  date->day = utc.tm_mday;
  date->yday = utc.tm_yday + 1;
  date->wday = utc.tm_wday;
  date->hour = utc.tm_hour;
  date->minute = utc.tm_min;
  date->second = utc.tm_sec;
  return 0;
}

int DATE_get_current_str(char *out) {
  DateRecord now{};
  DATE_get_current(&now);
  std::snprintf(out, 24, "%2.2d %s %2.2d  %2.2d:%2.2d:%2.2dZ", now.year % 100, kUpperMonths[now.month - 1], now.day,
                now.hour, now.minute, now.second);
  return 0;
}

int DATE_is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DATE_day_of_year(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > 31) return -1;
  int yday = kDaysBefore[month - 1] + day;
  if (month > 2 && DATE_is_leap(year)) yday++;
  return yday;
}

int DATE_set_TZ(const char *text) {
  if (text == nullptr) return -1;
  int sign = 1;
  if (*text == '+' || *text == '-') {
    if (*text == '-') sign = -1;
    text++;
  }
  char name[kZoneNameMax + 1] = "";
  float hours = 0.0f;
  if (std::sscanf(text, "%4[^:]:%f", name, &hours) != 2) return -1;
  zone().name = name;
  zone().offset_seconds = static_cast<int>(sign * hours * 3600.0f);
  return 0;
}

const char *DATE_get_TZ_name() { return zone().name.c_str(); }

int DATE_get_TZ_offset() { return zone().offset_seconds; }

const char *DATE_month_name(int month) {
  if (month < 1 || month > 12) return nullptr;
  return kLowerMonths[month - 1];
}

int DATE_decode_month(const char *name) {
  if (name == nullptr || !std::isalpha(static_cast<unsigned char>(name[0]))) return 0;
  bool upper = std::isupper(static_cast<unsigned char>(name[0])) != 0;
  char first = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
  char second = name[1];
  char third = second != '\0' ? name[2] : '\0';
  switch (first) {
    case 'a':
      if (is_letter(third, upper, 'r')) return 4;
      if (is_letter(third, upper, 'g')) return 8;
      return 0;
    case 'd': return 12;
    case 'f': return 2;
    case 'j':
      if (is_letter(second, upper, 'a')) return 1;
      if (is_letter(third, upper, 'n')) return 6;
      if (is_letter(third, upper, 'l')) return 7;
      return 0;
    case 'm':
      if (is_letter(third, upper, 'r')) return 3;
      if (is_letter(third, upper, 'y')) return 5;
      return 0;
    case 'n': return 11;
    case 'o': return 10;
    case 's': return 9;
    default: return 0;
  }
}

int DATE_decode_label(const char *text, DateRecord *date) {
  if (date == nullptr) return -1;
  DATE_init(date);
  if (text == nullptr) return 0;

  struct Fields {
    int year = DATE_UNSET, month = DATE_UNSET, day = DATE_UNSET;
    int hour = DATE_UNSET, minute = DATE_UNSET, second = DATE_UNSET;
    char month_name[4] = "";
  };
  // Each form starts from nothing, so a form that matches only in part
  // leaves no trace for the next one.
  Fields f;
  const char *tail = nullptr;
  bool have_month_name = true;
  if (f = Fields(); std::sscanf(text, "%2dZ %2d %3s %2d", &f.hour, &f.day, f.month_name, &f.year) == 4) {
  } else if (f = Fields();
             (tail = last_chars(text, 15)) != nullptr &&
             std::sscanf(tail, "%2d%2dZ %2d %3s %2d", &f.hour, &f.minute, &f.day, f.month_name, &f.year) == 5) {
    // "HHMMZ" written with a blank for a leading zero: " 930Z".
    if (tail[0] == ' ') std::sscanf(tail, "%1d%2d", &f.hour, &f.minute);
  } else if (f = Fields(); (tail = last_chars(text, 19)) != nullptr &&
                           std::sscanf(tail, "%2d:%2d:%2dZ %2d %3s %2d", &f.hour, &f.minute, &f.second, &f.day,
                                       f.month_name, &f.year) == 6) {
  } else if (f = Fields(); (tail = last_chars(text, 13)) != nullptr &&
                           std::sscanf(tail, "%2dZ %2d %3s %2d", &f.hour, &f.day, f.month_name, &f.year) == 4) {
  } else {
    f = Fields();
    have_month_name = false;
    std::sscanf(text, "%2d %2d %2d %2d", &f.year, &f.month, &f.day, &f.hour);
  }

  if (f.year != DATE_UNSET) f.year = full_year(f.year);
  if (have_month_name) f.month = DATE_decode_month(f.month_name);
  date->year = f.year;
  date->month = f.month;
  date->day = f.day;
  date->hour = f.hour;
  date->minute = f.minute;
  date->second = f.second;
  return 0;
}
