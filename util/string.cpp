#include "util/string.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

int lowered(char c) { return std::tolower(static_cast<unsigned char>(c)); }

}  // namespace

int parse_string(const char *text, char delim, int *count, char ***array) {
  *count = 0;
  *array = nullptr;
  if (text == nullptr || *text == '\0') return -1;

  size_t length = std::strlen(text);
  char *copy = static_cast<char *>(std::malloc(length + 1));
  if (copy == nullptr) return -1;
  std::memcpy(copy, text, length + 1);
  while (length > 0 && copy[length - 1] == delim) copy[--length] = '\0';

  int fields = 1;
  for (size_t i = 0; i < length; i++)
    if (copy[i] == delim) fields++;

  char **list = static_cast<char **>(std::malloc(sizeof(char *) * fields));
  if (list == nullptr) {
    std::free(copy);
    return -1;
  }
  int n = 0;
  list[n++] = copy;
  for (size_t i = 0; i < length; i++) {
    if (copy[i] != delim) continue;
    copy[i] = '\0';
    list[n++] = copy + i + 1;
  }
  *count = fields;
  *array = list;
  return 0;
}

int free_parsed_array(int count, char **array) {
  if (count == 0 || array == nullptr) return 0;
  std::free(array[0]);
  std::free(array);
  return 0;
}

int stricmp(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return 1;
  while (*a != '\0' && *b != '\0' && lowered(*a) == lowered(*b)) {
    a++;
    b++;
  }
  return lowered(*a) - lowered(*b);
}

int strnicmp(const char *a, const char *b, int n) {
  if (a == nullptr || b == nullptr) return 1;
  int i = 0;
  while (i < n - 1 && a[i] != '\0' && b[i] != '\0' && lowered(a[i]) == lowered(b[i])) i++;
  return lowered(a[i]) - lowered(b[i]);
}

int fill_string(char *text, char from, char to) {
  if (text == nullptr) return 0;
  for (char *p = text; *p != '\0'; p++)
    if (*p == from) *p = to;
  return 0;
}

int wstrim_string(char *text) {
  if (text == nullptr) return 1;
  char *out = text;
  for (const char *in = text; *in != '\0'; in++)
    if (*in != '\r' && *in != '\n') *out++ = *in;
  *out = '\0';
  trim_string(text);
  return 1;
}

int trim_string(char *text) {
  if (text == nullptr) return 0;
  size_t length = std::strlen(text);
  while (length > 0 && text[length - 1] == ' ') text[--length] = '\0';
  return 0;
}

int trim_cr_string(char *text) {
  if (text == nullptr) return 0;
  size_t length = std::strlen(text);
  while (length > 0 && text[length - 1] == '\r') text[--length] = '\0';
  return 0;
}

int low_string(char *text) {
  if (text == nullptr || *text == '\0') return 0;
  for (char *p = text; *p != '\0'; p++)
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
  return 1;
}

std::string copy_limited(const char *text, size_t max) {
  if (text == nullptr) return std::string();
  return std::string(text, strnlen(text, max));
}

char *copy_limited_to(char *out, const char *text, size_t max) {
  size_t length = text == nullptr ? 0 : strnlen(text, max);
  if (length > 0) std::memmove(out, text, length);
  out[length] = '\0';
  return out;
}
