// String helpers shared by every module. Included as "util/string.h";
// <string.h> remains the C library header.
#pragma once

#include <cstddef>
#include <string>

// Splits a heap copy of text at delim (trailing delimiters dropped). The
// caller owns the result and releases it with free_parsed_array. Returns 0,
// or -1 (count 0, array nullptr) for a missing or empty text.
int parse_string(const char *text, char delim, int *count, char ***array);
int free_parsed_array(int count, char **array);

// The pieces of a parse_string (or RES_getvals) result, released on every
// way out. A fresh list hands its out-parameters to a call that fills it:
// RES_getvals("filename", list.count_out(), list.items_out()).
class ParsedList {
 public:
  ParsedList() = default;
  ParsedList(const char *text, char delim) { parse_string(text, delim, &count_, &items_); }
  ~ParsedList() { free_parsed_array(count_, items_); }
  ParsedList(const ParsedList &) = delete;
  ParsedList &operator=(const ParsedList &) = delete;

  int count() const { return items_ ? count_ : 0; }
  // The i-th piece; nullptr beyond the end.
  const char *at(int i) const { return (i >= 0 && i < count()) ? items_[i] : nullptr; }
  char **items() const { return items_; }
  int *count_out() { return &count_; }
  char ***items_out() { return &items_; }

 private:
  int count_ = 0;
  char **items_ = nullptr;
};

// Case-insensitive comparisons; a missing string on either side gives 1.
int stricmp(const char *a, const char *b);
int strnicmp(const char *a, const char *b, int n);

int wstrim_string(char *text);                    // drop CR/LF anywhere and trailing blanks; 1
int trim_string(char *text);                      // drop trailing blanks; 0
int trim_cr_string(char *text);                   // drop trailing carriage returns; 0
int low_string(char *text);                       // lower-case A-Z; 0 for a missing/empty text
int fill_string(char *text, char from, char to);  // 0

// The one truncation helper for the design's fixed limits: at most max
// characters of text (nullptr gives the empty string).
std::string copy_limited(const char *text, size_t max);

// Copies at most max characters of text into out (which holds max + 1
// bytes) and terminates it. Returns out.
char *copy_limited_to(char *out, const char *text, size_t max);
