#include "util/mess.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/date.h"
#include "util/files.h"
#include "util/flag.h"
#include "util/string.h"
#include "util/system.h"

namespace {

constexpr int kDefaultMaxLines = 22;
constexpr size_t kPerMessageNameMax = 159;
constexpr unsigned int kErrorOrWarn = 0xF0u;

struct MessState {
  unsigned int level = MESS_DEFAULT_LEVEL;
  int explicit_settings = 0;
  int out = MESS_OUT_TERMINAL;
  FILE *pfile = nullptr;  // the log file of the "fi" entries
  FILE *ofile = nullptr;  // the extra copy of MESS_file
  std::string per_message_file;
  int page = 1;
  int max_lines = kDefaultMaxLines;
  int lines = 0;
};

MessState &state() {
  static MessState s;
  return s;
}

void close_file(FILE *&f) {
  if (f != nullptr) FILE_close(f);
  f = nullptr;
}

struct ClassRow {
  const char *keyword;
  size_t match_length;
  unsigned int mask;
};

// Matched on the leading letters, so "warning" and "messages" still work.
constexpr ClassRow kClasses[] = {
    {"print", 5, MESS_PRINT}, {"error", 5, MESS_ERROR}, {"warn", 4, MESS_WARN}, {"mess", 4, MESS_MESS},
    {"out1", 4, MESS_OUT1},   {"out2", 4, MESS_OUT2},   {"out3", 4, MESS_OUT3}, {"out4", 4, MESS_OUT4},
    {"debug", 5, MESS_DEBUG}, {"none", 4, 0u},
};

unsigned int class_mask(const char *word) {
  for (const ClassRow &row : kClasses)
    if (strnicmp(word, row.keyword, static_cast<int>(row.match_length)) == 0 && std::strlen(word) >= row.match_length)
      return row.mask;
  return 0u;
}

// The sub-level letter picks one bit of each four-bit group.
unsigned int narrow_to_sub_level(unsigned int mask, char letter) {
  switch (letter | 0x20) {
    case 'a': return mask & 0x11111111u;
    case 'b': return mask & 0x22222222u;
    case 'c': return mask & 0x44444444u;
    case 'd': return mask & 0x88888888u;
    default: return mask;
  }
}

// The mask and every less verbose bit below its highest bit.
unsigned int with_lower_bits(unsigned int mask) {
  if (mask == 0) return 0;
  unsigned int high = 0x80000000u;
  while ((mask & high) == 0) high >>= 1;
  return mask | (high - 1);
}

void apply_level_entry(const char *entry) {
  char sign = 0;
  if (*entry == '+' || *entry == '-') sign = *entry++;
  unsigned int mask = class_mask(entry);
  size_t length = std::strlen(entry);
  if (length > 0) mask = narrow_to_sub_level(mask, entry[length - 1]);
  MessState &s = state();
  if (sign == '+')
    s.level |= mask;
  else if (sign == '-')
    s.level &= ~mask;
  else
    s.level = with_lower_bits(mask);
}

// The file name follows the keyword and one separator character.
const char *name_after(const char *entry, size_t skip) { return std::strlen(entry) > skip ? entry + skip : ""; }

void open_log(const char *name, const char *mode, int out_mode) {
  MessState &s = state();
  close_file(s.pfile);
  // An empty name would be the terminal itself; that is no log file.
  if (*name != '\0') s.pfile = FILE_open(name, mode);
  s.out = out_mode;
}

struct EntryRow {
  const char *prefix;
  void (*apply)(const char *entry);
};

// Checked in order; an entry that matches none is a level entry. The
// signed file entries come before the signed level entries they resemble.
const EntryRow kEntries[] = {
    {"@fi", [](const char *e) { open_log(name_after(e, 4), "a", MESS_OUT_DATED); }},
    {"+fi", [](const char *e) { open_log(name_after(e, 4), "a", MESS_OUT_TERMINAL); }},
    {"-fi", [](const char *e) { open_log(name_after(e, 4), "w", MESS_OUT_TERMINAL); }},
    {"dfi",
     [](const char *e) {
       state().per_message_file = copy_limited(name_after(e, 4), kPerMessageNameMax);
       state().out = MESS_OUT_PER_MESSAGE;
     }},
    {"fi", [](const char *e) { open_log(name_after(e, 3), "a", MESS_OUT_FILE_ONLY); }},
    {"nopage", [](const char *) { state().page = 0; }},
    {"page", [](const char *) { state().page = 2; }},
    {"line",
     [](const char *e) {
       int n = std::atoi(name_after(e, 5));
       state().max_lines = n < 1 ? kDefaultMaxLines : n;
     }},
};

void apply_entry(const char *entry) {
  for (const EntryRow &row : kEntries) {
    size_t n = std::strlen(row.prefix);
    if (std::strlen(entry) >= n && strnicmp(entry, row.prefix, static_cast<int>(n)) == 0) {
      row.apply(entry);
      return;
    }
  }
  apply_level_entry(entry);
}

std::string format_text(const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(n));
  return text;
}

void write_text(FILE *f, const std::string &text) {
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

void write_to_log(const std::string &text) {
  MessState &s = state();
  if (s.out == MESS_OUT_PER_MESSAGE) {
    if (s.per_message_file.empty()) return;
    FILE *f = FILE_open(s.per_message_file.c_str(), "a");
    if (f == nullptr) return;
    write_text(f, text);
    FILE_close(f);
    return;
  }
  if (s.pfile == nullptr) return;
  if (s.out == MESS_OUT_DATED) {
    char date[32];
    DATE_get_current_str(date);
    std::fprintf(s.pfile, "%s -- ", date);
  }
  write_text(s.pfile, text);
}

int count_newlines(const char *format) {
  int n = 0;
  for (const char *p = format; *p != '\0'; p++)
    if (*p == '\n') n++;
  return n;
}

}  // namespace

int MESS_vprint(unsigned int mask, const char *format, va_list args) {
  MessState &s = state();
  if ((mask & s.level) == 0 || format == nullptr) return 0;
  std::string text = format_text(format, args);

  if (s.ofile != nullptr) write_text(s.ofile, text);
  write_to_log(text);
  if (s.out == MESS_OUT_FILE_ONLY) return 1;

  write_text((mask & kErrorOrWarn) != 0 ? stderr : stdout, text);
  if (s.page == 2) {
    // The format, not the expanded text, is what the page count sees.
    s.lines += count_newlines(format);
    if (s.lines > s.max_lines) MESS_hold(mask, "Press return to continue\n");
  }
  return 1;
}

int MESS_print(unsigned int mask, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int result = MESS_vprint(mask, format, args);
  va_end(args);
  return result;
}

int MESS_print_prog(const char *name) {
  return MESS_print(MESS_MESS, "      %s (Ver %s)\n\n", name ? name : "", ZYB_version());
}

int MESS_set_str(const char *spec) {
  state().explicit_settings++;
  ParsedList entries(spec, ',');
  for (int i = 0; i < entries.count(); i++) apply_entry(entries.at(i));
  return 0;
}

int MESS_set(int code, unsigned int bits) {
  MessState &s = state();
  if (code < -1 || code > 21) return 0;
  // Late settings (from defaults) must not undo what the user asked for.
  if (code >= 16 && s.explicit_settings > 0) return 0;
  if (code < 5) s.explicit_settings++;
  switch (code) {
    case 0:
    case 10:
    case 20: s.level = with_lower_bits(bits); break;
    case 1:
    case 11:
    case 21: s.level |= bits; break;
    case -1:
    case 9:
    case 19: s.level &= ~bits; break;
    default: break;
  }
  return 0;
}

int MESS_check(unsigned int mask) { return (mask & state().level) != 0; }
int MESS_check_set() { return state().explicit_settings; }
unsigned int MESS_get() { return state().level; }
int MESS_get_max_lines() { return state().max_lines; }
int MESS_get_out() { return state().out; }
int MESS_get_page() { return state().page; }

int MESS_set_out(int mode) {
  state().out = mode;
  return 0;
}

int MESS_set_page(int page) {
  state().page = page;
  return 0;
}

int MESS_file(const char *name, const char *mode) {
  MessState &s = state();
  close_file(s.ofile);
  if (name == nullptr) return -1;
  s.ofile = FILE_open(name, mode ? mode : "w");
  return s.ofile != nullptr ? 0 : -1;
}

int MESS_file_close() {
  close_file(state().ofile);
  return 0;
}

int MESS_hold(unsigned int mask, const char *prompt) {
  MessState &s = state();
  if (!MESS_check(mask) || s.out == MESS_OUT_FILE_ONLY || FLAG_batch() || s.page == 0) return 0;
  bool error_and_warn = (mask & MESS_ERROR) != 0 && (mask & MESS_WARN) != 0;
  write_text(error_and_warn ? stderr : stdout, prompt ? prompt : "");
  std::getchar();
  s.lines = 0;
  return 1;
}

void MESS_reset() {
  MessState &s = state();
  close_file(s.pfile);
  close_file(s.ofile);
  s = MessState();
}
