// The looper's command language: one keyword table walked in order, one
// handler per command, and every reply text next to the code that sends it.
#include "app/loop_cmd.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "app/loop_watch.h"
#include "app/plt_tool.h"
#include "gks/gks.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "mqueue/mqueue.h"
#include "util/date.h"
#include "util/files.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/system.h"

namespace loop_cmd {

// ---------------------------------------------------------------------------
// Words and numbers.

Words split_words(const char *line) {
  Words words;
  const char *p = line;
  for (;;) {
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) p++;
    if (*p == '\0') break;
    const char *start = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) p++;
    words.push_back(copy_limited(std::string(start, p).c_str(), LOOP_WORD_MAX));
  }
  return words;
}

bool begins_with(const std::string &word, const char *prefix) {
  const size_t n = std::strlen(prefix);
  if (word.size() < n) return false;
  for (size_t i = 0; i < n; i++)
    if (std::tolower(static_cast<unsigned char>(word[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

bool is_word(const std::string &word, const char *whole) { return stricmp(word.c_str(), whole) == 0; }

bool begins_with_digit(const std::string &word) {
  return !word.empty() && std::isdigit(static_cast<unsigned char>(word[0]));
}

bool frame_word(const std::string &word, int *frame) {
  if (begins_with(word, "wi")) {
    *frame = GKS_FRAME_WINDOW;
    return true;
  }
  if (begins_with(word, "la")) {
    *frame = GKS_FRAME_LAST;
    return true;
  }
  if (!begins_with_digit(word)) return false;
  *frame = LOOP_int_value(word.c_str());
  return true;
}

const char *scan_int(const char *p, int *value) {
  const char *q = p;
  if (*q == '+' || *q == '-') q++;
  if (!std::isdigit(static_cast<unsigned char>(*q))) return nullptr;
  while (std::isdigit(static_cast<unsigned char>(*q))) q++;
  *value = LOOP_int_value(p);
  return q;
}

int scan_pair(const std::string &word, char sep, int *a, int *b, const char **rest) {
  const char *p = word.c_str();
  *rest = p;
  const char *q = scan_int(p, a);
  if (q == nullptr) return 0;
  *rest = q;
  if (*q != sep) return 1;
  const char *r = scan_int(q + 1, b);
  if (r == nullptr) return 1;
  *rest = r;
  return 2;
}

// A name beginning with "|" would run a command and a device, pipe or
// standard stream would hold the main loop.

bool file_name_acceptable(const Command &c, const std::string &name) {
  if (c.sender < 0 || FILE_is_safe_input(name.c_str())) return true;
  MESS_print(MESS_WARN, "LOOP_process: file name not accepted from a client: %s\n", name.c_str());
  return false;
}

}  // namespace loop_cmd

namespace {

using namespace loop_cmd;

// Seconds as given to the delay rows; values the frame timing cannot sleep
// on (not finite, or beyond a few weeks) are refused.
constexpr double kMaxDelay = 1.0e6;
bool delay_value(const std::string &word, float *seconds) {
  const double d = std::strtod(word.c_str(), nullptr);
  if (!std::isfinite(d) || std::fabs(d) > kMaxDelay) return false;
  *seconds = static_cast<float>(d);
  return true;
}

// ---------------------------------------------------------------------------
// Window commands.

int open_failed(const Command &c) {
  c.reply(MQ_SERVER_ENDS, "Unable to open GKS\n");
  LOOP_state().running = LOOP_STOP_KEEP_QUEUE;
  return -1;
}

void load_color_table_into_kernel() {
  const int n = CLR_get_num();
  for (int i = 0; i < n; i++) {
    float rgb[3];
    CLR_get_rgb(i, &rgb[0], &rgb[1], &rgb[2]);
    gset_colr_rep(0, i, rgb);
  }
}

int open_window(const Command &c) {
  LoopState &st = LOOP_state();
  if (st.open == 1) {
    c.reply(MQ_LAST_LINE, "Window already opened\n");
    return -1;
  }
  PLT_param_decode();
  if (!c.args.empty()) gset_win_title(c.args[0].c_str());
  if (gopen_gks(nullptr, 10000) != 0) {
    gemergency_close_gks();
    return open_failed(c);
  }
  RES_getval("device", &st.xconn_id, RES_DEVICE);
  st.ws_type = GKS_WIN;
  if (gopen_ws(0, st.xconn_id, st.ws_type) != 0) return open_failed(c);

  gactivate_ws(0);
  gclear_ws(0, 1);
  set_up_drawing(st.ws_type);
  gsel_norm_tran(0);
  load_color_table_into_kernel();
  gset_cursor(GKS_CURSOR_STOP);
  gset_input_mode(1);
  st.open = 1;
  c.reply(MQ_LAST_LINE, "Window opened\n");
  return 0;
}

int clear(const Command &c) {
  if (c.args.size() == 1) {
    const std::string &w = c.args[0];
    if (begins_with(w, "wi")) {
      gclear_frame(GKS_FRAME_WINDOW);
      return c.reply(MQ_LAST_LINE, "Cleared window\n");
    }
    if (begins_with(w, "la")) {
      gclear_frame(GKS_FRAME_LAST);
      return c.reply(MQ_LAST_LINE, "Cleared last frame\n");
    }
    if (begins_with_digit(w)) {
      gclear_frame(LOOP_int_value(w.c_str()));
      return LOOP_reply(c.sender, MQ_LAST_LINE, "Cleared frame: %s\n", w.c_str());
    }
  }
  gclear_frame(GKS_FRAME_WINDOW);
  return c.reply(MQ_LAST_LINE, "Cleared window\n");
}

// The arguments shared by load and overlay: frame word, file name, optional
// position "x,y" and (overlay only, after a position) a colour name.
struct ImagePlacement {
  int frame = 0;
  std::string file;
  int x = 0, y = 0;
  std::string colour;
};

bool image_placement(const Command &c, ImagePlacement *p) {
  if (c.args.size() < 2 || !frame_word(c.args[0], &p->frame)) return false;
  p->file = c.args[1];
  if (!file_name_acceptable(c, p->file)) return false;
  if (c.args.size() < 3) return true;
  const char *rest = nullptr;
  if (scan_pair(c.args[2], ',', &p->x, &p->y, &rest) < 2) return true;
  // As with "%d,%d %s", the colour may follow the position without a blank.
  if (*rest != '\0')
    p->colour = rest;
  else if (c.args.size() > 3)
    p->colour = c.args[3];
  return true;
}

// "ld all file.gif": the animation's frames become frames 0, 1, ... with
// their own delays.
struct AnimationLoad {
  int next = 0;
  std::vector<float> delays;
};

// Browsers show delays of 0 and 0.01 s as 0.1 s; so does the loop.
float browser_delay(int delay_cs) { return (delay_cs <= 1 ? 10 : delay_cs) / 100.0f; }

int take_animation_frame(ImageRecord *img, int delay_cs, void *user) {
  auto *load = static_cast<AnimationLoad *>(user);
  int f = load->next;
  if (f < gget_num_images())
    gclear_frame(f);
  else
    f = gcreate_frame(-1);
  if (f < 0 || f >= GKS_MAX_FRAMES) return 1;  // no room for more
  gselect_frame(f);
  gload_image(img, 0, 0);
  load->delays.push_back(browser_delay(delay_cs));
  load->next++;
  return 0;
}

int load_all(const Command &c) {
  const std::string &file = c.args[1];
  if (!file_name_acceptable(c, file)) return c.quote("Invalid load command: %s\n");
  if (LOOP_state().open == 0) LOOP_process(-1, "open");
  const int before = gget_num_images();
  AnimationLoad load;
  if (LOOP_state().open == 1) GIF_read_frames(file.c_str(), GKS_MAX_FRAMES, take_animation_frame, &load);
  // Creating a frame changes its neighbour's delay: the file's come last.
  for (int f = 0; f < load.next; f++) gset_loop_delay(f, load.delays[static_cast<size_t>(f)]);
  if (gget_num_images() > before) gset_looping(1);
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Loaded %d frames from: %s\n", load.next, file.c_str());
}

int load(const Command &c) {
  if (c.args.size() >= 2 && is_word(c.args[0], "all")) return load_all(c);
  ImagePlacement p;
  if (!image_placement(c, &p)) return c.quote("Invalid load command: %s\n");
  gselect_frame(p.frame);
  gload_image_file(p.file.c_str(), p.x, p.y);
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Loaded image: %s\n", p.file.c_str());
}

int overlay(const Command &c) {
  ImagePlacement p;
  if (!image_placement(c, &p)) return c.quote("Invalid overlay command: %s\n");
  gselect_frame(p.frame);
  goverlay_image_file(p.file.c_str(), p.colour.c_str(), p.x, p.y);
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Overlaid image: %s\n", p.file.c_str());
}

// ---------------------------------------------------------------------------
// Saving.

const char *save_extension() {
  switch (gget_save_image_type()) {
    case IMG_OUT_GIF:
    case IMG_OUT_AGIF: return "gif";
    case IMG_OUT_PNG: return "png";
    default: return "xwd";
  }
}

// The file a frame is saved in: the template of the command expanded with
// the frame key, the title and the time of the save, or, without a
// template, a name made from the title ("Radar.gif", "Radar_03.gif").
std::string save_name(const char *templ, const std::string &key, int frame) {
  const char *title = gget_win_title();
  if (title == nullptr) title = "";
  char name[FILE_NAME_SIZE];
  if (templ == nullptr) {
    if (frame < 0)
      std::snprintf(name, sizeof name, "%.5s.%s", title, save_extension());
    else
      std::snprintf(name, sizeof name, "%.5s_%2.2d.%s", title, frame, save_extension());
    return copy_limited(name, LOOP_WORD_MAX);
  }
  FILE_set_name(templ);
  FILE_set_key('i', key.c_str());
  FILE_set_key('p', title);
  DateRecord now;
  DATE_get_current(&now);
  name[0] = '\0';
  FILE_set_date(&now, name);
  return copy_limited(name, LOOP_WORD_MAX);
}

std::string frame_key(int frame) {
  char key[16];
  std::snprintf(key, sizeof key, "%3.3d", frame);
  return key;
}

bool save_selected(const Command &c, const std::string &name) {
  return file_name_acceptable(c, name) && gsave_image_file(name.c_str()) != 0;
}

int save_window(const Command &c, const char *templ) {
  gselect_frame(GKS_FRAME_WINDOW);
  const std::string name = save_name(templ, "win", -1);
  if (!save_selected(c, name)) return c.reply(MQ_LAST_LINE, "Unable to save window\n");
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Saved window in: %s\n", name.c_str());
}

int save_last(const Command &c, const char *templ) {
  gselect_frame(GKS_FRAME_LAST);
  const std::string name = save_name(templ, "last", -1);
  if (!save_selected(c, name)) return c.reply(MQ_LAST_LINE, "Unable to save last frame\n");
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Saved last frame in: %s\n", name.c_str());
}

// A frame of the animation written by "sa all" with the agif type: the
// frame as it is on screen, shown as long as the loop shows it.
int grab_animation_frame(int index, ImageRecord *img, int *delay_cs, void *) {
  gselect_frame(index);
  if (gget_image(img) != 1) return 0;
  const double seconds = gget_frame_delay(index) + (index == 0 ? gget_first_pause() : 0.0f);
  *delay_cs = static_cast<int>(std::min(std::lround(seconds * 100.0), 65535L));
  return 1;
}

int save_animation(const Command &c, const char *templ) {
  const int n = gget_num_images();
  const std::string name = save_name(templ, "all", -1);
  const bool saved = n > 0 && file_name_acceptable(c, name) &&
                     GIF_write_frame_source(name.c_str(), n, grab_animation_frame, nullptr) == 1;
  if (!saved) return LOOP_reply(c.sender, MQ_LAST_LINE, "Unable to save %d frames in: %s\n", n, name.c_str());
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Saved %d frames in: %s\n", n, name.c_str());
}

int save_all(const Command &c, const char *templ) {
  if (gget_save_image_type() == IMG_OUT_AGIF) return save_animation(c, templ);
  const int n = gget_num_images();
  for (int f = 0; f < n; f++) {
    gselect_frame(f);
    const std::string name = save_name(templ, frame_key(f), f);
    if (save_selected(c, name))
      LOOP_reply(c.sender, MQ_MORE_LINES, "Saved frame %d in: %s\n", f, name.c_str());
    else
      LOOP_reply(c.sender, MQ_LAST_LINE, "Unable to save frame %d\n", f);
  }
  return c.reply(MQ_LAST_LINE, "Save done\n");
}

int save_frame(const Command &c, int frame, const char *templ) {
  gselect_frame(frame);
  const std::string name = save_name(templ, frame_key(frame), frame);
  if (!save_selected(c, name))
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Unable to save frame %d in: %s\n", frame, name.c_str());
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Saved frame %d in: %s\n", frame, name.c_str());
}

int save(const Command &c) {
  if (c.args.empty()) return c.quote("Invalid save command: %s\n");
  const std::string &target = c.args[0];
  const char *templ = c.args.size() > 1 ? c.args[1].c_str() : nullptr;
  if (begins_with(target, "wi")) return save_window(c, templ);
  if (begins_with(target, "la")) return save_last(c, templ);
  if (is_word(target, "all")) return save_all(c, templ);
  if (begins_with_digit(target)) return save_frame(c, LOOP_int_value(target.c_str()), templ);
  return c.quote("Invalid save command: %s\n");
}

// ---------------------------------------------------------------------------
// Frames and the loop.

int create(const Command &c) {
  if (LOOP_state().open == 0) LOOP_process(-1, "open");
  const int f = gcreate_frame(-1);
  gselect_frame(f);
  gset_looping(1);
  if (c.args.size() == 1 && begins_with(c.args[0], "pix"))
    return c.reply(MQ_LAST_LINE, LOOP_window_info(gget_frame_id(f)).c_str());
  return c.reply(MQ_LAST_LINE, "Created pixmap\n");
}

// "la..." or a frame number; any other word leaves the current frame to delete.
bool frame_to_delete(const std::string &word, int *frame) {
  if (begins_with(word, "la")) {
    *frame = GKS_FRAME_LAST;
    return true;
  }
  if (!begins_with_digit(word)) return false;
  *frame = LOOP_int_value(word.c_str());
  return true;
}

int delete_frame(const Command &c) {
  int frame = 0;
  if (c.args.size() == 1 && frame_to_delete(c.args[0], &frame)) {
    gdelete_frame(frame);
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Deleted image: %s\n", c.args[0].c_str());
  }
  gdelete_frame(GKS_FRAME_CURRENT);
  return c.reply(MQ_LAST_LINE, "Deleted curent frame\n");
}

int quit(const Command &c) { return c.quote("%s\n", MQ_RELEASED); }

int update(const Command &c) {
  gupdate_window();
  return c.reply(MQ_LAST_LINE, "Window updated\n");
}

int stop_loop(const Command &c) {
  gtoggle_loop(0);
  return c.reply(MQ_LAST_LINE, "Loop stopped\n");
}

int start_loop(const Command &c) {
  gtoggle_loop(1);
  return c.reply(MQ_LAST_LINE, "Loop started\n");
}

int toggle_loop(const Command &c) {
  gtoggle_loop(2);
  return c.reply(MQ_LAST_LINE, gget_looping() ? "Loop started\n" : "Loop stopped\n");
}

int step_loop(const Command &c) {
  gdisplay_frame(ginc_frame(1));
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Frame incremented to: %d\n", gget_cur_frame());
}

int go(const Command &c) {
  if (c.args.empty()) return c.reply(MQ_LAST_LINE, "Invalid goto command\n");
  gdisplay_frame(LOOP_int_value(c.args[0].c_str()));
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Frame set to: %d\n", gget_cur_frame());
}

// The names of a comma list that a client may have read; "" when none is left.
std::string readable_table_names(const Command &c, const std::string &names) {
  if (c.sender < 0) return names;
  ParsedList list(names.c_str(), ',');
  std::string kept;
  const char *dir = RES_get("file_path");
  for (int i = 0; i < list.count(); i++) {
    char path[FILE_NAME_SIZE];
    FILE_add_path(dir, list.at(i), path);
    if (!file_name_acceptable(c, path)) continue;
    if (!kept.empty()) kept += ',';
    kept += list.at(i);
  }
  return kept;
}

int color_table(const Command &c) {
  if (c.args.empty()) {
    // The table read without a name: the color_table resource, else the default file.
    const char *table = RES_get("color_table");
    if (table == nullptr || *table == '\0') table = CLR_DEFAULT_TABLE;
    CLR_read_table(nullptr);
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Color table set to: %s\n", table);
  }
  const std::string names = readable_table_names(c, c.args[0]);
  // An empty list would read the default table instead of the one asked for.
  if (!names.empty()) CLR_read_table(names.c_str());
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Color table set to: %s\n", c.args[0].c_str());
}

// ---------------------------------------------------------------------------
// Set.

// Rows see the name and its values: v[0] the name, v[1] and v[2] the values.
using SetHandler = int (*)(const Command &c, const Words &v);

int set_invalid(const Command &c) { return c.quote("Invalid set command: %s\n"); }

int set_name(const Command &c, const Words &v) {
  gset_win_title(v[1].c_str());
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Window name set to: %s\n", v[1].c_str());
}

int set_size(const Command &c, const Words &v) {
  int w = 0, h = 0;
  const char *rest = nullptr;
  if (scan_pair(v[1], 'x', &w, &h, &rest) < 2 || w < 1 || h < 1 || w > GKS_MAX_WINDOW_SIDE || h > GKS_MAX_WINDOW_SIDE)
    return set_invalid(c);
  gset_xsize(w, h);
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Window size set to: %s\n", v[1].c_str());
}

int set_direction(const Command &c, const Words &v) {
  struct Direction {
    const char *prefix;
    int value;
  };
  static const Direction kDirections[] = {
      {"fo", GKS_LOOP_FORWARD}, {"ba", GKS_LOOP_BACKWARD}, {"al", GKS_LOOP_ALT_BACK}};
  for (const Direction &d : kDirections) {
    if (!begins_with(v[1], d.prefix)) continue;
    gset_loop_direct(d.value);
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Loop direction set to: %s\n", v[1].c_str());
  }
  gset_loop_direct(GKS_LOOP_FORWARD);
  return c.reply(MQ_LAST_LINE, "Loop direction set to: forward\n");
}

int set_delay(const Command &c, const Words &v) {
  float d = 0.0f;
  if (!delay_value(v[1], &d)) return set_invalid(c);
  gset_loop_delay(GKS_FRAME_ALL, d);
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Loop delay set to: %2.1f\n", d);
}

int set_pause(const Command &c, const Words &v) {
  float d = 0.0f;
  if (!delay_value(v[1], &d)) return set_invalid(c);
  gset_loop_delay(GKS_FRAME_LAST, d);
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Loop end pause set to: %2.1f\n", d);
}

int set_first_pause(const Command &c, const Words &v) {
  float d = 0.0f;
  if (!delay_value(v[1], &d)) return set_invalid(c);
  gset_first_pause(d);
  return LOOP_reply(c.sender, MQ_LAST_LINE, "First frame pause set to: %2.1f\n", gget_first_pause());
}

int set_output(const Command &c, const Words &v) {
  int type = IMG_OUT_XWD;
  if (is_word(v[1], "gif")) type = IMG_OUT_GIF;
  if (is_word(v[1], "png")) type = IMG_OUT_PNG;
  if (is_word(v[1], "agif")) type = IMG_OUT_AGIF;
  gset_save_image_type(type);
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Image output type set to: %s\n", v[1].c_str());
}

int set_draw(const Command &c, const Words &v) {
  const std::string &w = v[1];
  if (begins_with(w, "wi")) {
    gselect_frame(GKS_FRAME_WINDOW);
    return c.reply(MQ_LAST_LINE, "Draw window set to window\n");
  }
  if (begins_with(w, "la")) {
    gselect_frame(GKS_FRAME_LAST);
    return c.reply(MQ_LAST_LINE, "Draw window set to last\n");
  }
  if (begins_with_digit(w)) {
    const int n = LOOP_int_value(w.c_str());
    gselect_frame(n);
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Draw window set to %d\n", n);
  }
  return c.quote("Invalid set draw command: %s\n");
}

int set_frame_delay(const Command &c, const Words &v) {
  float d = 0.0f;
  if (!delay_value(v[2], &d)) return set_invalid(c);
  if (begins_with(v[1], "la")) {
    gset_loop_delay(GKS_FRAME_LAST, d);
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Set last frame delay to: %2.1f\n", d);
  }
  if (begins_with(v[1], "all")) {
    gset_loop_delay(GKS_FRAME_ALL, d);
    gset_loop_delay(GKS_FRAME_LAST, d);
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Set all frame delays to: %2.1f\n", d);
  }
  // Only the references that carry a delay reach the frame table.
  const int frame = LOOP_int_value(v[1].c_str());
  const bool has_delay = (frame >= 0 && frame < GKS_MAX_FRAMES) || frame == GKS_FRAME_LAST ||
                         frame == GKS_FRAME_CURRENT || frame == GKS_FRAME_ALL;
  if (!has_delay) return set_invalid(c);
  gset_loop_delay(frame, d);
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Set frame %d delay to: %2.1f\n", frame, d);
}

struct SetRow {
  const char *name;  // leading letters of the parameter name
  SetHandler run;
};

// Name and value.
const SetRow kSetTwoWords[] = {
    {"fi", set_first_pause},
    {"na", set_name},
    {"si", set_size},
    {"di", set_direction},
    {"de", set_delay},
    {"pa", set_pause},
    {"out", set_output},
    {"dr", set_draw},
    {"tr", set_transformation},
    {"vi", set_viewport},
    {"wi", set_window},
    {"do", set_domain},
    {"re", set_redraw},
    {"li", set_attribute_without_value},
    {"ma", set_attribute_without_value},
    {"te", set_attribute_without_value},
};

// Name, attribute and value.
const SetRow kSetThreeWords[] = {
    {"de", set_frame_delay}, {"vi", set_viewport}, {"wi", set_window},
    {"li", set_line},        {"ma", set_marker},   {"te", set_text},
};

template <size_t N>
int run_set_row(const SetRow (&rows)[N], const Command &c, const Words &v) {
  for (const SetRow &row : rows)
    if (begins_with(v[0], row.name)) return row.run(c, v);
  return set_invalid(c);
}

int set(const Command &c) {
  if (c.args.size() < 2) return set_invalid(c);
  // Words past the third are not read.
  const Words v(c.args.begin(), c.args.begin() + std::min<size_t>(c.args.size(), 3));
  return v.size() == 2 ? run_set_row(kSetTwoWords, c, v) : run_set_row(kSetThreeWords, c, v);
}

// ---------------------------------------------------------------------------
// Queries.

int query_window(const Command &c) { return c.reply(MQ_LAST_LINE, LOOP_window_info(gget_draw_window()).c_str()); }

int query_last(const Command &c) {
  if (c.args.size() > 1) return 0;  // "qu la <anything>" is not answered
  return LOOP_reply(c.sender, MQ_LAST_LINE, "%d\n", gget_num_images() - 1);
}

int query_count(const Command &c) { return LOOP_reply(c.sender, MQ_LAST_LINE, "%d\n", gget_num_images()); }

int query_pid(const Command &c) {
  return LOOP_reply(c.sender, MQ_LAST_LINE, "%d %d\n", LOOP_state().pid, ZYB_get_pid());
}

// The answer of "wa" and "qu wa".
int reply_watch(const Command &c) {
  std::string dir, pattern;
  int keep = 0;
  if (LOOP_watch_info(&dir, &pattern, &keep) == 0) return c.reply(MQ_LAST_LINE, "No watch\n");
  return LOOP_reply(c.sender, MQ_LAST_LINE, "Watching %s for %s, keeping %d frames\n", dir.c_str(), pattern.c_str(),
                    keep);
}

struct QueryRow {
  const char *item;  // leading letters of the item word
  int (*run)(const Command &c);
};

const QueryRow kQueries[] = {
    {"wi", query_window}, {"la", query_last},  {"num", query_count},
    {"pid", query_pid},   {"wa", reply_watch}, {"ll", query_latlon},
};

int query(const Command &c) {
  if (!c.args.empty())
    for (const QueryRow &row : kQueries)
      if (begins_with(c.args[0], row.item)) return row.run(c);
  return c.quote("Invalid query command: %s\n");
}

// ---------------------------------------------------------------------------
// Watching a directory: "wa dir [pattern ...] [keep N]", "wa off".

struct WatchWords {
  std::string dir;
  std::string pattern;
  int keep = LOOP_WATCH_KEEP_MAX;
};

bool keep_count(const std::string &word, int *keep) {
  if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos) return false;
  *keep = LOOP_int_value(word.c_str());
  return *keep >= 1 && *keep <= LOOP_WATCH_KEEP_MAX;
}

bool watch_words(const Command &c, WatchWords *w) {
  const Words &a = c.args;
  if (a.empty()) return false;
  w->dir = a[0];
  size_t i = 1;
  for (; i < a.size() && !is_word(a[i], "keep"); i++) w->pattern += (i > 1 ? " " : "") + a[i];
  if (i == a.size()) return true;
  return i + 2 == a.size() && is_word(a[i], "keep") && keep_count(a[i + 1], &w->keep);
}

int watch(const Command &c) {
  if (c.args.size() == 1 && is_word(c.args[0], "off")) {
    LOOP_watch_stop();
    return c.reply(MQ_LAST_LINE, "Watch stopped\n");
  }
  WatchWords w;
  if (!watch_words(c, &w)) return c.quote("Invalid watch command: %s\n");
  if (LOOP_watch_start(w.dir.c_str(), w.pattern.c_str(), w.keep, c.sender >= 0) == 0)
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Unable to watch: %s\n", w.dir.c_str());
  return reply_watch(c);
}

// ---------------------------------------------------------------------------
// Control.

int kill_looper(const Command &c) {
  c.quote("%s\n", MQ_SERVER_ENDS);
  LOOP_state().running = LOOP_STOP_KEEP_QUEUE;
  return 0;
}

const char *const kHelpLines[] = {
    "Help for Zorazez\n",
    "  cl   - clear frame\n",
    "  ld   - load image into frame\n",
    "  ov   - overlay image onto frame\n",
    "  sa   - save fram to file\n",
    "  cr   - create frame\n",
    "  de   - delete frame\n",
    "  up   - update frame\n",
    "  stop - stop loop\n",
    "  start - start loop\n",
    "  loop - toggle looping\n",
    "  step - step through frames\n",
    "  go   - go to frame\n",
    "  co   - specify color table\n",
    "  se   - set parameters\n",
    "  qu   - query parameters\n",
    "  qu ll x,y - latitude, longitude and nearest station at a pixel\n",
    "  te   - draw text\n",
    "  li   - draw line\n",
    "  ma   - draw marker\n",
    "  mf   - draw metafile\n",
    "  pr   - print recorded drawing to file\n",
    "  kill - kill zorazez\n",
    "Live loops\n",
    "  wa dir [pattern] [keep n] - watch a directory: new images join the loop\n",
    "  wa off - stop watching; qu wa - the watch in force\n",
    "  ld all file.gif - an animated GIF becomes frames 0, 1, ...\n",
    "  se out agif; sa all file.gif - save the loop as one animated GIF\n",
    "  se fi s - pause on the first frame\n",
};

int help(const Command &c) {
  const size_t n = std::size(kHelpLines);
  for (size_t i = 0; i < n; i++) c.reply(i + 1 < n ? MQ_MORE_LINES : MQ_LAST_LINE, kHelpLines[i]);
  return 0;
}

// ---------------------------------------------------------------------------
// The keyword table, tested in this order.

enum class Test { Prefix, Whole };

struct KeywordTest {
  const char *text = nullptr;
  Test test = Test::Prefix;
};

struct CommandRow {
  KeywordTest tests[3];
  int (*run)(const Command &c);
};

const CommandRow kCommands[] = {
    {{{"op"}}, open_window},
    {{{"cl"}}, clear},
    {{{"ld"}, {"load", Test::Whole}}, load},
    {{{"ov"}}, overlay},
    {{{"sa"}}, save},
    {{{"cr"}}, create},
    {{{"de"}}, delete_frame},
    {{{"quit", Test::Whole}}, quit},
    {{{"up"}}, update},
    {{{"stop", Test::Whole}}, stop_loop},
    {{{"start", Test::Whole}}, start_loop},
    {{{"loop", Test::Whole}}, toggle_loop},
    {{{"step", Test::Whole}}, step_loop},
    {{{"go"}}, go},
    {{{"co"}}, color_table},
    {{{"se"}}, set},
    {{{"qu"}}, query},
    {{{"te"}}, draw_text},
    {{{"li"}}, draw_line},
    {{{"ma"}}, draw_marker},
    {{{"mf"}, {"meta"}, {"zybmeta"}}, metafile},
    {{{"pr"}}, print},
    {{{"ki"}}, kill_looper},
    {{{"he"}}, help},
    {{{"wa"}}, watch},
};

bool row_matches(const CommandRow &row, const std::string &keyword) {
  for (const KeywordTest &t : row.tests) {
    if (t.text == nullptr) break;
    if (t.test == Test::Whole ? is_word(keyword, t.text) : begins_with(keyword, t.text)) return true;
  }
  return false;
}

}  // namespace

int LOOP_process(int sender, const char *line) {
  if (line == nullptr) line = "";
  Command c;
  c.sender = sender;
  c.line = line;
  Words words = split_words(line);
  if (!words.empty()) {
    c.keyword = words.front();
    c.args.assign(words.begin() + 1, words.end());
  }
  // Files named inside the files a client names follow the client's rules.
  const int was_untrusted = IMG_set_untrusted(sender >= 0 ? 1 : 0);
  const CommandRow *found = nullptr;
  for (const CommandRow &row : kCommands)
    if (!found && row_matches(row, c.keyword)) found = &row;
  const int result = found ? found->run(c) : c.quote("Invalid command: %s\n");
  IMG_set_untrusted(was_untrusted);
  return result;
}

int LOOP_reply(int sender, int code, const char *format, ...) {
  if (sender < 0) return -1;  // start-up and internal commands answer nobody
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string full(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0) std::vsnprintf(&full[0], full.size(), format, args);
  va_end(args);
  full.resize(length > 0 ? static_cast<size_t>(length) : 0);
  std::string text = copy_limited(full.c_str(), LOOP_REPLY_MAX);
  // A line cut to the record limit still ends as a line.
  if (full.size() > text.size() && full.back() == '\n') text.back() = '\n';
  return MQ_sput(LOOP_state().qid, sender, code, "%s", text.c_str());
}
