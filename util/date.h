// Date records and date texts.
#pragma once

constexpr int DATE_UNSET = -9999;

// Eight 32-bit fields; DATE_UNSET marks a field without a value.
struct DateRecord {
  int year, month, day, yday, wday, hour, minute, second;
};

int DATE_init(DateRecord *date);         // every field DATE_UNSET
int DATE_get_current(DateRecord *date);  // the current UTC time; 0

// "%2.2d %s %2.2d  %2.2d:%2.2d:%2.2dZ" (yy MON dd  hh:mm:ssZ); out >= 24 bytes.
int DATE_get_current_str(char *out);

int DATE_is_leap(int year);
int DATE_day_of_year(int year, int month, int day);  // 1..366, or -1 when invalid

// "[+|-]ZONE:hours": zone name (up to 4 characters) and offset. 0, -1 when unreadable.
int DATE_set_TZ(const char *text);
const char *DATE_get_TZ_name();
int DATE_get_TZ_offset();  // seconds

int DATE_decode_month(const char *name);                    // 1..12, 0 when not a month name
int DATE_decode_label(const char *text, DateRecord *date);  // 0

// Lower-case three-letter month name ("jan"), or nullptr outside 1..12.
const char *DATE_month_name(int month);
