// The output stream, paper sizes and option lists of the plot drivers.
#include "gks/gks_plotfile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "image/img_tool.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

constexpr int kOutputNameMax = 79;

struct PaperRow {
  const char *word;
  PlotPaper paper;
};

const PaperRow kPapers[] = {
    {"letter", {11.0f, 8.5f}}, {"legal", {14.0f, 8.5f}}, {"11x17", {17.0f, 11.0f}}, {"a4", {11.69f, 8.26f}},
    {"a3", {16.54f, 11.69f}},  {"a2", {23.39f, 16.54f}}, {"a1", {33.11f, 23.39f}},  {"b4", {14.33f, 10.12f}},
    {"b3", {20.27f, 14.33f}},  {"b2", {28.66f, 20.27f}}, {"b1", {40.55f, 28.66f}},  {"ansid", {34.0f, 22.0f}},
};

// A name a client may have the looper write: a plain file (appended to or
// not), never a command, a standard stream, a device or a fifo.
bool allowed_for_client(const char *name) {
  if (!IMG_get_untrusted()) return true;
  const char *file = name[0] == '+' ? name + 1 : name;
  if (file[0] != '|' && !FILE_is_stdio(file) && FILE_is_safe_input(file)) return true;
  MESS_print(MESS_WARN, "Plot file not accepted from a client: %s\n", name);
  return false;
}

const char *value_of(const char *word, const PlotOption &row) {
  const size_t n = std::strlen(row.word);
  if (row.takes_value) return strnicmp(word, row.word, static_cast<int>(n)) == 0 ? word + n : nullptr;
  return stricmp(word, row.word) == 0 ? word + n : nullptr;
}

void apply_word(const char *word, const PlotOption *rows, int count, PlotPaper *paper) {
  for (int i = 0; i < count; ++i)
    if (const char *value = value_of(word, rows[i])) {
      rows[i].apply(value);
      return;
    }
  gplot_paper_word(word, paper);
}

}  // namespace

bool PlotStream::open(const char *name, const char *what) {
  close();
  if (!name || !*name || !allowed_for_client(name)) return false;
  append_ = name[0] == '+';
  pipe_ = name[0] == '|';
  const char *file = append_ ? name + 1 : name;
  // A printer command that ends early must not take the looper with it.
  if (pipe_) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old_pipe_action_);
  }
  file_ = FILE_open(file, append_ ? "a" : "w");
  if (!file_) {
    MESS_print(MESS_WARN, "Unable to open %s file %s: %s\n", what, file, std::strerror(errno));
    if (pipe_) sigaction(SIGPIPE, &old_pipe_action_, nullptr);
    append_ = pipe_ = false;
    return false;
  }
  name_ = file;
  if (pipe_)
    MESS_print(MESS_MESS, "Spooling to: %s\n", file + 1);
  else
    MESS_print(MESS_MESS, append_ ? "Appending to: %s\n" : "Creating: %s\n", file);
  return true;
}

int PlotStream::close() {
  if (!file_) return -1;
  const bool lost = std::fflush(file_) != 0 || std::ferror(file_) != 0;
  const int closed = FILE_close(file_);
  file_ = nullptr;
  if (pipe_) sigaction(SIGPIPE, &old_pipe_action_, nullptr);
  const bool failed = lost || (!pipe_ && closed != 0);
  if (failed) MESS_print(MESS_WARN, "Unable to write all of %s\n", name_.c_str());
  append_ = pipe_ = false;
  return failed ? -1 : 0;
}

bool gplot_paper_word(const char *word, PlotPaper *paper) {
  for (const PaperRow &row : kPapers)
    if (stricmp(word, row.word) == 0) {
      *paper = row.paper;
      return true;
    }
  float w = 0, h = 0;
  if (strnicmp(word, "sz=", 3) != 0 || std::sscanf(word + 3, "%fx%f", &w, &h) != 2) return false;
  // A page of no size, or of miles, is a typing error.
  if (!(w > 0.5f && w < 1000.0f && h > 0.5f && h < 1000.0f)) {
    MESS_print(MESS_WARN, "Invalid paper size: %s\n", word);
    return false;
  }
  *paper = {w, h};
  return true;
}

void gplot_apply_options(const char *list, const PlotOption *rows, int count, PlotPaper *paper) {
  ParsedList words(list, ',');
  for (int i = 0; i < words.count(); ++i) apply_word(words.at(i), rows, count, paper);
}

void gplot_apply_device_options(const char *device, const PlotOption *rows, int count, PlotPaper *paper) {
  ParsedList pieces(device, ',');
  for (int i = 1; i < pieces.count(); ++i) apply_word(pieces.at(i), rows, count, paper);
}

std::string gplot_output_name(const char *device, const char *const *envs, const char *fallback) {
  ParsedList pieces(device, ',');
  const char *name = pieces.at(0);
  for (const char *const *env = envs; (!name || !*name) && *env; ++env) name = std::getenv(*env);
  if (!name || !*name) name = fallback;
  return copy_limited(name, kOutputNameMax);
}

int gplot_geometry(const char *const *envs, int out[4]) {
  const char *text = RES_get("geometry");
  for (const char *const *env = envs; (!text || !*text) && *env; ++env) text = std::getenv(*env);
  if (!text || !*text) return 0;
  int g[4] = {0, 0, 0, 0};
  const int n = std::sscanf(text, "%dx%d+%d+%d", &g[0], &g[1], &g[2], &g[3]);
  if (n < 2 || g[0] <= 0 || g[1] <= 0 || g[0] > 100000 || g[1] > 100000) return 0;
  for (int i = 0; i < n; ++i) out[i] = g[i];
  return n;
}

std::string gplot_comment_text(const char *text) {
  std::string out = text ? text : "";
  for (char &c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return out;
}
