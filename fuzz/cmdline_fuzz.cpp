// Command-line and defaults-file parsing.
//
// Input: argument words separated by NUL bytes, then (after the first 0xFF
// byte, if any) the body of a defaults file that the search path reads.
// Characters that would name other directories, start a command ("|") or
// contact a resource server ("#") are blanked out of the words, so the
// words can only name files of the current directory (read, never
// written); the message option is left undeclared so no log file is opened.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "util/date.h"
#include "util/def_read.h"
#include "util/files.h"
#include "util/flag.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

extern char **environ;

namespace {

const int kKeyed[] = {57, 3, 48, 63, 107, 84, 110, 96, 98, 27, 34, 83, 46, 102, 59, 2, 53, 0};
const int kPositional[] = {111, 50, 0};

std::string scratch;

void setup_once() {
  if (!scratch.empty()) return;
  char tmpl[] = "/tmp/cmdline_fuzz.XXXXXX";
  scratch = mkdtemp(tmpl);
  std::vector<std::string> names;
  for (char **e = environ; *e != nullptr; e++)
    if (std::strncmp(*e, "zyb", 3) == 0) names.emplace_back(*e, std::strchr(*e, '=') - *e);
  for (const auto &n : names) unsetenv(n.c_str());
  setenv("zybdefault", ("+fuzz:" + scratch + ":" + scratch + "/zyb.cfg").c_str(), 1);
}

std::string safe_word(const std::string &word) {
  std::string out = word;
  for (char &c : out)
    if (c == '/' || c == '|' || c == '#' || c == '~') c = '_';
  return out;
}

void write_defaults(const uint8_t *data, size_t size) {
  FILE *f = std::fopen((scratch + "/zyb.cfg").c_str(), "wb");
  if (f == nullptr) return;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

void reset_modules() {
  RES_clear();
  DEF_reset();
  MESS_reset();
  MESS_set_str("none");
  FLAG_reset(-9999);
}

void look_up_everything() {
  int number = 0;
  const char *text = nullptr;
  char path[FILE_NAME_SIZE];
  RES_getval("window_num", &number, RES_INTEGER);
  RES_getval("icon", &number, RES_BOOLEAN);
  RES_getval("file_path", path, RES_PATH);
  RES_getval("device", &text, RES_DEVICE);
  RES_getval("title", &text, RES_TEXT);
  for (const char *name : {"filename", "plot_param", "command", "parameter"}) {
    int count = 0;
    char **list = nullptr;
    RES_getvals(name, &count, &list);
    for (int i = 0; i < count; i++) (void)std::strlen(list[i]);
    free_parsed_array(count, list);
  }
  RES_list();
}

// The first positional word doubles as a file-name template.
void expand_template() {
  const char *word = RES_get("infile");
  if (word == nullptr) return;
  FILE_set_name(("@" + copy_limited(word, FILE_NAME_MAX)).c_str());
  FILE_set_key('i', word);
  DateRecord date;
  DATE_decode_label(word, &date);
  char out[FILE_NAME_SIZE];
  FILE_set_date(&date, out);
  FILE_set_date(nullptr, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  setup_once();
  const uint8_t *split = static_cast<const uint8_t *>(std::memchr(data, 0xFF, size));
  size_t words_size = split ? static_cast<size_t>(split - data) : size;
  write_defaults(split ? split + 1 : data + size, split ? size - words_size - 1 : 0);

  std::vector<std::string> words{"zorazez"};
  std::string current;
  for (size_t i = 0; i < words_size; i++) {
    if (data[i] == 0) {
      words.push_back(safe_word(current));
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) words.push_back(safe_word(current));
  if (words.size() > 64) words.resize(64);

  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);

  reset_modules();
  RES_init(static_cast<int>(words.size()), argv.data(), kKeyed, kPositional);
  look_up_everything();
  expand_template();
  reset_modules();
  return 0;
}
