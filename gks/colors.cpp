// The colour table: named colours from colour-table files.
//
// A file holds one colour a line: "name r g b" with components 0 .. 1, or
// "name #RRGGBB"; a leading number places the colour at that index.
// Lines beginning with "#" are comments, "END" takes no index.
#include "gks/colors.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gks/gks_tool.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

constexpr int kLastIndex = CLR_MAX_COLORS - 1;
constexpr int kKeptNames = 16;  // names of the basic colours survive a new table

struct Entry {
  std::string name;
  float r = 0, g = 0, b = 0;
};

struct Table {
  std::array<Entry, CLR_MAX_COLORS> entries{};
  int num_colors = 0;
  std::string last_path;
};

Table &table() {
  static Table t;
  return t;
}

struct PenName {
  const char *name;
  int index;
};

// Print-only pens, whose meaning belongs to the hardcopy drivers.
constexpr PenName kPens[] = {
    {"pblk", 500},  {"pbblk", 501}, {"ptblk", 502}, {"pwht", 503},  {"pbwht", 504},
    {"ptwht", 505}, {"pgry", 506},  {"pbgry", 507}, {"ptgry", 508},
};

constexpr PenName kSpecialNames[] = {
    {"end", CLR_END},
    {"none", CLR_NONE},
    {"off", CLR_NONE},
    {"back", CLR_NONE},
};

class File {
 public:
  explicit File(FILE *f) : f_(f) {}
  ~File() {
    if (f_) FILE_close(f_);
  }
  File(const File &) = delete;
  File &operator=(const File &) = delete;
  FILE *get() const { return f_; }

 private:
  FILE *f_;
};

float unit(float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; }

// One line of at most CLR_LINE_MAX characters; the rest of a longer line
// is dropped. False at the end of the file.
bool read_line(FILE *f, std::string &line) {
  line.clear();
  int c = 0;
  bool any = false;
  while ((c = std::fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() < static_cast<size_t>(CLR_LINE_MAX) && c != '\0') line.push_back(static_cast<char>(c));
  }
  return any;
}

std::string trimmed(const std::string &line) {
  size_t first = 0, last = line.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (first < last && blank(line[first])) ++first;
  while (last > first && blank(line[last - 1])) --last;
  return line.substr(first, last - first);
}

bool all_of_class(const char *text, size_t count, int (*test)(int)) {
  for (size_t i = 0; i < count; ++i)
    if (!text[i] || !test(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

int hex_pair(const char *text) {
  char pair[3] = {text[0], text[1], '\0'};
  return static_cast<int>(std::strtol(pair, nullptr, 16));
}

int decimal_triple(const char *text) {
  char triple[4] = {text[0], text[1], text[2], '\0'};
  return static_cast<int>(std::strtol(triple, nullptr, 10));
}

// The colour part of a line, after any leading number: "name r g b" or
// "name #RRGGBB". A line that fits neither keeps its name and black.
void parse_colour(const char *rest, Entry &entry) {
  char name[CLR_NAME_MAX + 1] = "";
  float r = 0, g = 0, b = 0;
  int fields = std::sscanf(rest, "%19s %f %f %f", name, &r, &g, &b);
  if (fields < 4) {
    unsigned int hr = 0, hg = 0, hb = 0;
    fields = std::sscanf(rest, "%19s #%2X%2X%2X", name, &hr, &hg, &hb);
    if (fields == 4) {
      r = hr / 255.0f;
      g = hg / 255.0f;
      b = hb / 255.0f;
    } else {
      r = g = b = 0;
    }
  }
  entry.name = name;
  entry.r = unit(r);
  entry.g = unit(g);
  entry.b = unit(b);
}

// Leading index of a numbered line; large values are capped so that the
// sum with the file's start stays meaningful.
int leading_number(const char *text, const char **rest) {
  char *end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  *rest = end;
  if (errno == ERANGE || value > CLR_MAX_COLORS) return CLR_MAX_COLORS;
  return static_cast<int>(value);
}

// Reads one file into the table from index start on; returns the highest
// index any of its lines reached (at least top).
int read_file(FILE *f, int start, int top) {
  Table &t = table();
  int n = 0;
  std::string raw;
  while (read_line(f, raw)) {
    std::string line = trimmed(raw);
    if (start + n > kLastIndex) continue;
    top = std::max(top, start + n);
    if (line.empty() || line[0] == '#') continue;
    if (stricmp(line.c_str(), "END") == 0) continue;
    const char *rest = line.c_str();
    if (std::isdigit(static_cast<unsigned char>(line[0]))) {
      n = leading_number(line.c_str(), &rest);
      if (start + n > kLastIndex) continue;
    }
    parse_colour(rest, t.entries[static_cast<size_t>(start + n)]);
    ++n;
  }
  return top;
}

std::string table_list(const char *names) {
  if (names && *names) return names;
  const char *resource = RES_get("color_table");
  if (resource && *resource) return resource;
  return CLR_DEFAULT_TABLE;
}

int find_by_name(const char *name) {
  const Table &t = table();
  for (int i = 0; i < CLR_MAX_COLORS; ++i) {
    const std::string &entry = t.entries[static_cast<size_t>(i)].name;
    if (!entry.empty() && stricmp(entry.c_str(), name) == 0) return i;
  }
  return -1;
}

int lookup_word(const PenName *rows, size_t count, const char *name) {
  for (size_t i = 0; i < count; ++i)
    if (stricmp(rows[i].name, name) == 0) return static_cast<int>(i);
  return -1;
}

}  // namespace

int CLR_read_table(const char *names) {
  Table &t = table();
  std::string list = table_list(names);
  ParsedList files(list.c_str(), ',');

  bool opened_any = false;
  int top = -1;
  for (int i = 0; i < files.count(); ++i) {
    char path[FILE_NAME_SIZE];
    File f(FILE_open_data(files.at(i), path));
    if (!f.get()) continue;
    if (!opened_any) {
      for (int k = kKeptNames; k < CLR_MAX_COLORS; ++k) t.entries[static_cast<size_t>(k)].name.clear();
      top = -1;
    }
    int start = opened_any ? t.num_colors : 0;
    opened_any = true;
    top = read_file(f.get(), start, std::max(top, start - 1));
    t.num_colors = top + 1;
    t.last_path = path;
  }
  return 0;
}

int CLR_get_ind(const char *name) {
  if (!name || !*name) return CLR_NONE;
  int special = lookup_word(kSpecialNames, std::size(kSpecialNames), name);
  if (special >= 0) return kSpecialNames[special].index;
  int pen = lookup_word(kPens, std::size(kPens), name);
  if (pen >= 0) return kPens[pen].index;
  int found = find_by_name(name);
  if (found >= 0) return found;

  size_t len = std::strlen(name);
  if (name[0] == '#' && len == 7 && all_of_class(name + 1, 6, isxdigit))
    return CLR_add(name, hex_pair(name + 1) / 255.0f, hex_pair(name + 3) / 255.0f, hex_pair(name + 5) / 255.0f);
  if (name[0] == '#' && len == 10 && all_of_class(name + 1, 9, isdigit))
    return CLR_add(name, unit(decimal_triple(name + 1) / 255.0f), unit(decimal_triple(name + 4) / 255.0f),
                   unit(decimal_triple(name + 7) / 255.0f));
  if (std::isdigit(static_cast<unsigned char>(name[0]))) {
    errno = 0;
    long value = std::strtol(name, nullptr, 10);
    return (errno == ERANGE || value > 99999) ? 99999 : static_cast<int>(value);
  }
  return CLR_NONE;
}

int CLR_get_rgb(int i, float *r, float *g, float *b) {
  const Table &t = table();
  float cr = 0, cg = 0, cb = 0;
  if (t.num_colors > 0) {
    int k = std::clamp(i, 0, t.num_colors - 1);
    const Entry &e = t.entries[static_cast<size_t>(k)];
    cr = e.r;
    cg = e.g;
    cb = e.b;
  }
  if (r) *r = cr;
  if (g) *g = cg;
  if (b) *b = cb;
  return 0;
}

int CLR_get_num() { return table().num_colors; }

int CLR_add(const char *name, float r, float g, float b) {
  Table &t = table();
  r = unit(r);
  g = unit(g);
  b = unit(b);
  if (t.num_colors >= CLR_MAX_COLORS) {
    // No room: the closest colour already in the table serves.
    int best = 0;
    float best_gap = 4.0f;
    for (int i = 0; i < t.num_colors; ++i) {
      const Entry &e = t.entries[static_cast<size_t>(i)];
      float gap = std::fabs(e.r - r) + std::fabs(e.g - g) + std::fabs(e.b - b);
      if (gap < best_gap) {
        best_gap = gap;
        best = i;
      }
    }
    MESS_print(MESS_WARN, "CLR_add: color table full, using %d for %s\n", best, name ? name : "");
    return best;
  }
  int index = t.num_colors++;
  Entry &e = t.entries[static_cast<size_t>(index)];
  e.name = copy_limited(name, CLR_NAME_MAX);
  e.r = r;
  e.g = g;
  e.b = b;
  GPH_set_color(index, r, g, b);
  return index;
}

const char *CLR_get_name(int i) {
  if (i < 0 || i >= CLR_MAX_COLORS) return "";
  return table().entries[static_cast<size_t>(i)].name.c_str();
}

const char *CLR_get_table_path() { return table().last_path.c_str(); }
