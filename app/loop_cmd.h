// The looper's own sources only: the command record and the helpers that
// every command family uses to read its words. loop_cmd.cpp holds the
// keyword table and the frame, image, loop and query commands; loop_draw.cpp
// the drawing commands and the drawing rows of "set".
#pragma once

#include <string>
#include <vector>

#include "app/loop.h"

namespace loop_cmd {

using Words = std::vector<std::string>;

// A command as received: the line itself (replies quote it unchanged) and
// its blank-separated words, each cut to LOOP_WORD_MAX characters.
struct Command {
  int sender = -1;
  const char *line = "";
  std::string keyword;
  Words args;

  int reply(int code, const char *text) const { return LOOP_reply(sender, code, "%s", text); }
  // The replies that quote the whole line ("Invalid ...: %s\n", "%s\n").
  int quote(const char *format, int code = MQ_LAST_LINE) const { return LOOP_reply(sender, code, format, line); }
};

Words split_words(const char *line);
bool begins_with(const std::string &word, const char *prefix);  // any case
bool is_word(const std::string &word, const char *whole);       // any case
bool begins_with_digit(const std::string &word);

// A word naming a frame: "wi..." the window, "la..." the last frame, or a
// frame number. A word beginning with "-" is never a frame number.
bool frame_word(const std::string &word, int *frame);

// Reads a leading decimal integer as "%d" would (optional sign, digits);
// nullptr when there is none, else the character after it.
const char *scan_int(const char *p, int *value);
// "%d<sep>%d" at the start of a word: the number of values read (0 to 2),
// with *rest just after the text they took.
int scan_pair(const std::string &word, char sep, int *a, int *b, const char **rest);

// File names from clients: regular files only (no pipes, standard streams
// or devices); start-up commands are the user's own. Refusals are logged.
bool file_name_acceptable(const Command &c, const std::string &name);

// A point word "x,y": two finite numbers within the drawing range.
bool point_word(const std::string &word, float *x, float *y);

// The looper's transformation number at which point words are latitude
// and longitude through the plot domain.
constexpr int LOOP_TRAN_MAP = 3;

// The drawing commands.
int draw_text(const Command &c);
int draw_line(const Command &c);
int draw_marker(const Command &c);
// The drawing rows of "set": v[0] the name, v[1] and v[2] the values.
int set_transformation(const Command &c, const Words &v);
int set_viewport(const Command &c, const Words &v);
int set_window(const Command &c, const Words &v);
int set_line(const Command &c, const Words &v);
int set_marker(const Command &c, const Words &v);
int set_text(const Command &c, const Words &v);
int set_attribute_without_value(const Command &c, const Words &v);  // "li", "ma", "te" with one word
// Metafiles and printing (loop_meta.cpp): "mf [file]", "pr file" and the
// recording row of "set" ("se re on|off").
int metafile(const Command &c);
int print(const Command &c);
int set_redraw(const Command &c, const Words &v);

// What "open" sets up for drawing: transformation 0 in window pixels,
// transformation 1 over the display space, the text height and alignment.
void set_up_drawing(int ws_type);
// Maps (loop_map.cpp): the plot-domain row of "set", "qu ll", and the
// point words at LOOP_TRAN_MAP: "lat,lon" or a station "id:[file:]ID",
// false when there is no domain, the station is unknown or the point is not
// on the map.
int set_domain(const Command &c, const Words &v);
int query_latlon(const Command &c);
bool map_point(const std::string &word, float *x, float *y);

}  // namespace loop_cmd

// The streamed metafile: reads the records clients send until "end", or
// until none has come for the queue's time-out. Returns 0.
int LOOP_metafile();
