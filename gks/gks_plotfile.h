// What the PostScript and HPGL drivers share: the output stream with its
// "+" (append) and "|" (pipe) forms, the paper sizes, and the option lists
// of the device text and the environment.
#pragma once

#include <csignal>
#include <cstdio>
#include <string>

// The output of a plot driver. A name "+file" appends, "|command" pipes
// (FILE_open); opening reports "Spooling to: %s\n", "Appending to: %s\n" or
// "Creating: %s\n" at the message class. While a client's command runs
// (IMG_get_untrusted) pipes, standard streams and anything but a plain
// file are refused. Closes (or waits for its pipe) when it goes.
class PlotStream {
 public:
  PlotStream() = default;
  ~PlotStream() { close(); }
  PlotStream(const PlotStream &) = delete;
  PlotStream &operator=(const PlotStream &) = delete;

  // what names the kind of file in the failure message. false after a
  // message; nothing is left open then.
  bool open(const char *name, const char *what);
  // 0; -1 when nothing was open or the output was lost (disk full, a
  // pipe's command gone), after a message.
  int close();
  FILE *get() const { return file_; }
  bool is_open() const { return file_ != nullptr; }
  bool appending() const { return append_; }

 private:
  FILE *file_ = nullptr;
  bool append_ = false;
  bool pipe_ = false;
  std::string name_;
  struct sigaction old_pipe_action_ {};
};

// The paper, long side first, in inches.
struct PlotPaper {
  float width = 11.0f, height = 8.5f;
};

// A paper word of the option lists: "letter", "legal", "11x17", "a4" ..
// "a1", "b4" .. "b1", "ansid", or "sz=WxH". false for other words.
bool gplot_paper_word(const char *word, PlotPaper *paper);

// One row of a driver's option table: a whole word, or a word with a
// value ("scale=" with its separator) whose value follows it.
struct PlotOption {
  const char *word;
  bool takes_value;
  void (*apply)(const char *value);
};

// Applies a comma-separated list (case ignored) through the rows; words
// that no row and no paper word knows are ignored. The paper words set
// *paper.
void gplot_apply_options(const char *list, const PlotOption *rows, int count, PlotPaper *paper);
// The same for the device pieces after the file name.
void gplot_apply_device_options(const char *device, const PlotOption *rows, int count, PlotPaper *paper);

// The output name: the first device piece when not empty, else the first
// environment variable of envs (nullptr-terminated) that is set and not
// empty, else fallback; at most 79 characters.
std::string gplot_output_name(const char *device, const char *const *envs, const char *fallback);

// A geometry "WxH+X+Y" in hundredths of an inch from the "geometry"
// resource or the first of envs that is set. Returns the number of fields
// read (0 when there is none); fields beyond it are left alone.
int gplot_geometry(const char *const *envs, int out[4]);

// Comment text: control characters become blanks, so that no text of a
// client can end a comment line and go on as code.
std::string gplot_comment_text(const char *text);
