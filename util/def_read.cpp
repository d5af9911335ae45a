#include "util/def_read.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

constexpr size_t kTitleMax = 29;
constexpr size_t kCmpTargetMax = 39;
constexpr size_t kValidTargetMax = 59;
constexpr size_t kEnvTargetMax = 44;
constexpr size_t kEnvNameMax = 19;
constexpr size_t kDefaultsPathMax = 79;

// One IF level: this branch is taken, no branch taken yet, or a branch was
// taken before ("c": closed for the rest of this IF).
enum class Branch { taken, waiting, closed };

struct DefState {
  std::string prog_name = "Zyb";
  std::string prog_title;
  FILE *def_file = nullptr;
  std::vector<std::string> tags;
  std::vector<Branch> match;
  int excess_levels = 0;  // IFs nested deeper than the stack holds
  bool matches = true;
};

DefState &state() {
  static DefState s;
  return s;
}

std::string target_name(const char *option, size_t max) {
  const DefState &s = state();
  std::string target;
  if (s.prog_title.empty())
    target = s.prog_name + "." + option;
  else if (s.prog_title[0] == '+')
    target = s.prog_name + "." + s.prog_title.substr(1) + "." + option;
  else
    target = s.prog_title + "." + option;
  return target.substr(0, max);
}

// "*" in the key skips to the first place in the target where the key's
// next piece (up to the following "*") occurs.
bool key_matches(const std::string &target, const char *key) {
  size_t t = 0;
  const char *k = key;
  while (*k != '\0') {
    if (*k == '*') {
      k++;
      const char *end = std::strchr(k, '*');
      std::string piece(k, end ? static_cast<size_t>(end - k) : std::strlen(k));
      size_t found = target.find(piece, t);
      if (found == std::string::npos) return false;
      t = found;
      continue;
    }
    if (t >= target.size() || target[t] != *k) return false;
    t++;
    k++;
  }
  return t == target.size();
}

bool tag_defined(const std::string &tag) {
  const auto &tags = state().tags;
  return std::any_of(tags.begin(), tags.end(),
                     [&](const std::string &t) { return stricmp(t.c_str(), tag.c_str()) == 0; });
}

void add_tag(const std::string &tag) {
  auto &tags = state().tags;
  if (tags.size() < static_cast<size_t>(DEF_MAX_TAGS)) tags.push_back(tag);
}

void remove_tag(const std::string &tag) {
  auto &tags = state().tags;
  tags.erase(std::remove_if(tags.begin(), tags.end(),
                            [&](const std::string &t) { return stricmp(t.c_str(), tag.c_str()) == 0; }),
             tags.end());
}

void update_matches() {
  const auto &match = state().match;
  state().matches = std::all_of(match.begin(), match.end(), [](Branch b) { return b == Branch::taken; });
}

void push_if(const std::string &tag) {
  DefState &s = state();
  if (s.match.size() >= static_cast<size_t>(DEF_MAX_DEPTH)) {
    s.excess_levels++;
    return;
  }
  s.match.push_back(tag_defined(tag) ? Branch::taken : Branch::waiting);
}

// The ELSE, ELIF and END lines act on the innermost level; false when there is none.
bool have_level(const char *word) {
  DefState &s = state();
  if (!s.match.empty() || s.excess_levels > 0) return true;
  MESS_print(MESS_WARN, "DEF_get: %s without an if\n", word);
  return false;
}

void else_if(const std::string &tag) {
  DefState &s = state();
  if (s.excess_levels > 0) return;
  Branch &top = s.match.back();
  if (top != Branch::waiting)
    top = Branch::closed;
  else if (tag_defined(tag))
    top = Branch::taken;
}

void else_branch() {
  DefState &s = state();
  if (s.excess_levels > 0) return;
  Branch &top = s.match.back();
  top = top == Branch::waiting ? Branch::taken : Branch::closed;
}

void end_if() {
  DefState &s = state();
  if (s.excess_levels > 0)
    s.excess_levels--;
  else
    s.match.pop_back();
}

// Reads one line, cut to the longest line a defaults file may have; false at the end.
bool read_line(FILE *f, std::string *line) {
  line->clear();
  int c;
  while ((c = std::getc(f)) != EOF && c != '\n')
    if (line->size() < static_cast<size_t>(DEF_LINE_MAX)) line->push_back(static_cast<char>(c));
  return c != EOF || !line->empty();
}

struct Words {
  std::string key, value;
  int count = 0;
};

// Key and value; a value in double quotes may hold blanks.
Words split_line(const std::string &line) {
  Words w;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  size_t i = 0;
  while (i < line.size() && blank(line[i])) i++;
  size_t start = i;
  while (i < line.size() && !blank(line[i])) i++;
  if (i == start) return w;
  w.key = line.substr(start, i - start);
  w.count = 1;
  while (i < line.size() && blank(line[i])) i++;
  if (i >= line.size()) return w;
  if (line[i] == '"') {
    size_t close = line.find('"', i + 1);
    w.value = line.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
  } else {
    start = i;
    while (i < line.size() && !blank(line[i])) i++;
    w.value = line.substr(start, i - start);
  }
  w.count = 2;
  return w;
}

void give_pair(const std::string &key, const std::string &value, char *key_out, char *value_out) {
  copy_limited_to(key_out, key.c_str(), DEF_LINE_MAX);
  copy_limited_to(value_out, value.c_str(), DEF_LINE_MAX);
}

}  // namespace

int DEF_set_prog(const char *name) {
  state().prog_name = name ? name : "Zyb";
  return 0;
}

int DEF_prog() {
  char name[FILE_NAME_SIZE];
  RES_get_progname(name);
  return DEF_set_prog(name);
}

int DEF_name(const char *title) {
  state().prog_title = copy_limited(title, kTitleMax);
  return 0;
}

int DEF_title(const char *title) { return DEF_name(title); }

int DEF_clr_tag() {
  state().tags.clear();
  return 0;
}

int DEF_tag(const char *text) {
  if (text == nullptr) return -1;
  if (state().tags.size() >= static_cast<size_t>(DEF_MAX_TAGS)) return -1;
  add_tag(text);
  return 0;
}

int DEF_open(const char *path) {
  DEF_close();
  std::string file;
  if (path == nullptr || *path == '\0') {
    file = ".zybdef";
  } else if (FILE_is_stdio(path)) {
    // Defaults never come from the terminal.
    return -1;
  } else if (FILE_is_dir(path)) {
    std::string dir = path;
    if (dir.back() != '/') dir += '/';
    file = (dir + "Zyb.res").substr(0, kDefaultsPathMax);
    for (const char *candidate : {"zyb.cfg", ".zybdef"}) {
      std::string name = (dir + candidate).substr(0, kDefaultsPathMax);
      if (FILE_exist(name.c_str())) {
        file = name;
        break;
      }
    }
  } else {
    file = path;
  }
  state().def_file = FILE_open(file.c_str(), "r");
  return state().def_file != nullptr ? 0 : -1;
}

int DEF_close() {
  DefState &s = state();
  if (s.def_file != nullptr) FILE_close(s.def_file);
  s.def_file = nullptr;
  return 0;
}

int DEF_get(char *key, char *value) {
  DefState &s = state();
  if (s.def_file == nullptr) return -1;
  std::string line;
  while (read_line(s.def_file, &line)) {
    if (line.empty() || line[0] == '#') continue;
    Words w = split_line(line);
    if (w.count == 1 && (w.key == "ELSE" || w.key == "END")) {
      if (!have_level(w.key == "ELSE" ? "else" : "end")) continue;
      if (w.key == "ELSE")
        else_branch();
      else
        end_if();
      update_matches();
      continue;
    }
    if (w.count < 2) continue;
    if (w.key == "DEF" || w.key == "UNDEF") {
      if (w.key == "DEF")
        add_tag(w.value);
      else
        remove_tag(w.value);
      if (!s.matches) continue;
      give_pair(w.key == "DEF" ? "def" : "undef", w.value, key, value);
      return 1;
    }
    if (w.key == "IF" || w.key == "ELIF" || w.key == "ELSE" || w.key == "END") {
      if (w.key == "IF") {
        push_if(w.value);
      } else {
        std::string word = w.key == "ELIF" ? "elif" : w.key == "ELSE" ? "else" : "end";
        if (!have_level(word.c_str())) continue;
        if (w.key == "ELIF")
          else_if(w.value);
        else if (w.key == "ELSE")
          else_branch();
        else
          end_if();
      }
      update_matches();
      continue;
    }
    if (!s.matches) continue;
    low_string(&w.key[0]);
    if (!w.key.empty() && w.key.back() == ':') w.key.pop_back();
    give_pair(w.key, w.value, key, value);
    return 1;
  }
  return -1;
}

int DEF_cmp(const char *option, const char *key) {
  if (option == nullptr || key == nullptr) return 0;
  return key_matches(target_name(option, kCmpTargetMax), key) ? 1 : 0;
}

char *DEF_parse_name(const char *key, char *out) {
  const char *last = key;
  for (const char *p = key; *p != '\0'; p++)
    if (*p == '.' || *p == '*') last = p + 1;
  return copy_limited_to(out, last, DEF_LINE_MAX);
}

int DEF_valid(const char *key) {
  if (key == nullptr) return 0;
  char option[DEF_LINE_SIZE];
  DEF_parse_name(key, option);
  return key_matches(target_name(option, kValidTargetMax), key) ? 1 : 0;
}

int DEF_env_value(const char *option, const char *env_name, std::string *out) {
  if (option == nullptr) return 0;
  std::string names[] = {
      ("zyb" + target_name(option, kEnvTargetMax)).substr(0, kEnvTargetMax),
      copy_limited(env_name, kEnvNameMax),
      ("zyb" + std::string(option)).substr(0, kEnvNameMax),
  };
  for (const std::string &name : names) {
    if (name.empty()) continue;
    const char *value = std::getenv(name.c_str());
    if (value == nullptr) continue;
    *out = value;
    return 1;
  }
  return 0;
}

int DEF_env(const char *option, const char *env_name, char *out) {
  std::string value;
  if (!DEF_env_value(option, env_name, &value)) return 0;
  copy_limited_to(out, value.c_str(), DEF_LINE_MAX);
  return 1;
}

void DEF_reset() {
  DEF_close();
  state() = DefState();
}
