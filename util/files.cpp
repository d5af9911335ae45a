#include "util/files.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/tools.h"

#ifndef ZYB_DATA_DIR
#define ZYB_DATA_DIR ""
#endif
#ifndef ZYB_DATA_FROM_BIN
#define ZYB_DATA_FROM_BIN "../share/zorazez"
#endif

namespace {

// Directories are created through a path of this many characters at most.
constexpr size_t kMakeDirPathMax = 99;
constexpr size_t kExtMax = 20;

struct FileState {
  std::set<FILE *> pipes;
  std::array<std::string, 256> keys;
  bool keys_cleared = false;
  std::string conv;   // template of the current convention
  std::string hconv;  // its header template
  std::string ext;    // extension of a partial convention match
  int conv_min_size = 0;
  int min_size_override = 0;
  bool header_mode = false;
  std::string filename;  // last name produced
  DateRecord file_date{0, 0, 0, 0, 0, 0, 0, 0};
  DateRecord set{DATE_UNSET, DATE_UNSET, DATE_UNSET, DATE_UNSET, DATE_UNSET, DATE_UNSET, DATE_UNSET, DATE_UNSET};
};

FileState &state() {
  static FileState s;
  return s;
}

char *store(char *out, const std::string &text) { return copy_limited_to(out, text.c_str(), FILE_NAME_MAX); }

std::string user_path(const char *name) {
  if (name == nullptr) return std::string();
  if (name[0] != '~') return name;
  const char *slash = std::strchr(name, '/');
  std::string user = slash ? std::string(name + 1, slash) : std::string(name + 1);
  const struct passwd *pw = user.empty() ? getpwuid(getuid()) : getpwnam(user.c_str());
  if (pw == nullptr || pw->pw_dir == nullptr) return name;
  return std::string(pw->pw_dir) + (slash ? slash : "");
}

}  // namespace

int FILE_is_stdio(const char *name) {
  if (name == nullptr) return 0;
  return name[0] == '\0' || std::strcmp(name, "-") == 0 || stricmp(name, "std") == 0 || stricmp(name, "stdn") == 0;
}

namespace {

// An installed program finds its data beside it, wherever it was installed
// and whichever directory it runs in; a program in the build tree has none
// there and uses the source tree's.
std::string find_data_dir() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = '\0';
    std::string installed(exe);
    installed.erase(installed.rfind('/') + 1);
    installed += ZYB_DATA_FROM_BIN;
    char real[PATH_MAX];
    struct stat st {};
    if (realpath(installed.c_str(), real) != nullptr && stat(real, &st) == 0 && S_ISDIR(st.st_mode)) return real;
  }
  return ZYB_DATA_DIR;
}

}  // namespace

const char *FILE_data_dir() {
  static const std::string dir = find_data_dir();
  return dir.c_str();
}

FILE *FILE_open_data(const char *name, char *path) {
  if (name == nullptr) return nullptr;
  char buf[FILE_NAME_SIZE];
  const char *dir = RES_get("file_path");
  FILE_add_path(dir ? dir : "", name, buf);
  FILE *f = FILE_open(buf, "r");
  if (f == nullptr && !FILE_is_stdio(name) && !FILE_fullpath(name) && *FILE_data_dir()) {
    FILE_add_path(FILE_data_dir(), name, buf);
    f = FILE_open(buf, "r");
  }
  if (path) copy_limited_to(path, buf, FILE_NAME_MAX);
  MESS_print(MESS_DEBUG_A, f ? "Opening data file: %s\n" : "Data file not found: %s\n", buf);
  return f;
}

int FILE_is_safe_input(const char *name) {
  if (name == nullptr || name[0] == '|' || FILE_is_stdio(name)) return 0;
  const std::string path = user_path(name);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 1;  // nothing there: opening it fails on its own
  if (!S_ISREG(st.st_mode)) return 0;
  // Files of the kernel's pseudo file systems pass for regular files, yet
  // some of them block a reader.
  char real[PATH_MAX];
  if (realpath(path.c_str(), real) == nullptr) return 0;
  for (const char *pseudo : {"/proc/", "/sys/", "/dev/"})
    if (std::strncmp(real, pseudo, std::strlen(pseudo)) == 0) return 0;
  return 1;
}

int FILE_fullpath(const char *name) { return name != nullptr && (name[0] == '.' || name[0] == '/' || name[0] == '~'); }

char *FILE_add_user_path(const char *name, char *out) { return store(out, user_path(name)); }

char *FILE_add_path_delim(char *text) {
  size_t length = std::strlen(text);
  if (length > 0 && text[length - 1] != '/') {
    text[length] = '/';
    text[length + 1] = '\0';
  }
  return text;
}

char *FILE_add_path(const char *dir, const char *name, char *out) {
  if (name == nullptr) name = "";
  if (FILE_is_stdio(name) || FILE_fullpath(name)) return store(out, name);
  std::string path = dir ? dir : "";
  if (!path.empty() && path.back() != '/') path += '/';
  return store(out, path + name);
}

int FILE_exist(const char *name) {
  if (name == nullptr) return 0;
  if (FILE_is_stdio(name)) return 1;
  struct stat st {};
  return stat(user_path(name).c_str(), &st) == 0;
}

int FILE_is_dir(const char *name) {
  if (name == nullptr) return 0;
  struct stat st {};
  return stat(user_path(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long FILE_size(const char *name) {
  if (name == nullptr) return -1;
  struct stat st {};
  if (stat(user_path(name).c_str(), &st) != 0) return -1;
  return static_cast<long>(st.st_size);
}

int FILE_make_dir(char *path, int skip) {
  if (path == nullptr) return 1;
  fill_string(path, '\\', '/');
  const char *last_slash = std::strrchr(path, '/');
  if (last_slash == nullptr) return 1;
  std::string dir(path, static_cast<size_t>(last_slash - path));
  if (dir.empty() || FILE_is_dir(dir.c_str())) return 1;

  std::vector<std::string> parts;
  for (const char *p = path; *p != '\0';) {
    const char *end = std::strchr(p, '/');
    if (end == nullptr) end = p + std::strlen(p);
    if (end > p) parts.emplace_back(p, end);
    p = *end == '/' ? end + 1 : end;
  }
  int count = static_cast<int>(parts.size());
  std::string built = path[0] == '/' ? "/" : "";
  for (int i = 0; i < count - skip; i++) {
    if (i > 0) built += '/';
    built += parts[i];
    if (built.size() > kMakeDirPathMax) break;
    if (mkdir(built.c_str(), 0755) != 0 && errno != EEXIST)
      MESS_print(MESS_DEBUG_D, "FILE_make_dir: Unable to create: %s\n", built.c_str());
  }
  return 0;
}

FILE *FILE_open(const char *name, const char *mode) {
  if (name == nullptr || mode == nullptr) return nullptr;
  if (FILE_is_stdio(name)) return mode[0] == 'r' ? stdin : stdout;
  if (name[0] == '|') {
    // popen knows only "r" and "w"; a "b" means nothing for a pipe.
    const char *pipe_mode = mode[0] == 'r' ? "r" : "w";
    std::fflush(nullptr);
    FILE *f = popen(name + 1, pipe_mode);
    if (f != nullptr) state().pipes.insert(f);
    return f;
  }
  std::string path = user_path(name);
  if (mode[0] == 'w' || mode[0] == 'a') {
    std::string dirs = path;
    FILE_make_dir(&dirs[0], 1);
    path = dirs;
  }
  return std::fopen(path.c_str(), mode);
}

int FILE_close(FILE *stream) {
  if (stream == nullptr) return -1;
  if (stream == stdin || stream == stdout || stream == stderr) return 0;
  auto &pipes = state().pipes;
  auto it = pipes.find(stream);
  if (it != pipes.end()) {
    pipes.erase(it);
    return pclose(stream);
  }
  return std::fclose(stream);
}

// ---- File-name conventions ----------------------------------------------

int FILE_set_key(char key, const char *text) {
  std::string value = copy_limited(text, FILE_KEY_MAX);
  std::replace(value.begin(), value.end(), ' ', '_');
  state().keys[static_cast<unsigned char>(key)] = value;
  return 0;
}

int FILE_set_time(const DateRecord *date) {
  if (date == nullptr) return -1;
  state().set = *date;
  return 0;
}

int FILE_set_min_size(int size) {
  state().min_size_override = size;
  return 0;
}

int FILE_get_min_size() {
  const FileState &s = state();
  return s.min_size_override != 0 ? s.min_size_override : s.conv_min_size;
}

int FILE_set_header_mode(int on) {
  state().header_mode = on != 0;
  return 0;
}

int FILE_get_date(DateRecord *date) {
  if (date == nullptr) return -1;
  *date = state().file_date;
  return 0;
}

int FILE_set_current_date() { return DATE_get_current(&state().file_date); }

const char *FILE_get_last_name() { return state().filename.c_str(); }

namespace {

struct ConventionEntry {
  std::string name, conv, hconv;
  int min_size = 0;
};

bool read_convention_entry(const char *line, ConventionEntry *entry) {
  char name[FILE_NAME_SIZE], conv[FILE_NAME_SIZE], hconv[FILE_NAME_SIZE];
  int min_size = 0;
  int n = std::sscanf(line, "%160s %160s %160s %d", name, conv, hconv, &min_size);
  if (n < 2) return false;
  entry->name = name;
  entry->conv = conv;
  entry->hconv = n >= 3 && std::strcmp(hconv, "-") != 0 ? hconv : "";
  entry->min_size = n >= 4 ? min_size : 0;
  return true;
}

void use_entry(const ConventionEntry &entry) {
  FileState &s = state();
  s.conv = entry.conv;
  s.hconv = entry.hconv;
  s.conv_min_size = entry.min_size;
}

// "name:k=value:k=value" sets the keys and leaves "name".
std::string take_key_settings(const std::string &name) {
  size_t colon = name.find(':');
  if (colon == std::string::npos) return name;
  for (size_t at = colon; at != std::string::npos; at = name.find(':', at + 1)) {
    std::string pair = name.substr(at + 1);
    char key = 0;
    char value[FILE_NAME_SIZE] = "";
    if (std::sscanf(pair.c_str(), "%c=%160[^:]", &key, value) == 2) {
      MESS_print(MESS_DEBUG_D, "KEY: %c = %s\n", key, value);
      FILE_set_key(key, value);
    }
  }
  return name.substr(0, colon);
}

// Closes the convention file on every return.
struct ConventionFile {
  FILE *f;
  ~ConventionFile() {
    if (f != nullptr) FILE_close(f);
  }
};

}  // namespace

int FILE_set_name(const char *name_in) {
  FileState &s = state();
  if (!s.keys_cleared) {
    for (auto &k : s.keys) k.clear();
    s.keys_cleared = true;
  }
  s.filename.clear();
  s.ext.clear();
  s.hconv.clear();
  s.conv_min_size = 0;

  std::string name = copy_limited(name_in, FILE_NAME_MAX);
  if (stricmp(name.c_str(), "none") == 0) {
    s.conv.clear();
    return 0;
  }
  if (!name.empty() && name[0] == '@') {
    s.conv = name.substr(1);
    return 1;
  }
  name = take_key_settings(name);

  const char *conv_name = RES_get("name_conv");
  char path[FILE_NAME_SIZE];
  FILE_add_path(RES_get("file_path"), conv_name ? conv_name : "name_conv", path);
  ConventionFile file{FILE_open(path, "r")};
  if (file.f == nullptr || FILE_is_stdio(path)) {
    MESS_print(MESS_WARN, "FILE_set_name: No file name convention file: %s\n", path);
    s.conv = name;
    return 0;
  }
  MESS_print(MESS_DEBUG_A, "Opening name convention file: %s\n", path);

  char line[TOOLS_LINE_MAX + 1];
  while (fgetline(file.f, line) != EOF) {
    ConventionEntry entry;
    if (line[0] == '#' || !read_convention_entry(line, &entry)) continue;
    if (stricmp(entry.name.c_str(), name.c_str()) == 0) {
      use_entry(entry);
      MESS_print(MESS_DEBUG_A, "File name match for: %s\n", name.c_str());
      return 1;
    }
    if (strnicmp(entry.name.c_str(), name.c_str(), static_cast<int>(entry.name.size())) == 0) {
      use_entry(entry);
      size_t underscore = name.rfind('_');
      s.ext = underscore == std::string::npos ? "" : copy_limited(name.c_str() + underscore + 1, kExtMax);
      MESS_print(MESS_DEBUG_A, "File name partial match for: %s-%s ext: %s\n", name.c_str(), entry.name.c_str(),
                 s.ext.c_str());
      return 1;
    }
  }
  s.conv = name;
  MESS_print(MESS_DEBUG_A, "No file name conversion for: %s\n", name.c_str());
  return 0;
}

namespace {

struct PathCode {
  char code;
  const char *resource;
};

constexpr PathCode kPathCodes[] = {
    {'C', "con_path"},   {'D', "data_path"}, {'F', "file_path"}, {'G', "grid_path"}, {'I', "image_path"},
    {'M', "model_path"}, {'R', "raw_path"},  {'S', "sat_path"},  {'T', "text_path"}, {'W', "watch_path"},
};

int round_down(int value, int multiple) {
  if (multiple < 1) return value;
  return value / multiple * multiple;
}

// The value of one date field as the template asks for it: the override
// record wins when set; a negative override asks for rounding instead.
class DateFields {
 public:
  DateFields(const DateRecord &date, const DateRecord &override_date, DateRecord *used)
      : date_(date), set_(override_date), used_(used) {}

  int value(int DateRecord::*field, int count) {
    const bool hour_or_minute = field == &DateRecord::hour || field == &DateRecord::minute;
    int v = date_.*field;
    const int o = set_.*field;
    if (o == DATE_UNSET) {
      if (v >= 0) v = round_down(v, count);
    } else if (o >= 0) {
      v = hour_or_minute ? round_down(o, count) : o;
    } else if (v >= 0) {
      int request = -o;
      if (hour_or_minute)
        v = round_down(v, request % 100) + request / 100;
      else
        v = round_down(v, request);
    }
    used_->*field = v;
    return v;
  }

 private:
  const DateRecord &date_;
  const DateRecord &set_;
  DateRecord *used_;
};

std::string zero_padded(int value, int width) {
  char text[32];
  if (value < 0)
    std::snprintf(text, sizeof text, "%.*s", width, "0000");
  else
    std::snprintf(text, sizeof text, "%*.*d", width, width, value);
  return text;
}

std::string expand_date_code(char code, int count, DateFields &fields) {
  switch (code) {
    case 'Y': return zero_padded(fields.value(&DateRecord::year, count), 4);
    case 'y': {
      int year = fields.value(&DateRecord::year, count);
      return zero_padded(year < 0 ? year : year % 100, 2);
    }
    case 'b': {
      const char *name = DATE_month_name(fields.value(&DateRecord::month, count));
      return name ? name : "xxx";
    }
    case 'm': return zero_padded(fields.value(&DateRecord::month, count), 2);
    case 'd': return zero_padded(fields.value(&DateRecord::day, count), 2);
    case 'j': {
      int year = fields.value(&DateRecord::year, 1);
      int month = fields.value(&DateRecord::month, 1);
      int day = fields.value(&DateRecord::day, 1);
      int yday = year < 0 || month < 0 || day < 0 ? -1 : DATE_day_of_year(year, month, day);
      return zero_padded(yday < 0 ? -1 : round_down(yday, count), 3);
    }
    case 'h': return zero_padded(fields.value(&DateRecord::hour, count), 2);
    case 'n': return zero_padded(fields.value(&DateRecord::minute, count), 2);
    default: return std::string();
  }
}

bool is_date_code(char c) { return std::strchr("Yybmdjhn", c) != nullptr; }

std::string expand_template(const std::string &conv, DateFields &fields) {
  const FileState &s = state();
  std::string out;
  for (size_t i = 0; i < conv.size(); i++) {
    char c = conv[i];
    if (c == '{' || c == '}') continue;
    if (c != '%') {
      out += c == ' ' ? '_' : c;
      continue;
    }
    size_t digits = i + 1;
    while (digits < conv.size() && std::isdigit(static_cast<unsigned char>(conv[digits]))) digits++;
    bool counted = digits > i + 1;
    int count = counted ? std::atoi(conv.substr(i + 1, std::min<size_t>(digits - i - 1, 6)).c_str()) : 1;
    if (digits >= conv.size()) break;  // a "%" with no code at the end
    char code = conv[digits];
    i = digits;

    if (code == '%') {
      out += '%';
    } else if (is_date_code(code)) {
      out += expand_date_code(code, count, fields);
    } else if (code == 'e') {
      out += s.ext;
    } else if (code == '{') {
      size_t close = conv.find('}', i + 1);
      std::string resource = conv.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
      const char *value = RES_get(resource.c_str());
      if (value != nullptr) out += value;
      i = close == std::string::npos ? conv.size() : close;
    } else {
      const PathCode *path = std::find_if(std::begin(kPathCodes), std::end(kPathCodes),
                                          [code](const PathCode &p) { return p.code == code; });
      if (path != std::end(kPathCodes)) {
        const char *value = RES_get(path->resource);
        out += value ? value : ".";
      } else {
        const std::string &key = s.keys[static_cast<unsigned char>(code)];
        if (key.empty())
          out += '0';
        else
          out += counted && count >= 1 ? key.substr(0, static_cast<size_t>(count)) : key;
      }
    }
  }
  return out;
}

}  // namespace

int FILE_set_date(const DateRecord *date_in, char *out) {
  FileState &s = state();
  const std::string &conv = s.header_mode ? s.hconv : s.conv;
  if (conv.empty()) {
    store(out, s.filename.empty() ? "filename" : s.filename);
    return 1;
  }
  if (FILE_is_stdio(conv.c_str())) {
    store(out, "-");
    return 1;
  }
  DateRecord date = date_in ? *date_in : s.file_date;
  if (date_in != nullptr) {
    s.file_date.year = s.file_date.month = s.file_date.day = DATE_UNSET;
    s.file_date.hour = s.file_date.minute = DATE_UNSET;
  }
  if (date.year == DATE_UNSET && !s.filename.empty()) {
    store(out, s.filename);
    return 1;
  }
  DateFields fields(date, s.set, &s.file_date);
  s.filename = copy_limited(expand_template(conv, fields).c_str(), FILE_NAME_MAX);
  store(out, s.filename);
  return 0;
}
