// The looper's spine: start-up, the main loop that interleaves queue
// records, window events and frame timing, and the ways out.
#include "app/loop.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "app/loop_wait.h"
#include "app/loop_watch.h"
#include "app/plt_tool.h"
#include "domain/region.h"
#include "gks/gks.h"
#include "image/img_tool.h"
#include "mqueue/mqueue.h"
#include "util/files.h"
#include "util/flag.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/system.h"

namespace {

LoopState state;

constexpr int kWindowTextMax = 39;
// Records served in one pass before the frame timing is looked at again.
constexpr int kRecordsPerPass = 32;

// The last pass served kRecordsPerPass records: more may wait, so the next
// wait only looks whether anything else is ready.
bool records_left = false;

// X events may wait: the connection's descriptor showed input, or the
// looper talked to the server since events were last served (a reply can
// bring events along that the descriptor then no longer shows). Otherwise
// serving them would find none, and an idle pass spares the calls.
bool x_events = true;

// How late the frame on screen came: from its due time to the restart of
// the clock after it was shown. It is taken off the next frame's wait, so
// that a busy pass or a slow server does not stretch the loop; at most half
// a delay, so that every frame stays on screen.
float lateness = 0.0f;

// The directory watch's descriptor as the wait knows it; -1 none.
int dir_watch_fd = -1;

const int kTerminationSignals[] = {SIGHUP, SIGQUIT, SIGINT, SIGTERM};

// The icon: a strip of film, 48 x 48 bits in rows of 6 bytes, least
// significant bit leftmost as X bitmaps are stored.
constexpr std::array<unsigned char, GKS_ICON_BYTES> film_strip_icon() {
  std::array<unsigned char, GKS_ICON_BYTES> bits{};
  auto set = [&bits](int x, int y) { bits[y * 6 + x / 8] |= static_cast<unsigned char>(1u << (x % 8)); };
  for (int y = 4; y < 44; y++) {
    for (int x = 2; x < 46; x++) {
      const bool edge = y < 11 || y >= 37;
      const bool hole = edge && (x % 8 >= 3 && x % 8 <= 5) && ((y >= 6 && y <= 8) || (y >= 39 && y <= 41));
      const bool frame_line = !edge && (x == 2 || x == 45 || x == 16 || x == 31 || y == 11 || y == 36);
      const bool picture = !edge && !frame_line && (x + y) % 7 == 0;
      if ((edge && !hole) || frame_line || picture) set(x, y);
    }
  }
  return bits;
}
constexpr std::array<unsigned char, GKS_ICON_BYTES> kIcon = film_strip_icon();

// Runs each ";"-separated piece of a line as one command for sender.
void run_pieces(int sender, const char *text) {
  ParsedList pieces(text, ';');
  for (int i = 0; i < pieces.count(); i++) LOOP_process(sender, pieces.at(i));
}

// A command made up by the looper itself, limited like its scratch line.
void run_composed(const char *format, ...) __attribute__((format(printf, 1, 2)));
void run_composed(const char *format, ...) {
  char line[LOOP_LINE_MAX + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  LOOP_process(-1, line);
}

// ---------------------------------------------------------------------------
// Window number and queue.

struct WindowChoice {
  int number = 0;
  bool attach = false;  // join an existing queue ("+N")
};

bool digit_at(const std::string &text, size_t i) {
  return text.size() > i && std::isdigit(static_cast<unsigned char>(text[i]));
}

WindowChoice classify_window(const std::string &text) {
  WindowChoice choice;
  const char first = text.empty() ? '\0' : text[0];
  if ((first == 'W' || first == 'w') && digit_at(text, 1)) {
    choice.number = LOOP_int_value(text.c_str() + 1);
  } else if (first == '+' && digit_at(text, 1)) {
    choice.number = LOOP_int_value(text.c_str() + 1);
    choice.attach = true;
  } else if (digit_at(text, 0) || first == '-') {
    choice.number = LOOP_int_value(text.c_str());
  } else {
    choice.number = -1;  // a name: no queue
    return choice;
  }
  if (choice.number > MQ_RAW_KEY_LIMIT) choice.number -= MQ_QUEUE_OFFSET;
  return choice;
}

void open_queue(bool attach) {
  if (attach) {
    state.qid = MQ_open(state.window_num);
    if (state.qid != -1) return;
  }
  state.qid = MQ_create(state.window_num);
  if (state.qid != -1) return;
  MESS_print(MESS_ERROR, "LOOP_init: Unable to create message queue\n");
  MESS_print(MESS_ERROR, "Either another zorazez programs is using this queue\n");
  MESS_print(MESS_ERROR, "or it has not been deleted (use \"animctl -win %d clean\")\n", state.window_num);
  ZYB_exit(14);
}

void install_cleanup() {
  struct sigaction action {};
  action.sa_handler = LOOP_cleanup;
  sigemptyset(&action.sa_mask);
  // A second signal must not start a second clean-up half-way through the first.
  for (int s : kTerminationSignals) sigaddset(&action.sa_mask, s);
  for (int s : kTerminationSignals) sigaction(s, &action, nullptr);
}

// ---------------------------------------------------------------------------
// Start-up steps.

// Only the user's own command line may ask at the terminal (the "var" domain).
void run_startup_commands() {
  const char *commands = RES_get("command");
  if (commands == nullptr) return;
  DOM_set_prompt(isatty(STDIN_FILENO) ? 1 : 0);
  run_pieces(-1, commands);
  DOM_set_prompt(0);
}

void load_startup_images() {
  ParsedList files;
  RES_getvals("filename", files.count_out(), files.items_out());
  if (files.count() < 1) return;

  ImageRecord first;
  IMG_init(&first);
  gquery_image_file(files.at(0), &first);
  run_composed("set size %dx%d", first.width, first.height);
  if (RES_get("title") == nullptr) run_composed("set name %s", first.info);
  IMG_free(&first);

  LOOP_process(-1, "open");
  for (int i = 0; i < files.count(); i++) {
    MESS_print(MESS_MESS, "Loading frame %d: %s\n", i, files.at(i));
    LOOP_process(-1, "create");
    run_composed("ld %d %s", i, files.at(i));
    gupdate_window();
  }
}

// The window information file: "zorazez.N" for W<N>, "zorazez.win" for a
// lone W, the window text itself for names and "+N"; nothing for plain numbers.
std::string info_file_name(const std::string &text) {
  if (text.empty() || digit_at(text, 0) || text[0] == '-') return "";
  if (text[0] == 'W' || text[0] == 'w')
    return digit_at(text, 1) ? "zorazez." + std::to_string(state.window_num) : "zorazez.win";
  return text;
}

void write_info_file(const std::string &window_text) {
  const std::string name = info_file_name(window_text);
  if (name.empty()) return;
  char path[FILE_NAME_SIZE];
  FILE_add_path(RES_get("file_path"), name.c_str(), path);
  FILE *file = FILE_open(path, "w");
  if (file == nullptr) {
    MESS_print(MESS_WARN, "LOOP_init: Unable to write window information file: %s\n", path);
    return;
  }
  std::fputs(LOOP_window_info(gget_draw_window()).c_str(), file);
  FILE_close(file);
}

void move_to_background() {
  // Both processes share the stdio buffers until the fork: what is buffered
  // now would otherwise be written twice.
  std::fflush(stdout);
  std::fflush(stderr);
  if (ZYB_back_proc() != 0) return;
  MQ_del(state.qid);
  ZYB_exit(1);
}

// ---------------------------------------------------------------------------
// Main loop.

bool loop_wanted() {
  return state.running >= LOOP_RUN && gget_input_mode() != 0 && gget_num_images() > 0 && gget_looping();
}

// Takes one record from the queue and executes it; false when none was
// waiting. A record that was dropped still counts: more may follow it.
bool take_record() {
  char text[MQ_TEXT_MAX + 3] = {};
  int sender = -1;
  const int got = MQ_sget(state.qid, &sender, text);
  if (got < 0) return false;
  if (got == 0) return true;
  text[sizeof text - 1] = '\0';
  MESS_print(MESS_OUT4, "CHK: %d:%d:%s:\n", got, sender, text);
  if (got == MQ_GOT_COMMAND) run_pieces(sender, text);
  return true;
}

// What a pass serves before it looks at the frames: queue records, window
// events, and the descriptors other modules watch.
void serve_inputs() {
  int served = 0;
  while (served < kRecordsPerPass && state.running >= LOOP_RUN && take_record()) served++;
  records_left = served == kRecordsPerPass;
  if (served > 0) x_events = true;
  if (x_events) gcheck_event();
  x_events = LOOP_serve_watches();
  // A directory watch without inotify lists the directory when its time comes.
  LOOP_dir_watch_service();
}

// The directory watch's descriptor comes and goes with the "wa" commands.
void follow_dir_watch() {
  const int fd = LOOP_dir_watch_fd();
  if (fd == dir_watch_fd) return;
  if (dir_watch_fd >= 0) LOOP_unwatch_fd(dir_watch_fd);
  dir_watch_fd = fd;
  if (fd >= 0)
    LOOP_watch_fd(
        fd, [](int, short, void *) { LOOP_dir_watch_service(); }, nullptr);
}

void wait_for_input(double seconds) {
  follow_dir_watch();
  if (const int poll_ms = LOOP_dir_watch_timeout_ms(); poll_ms >= 0)
    seconds = seconds < 0 ? poll_ms / 1000.0 : std::min(seconds, poll_ms / 1000.0);
  x_events = LOOP_wait(records_left ? 0.0 : seconds, x_events);
}

// Waits out the shown frame's delay, serving the queue and the window as
// their input comes, then shows the next frame. A command that ends or
// stops the loop during the wait ends the wait without a further frame.
void step_frame() {
  gset_cursor(GKS_CURSOR_LOOP);
  float due = 0.0f;
  for (;;) {
    // Read afresh: a command during the wait may change the delay.
    const float delay = gget_frame_delay(GKS_FRAME_CURRENT);
    due = delay - std::min(lateness, delay / 2);
    const float elapsed = ZYB_elapse_time();
    if (due <= elapsed) break;
    wait_for_input(due - elapsed);
    serve_inputs();
    if (!loop_wanted()) {
      lateness = 0.0f;
      return;
    }
  }
  gdisplay_frame(ginc_frame(0));
  x_events = true;
  lateness = std::max(0.0f, ZYB_elapse_time() - due);
  ZYB_init_time();
}

[[noreturn]] void shut_down() {
  gset_input_mode(0);
  gdeactivate_ws(0);
  gclose_ws(0);
  gclose_gks();
  if (state.running == LOOP_STOP_DEL_QUEUE) MQ_del(state.qid);
  ZYB_exit(0);
}

}  // namespace

LoopState &LOOP_state() { return state; }

int LOOP_int_value(const char *word) {
  if (word == nullptr) return 0;
  const long value = std::strtol(word, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string LOOP_window_info(unsigned long drawable) {
  const int root = static_cast<int>(gget_root_window());
  const int id = static_cast<int>(drawable);
  const int w = gget_window_width();
  const int h = gget_window_height();
  char line[LOOP_REPLY_MAX + 1];
  if (const unsigned long cmap = gget_user_cmap())
    std::snprintf(line, sizeof line, "+%d:%d:%dx%d:%d\n", root, id, w, h, static_cast<int>(cmap));
  else if (w != GKS_DEFAULT_WIDTH || h != GKS_DEFAULT_HEIGHT)
    std::snprintf(line, sizeof line, "+%d:%d:%dx%d\n", root, id, w, h);
  else
    std::snprintf(line, sizeof line, "+%d:%d\n", root, id);
  return line;
}

int LOOP_init() {
  state.pid = ZYB_get_pid();
  MQ_offset(MQ_QUEUE_OFFSET);
  state.window_num = 0;

  const char *window_resource = RES_get("window_num");
  const std::string window_text = window_resource ? copy_limited(window_resource, kWindowTextMax) : std::string();
  WindowChoice choice;
  if (window_resource != nullptr) choice = classify_window(window_text);
  state.window_num = choice.number;
  open_queue(choice.attach);
  install_cleanup();

  gset_icon_bitmap(kIcon.data());
  GPH_set_win_title();
  gset_rw_colors(0);
  CLR_read_table(nullptr);
  LOOP_param_decode();

  run_startup_commands();
  load_startup_images();

  if (FLAG_batch() && state.window_num < 0) {
    LOOP_process(-1, "open");
    MESS_print(MESS_PRINT, "%s", LOOP_window_info(gget_draw_window()).c_str());
  }
  if (window_resource != nullptr) write_info_file(window_text);
  if (FLAG_batch()) move_to_background();
  // The move to the background gives SIGINT its default action back.
  install_cleanup();
  return 0;
}

void LOOP_message() {
  while (state.running >= LOOP_RUN) {
    serve_inputs();
    if (gget_input_mode() == 0) {  // the user quit in the window
      state.running = LOOP_STOP_DEL_QUEUE;
      break;
    }
    if (state.running < LOOP_RUN) break;
    if (gget_num_images() > 0 && gget_looping()) {
      step_frame();
    } else {
      lateness = 0.0f;
      wait_for_input(-1.0);
    }
  }
  shut_down();
}

int LOOP_chk_message() {
  take_record();
  return 0;
}

// Runs in a signal handler: only calls that are safe there. The X server
// frees the window and the frame pixmaps when the connection closes.
void LOOP_cleanup(int) {
  static const char kNotice[] = "Signal received, cleaning up queue and exiting\n";
  if (MESS_check(MESS_MESS)) {
    ssize_t ignored = write(STDOUT_FILENO, kNotice, sizeof kNotice - 1);
    (void)ignored;
  }
  MQ_del_on_signal(state.qid);
  _exit(0);
}

int LOOP_param_decode() {
  struct ParamRow {
    const char *keyword;
    void (*apply)();
  };
  static const ParamRow kParams[] = {
      {"full", [] { PLT_set_view_offset(0.0f); }}, {"inv", [] { gset_inverse(1); }},
      {"lcmap", [] { gset_local_colormap(1); }},   {"nolcmap", [] { gset_local_colormap(0); }},
      {"rwclr", [] { gset_rw_colors(1); }},        {"norwclr", [] { gset_rw_colors(0); }},
  };
  ParsedList entries;
  RES_getvals("plot_param", entries.count_out(), entries.items_out());
  for (int i = 0; i < entries.count(); i++)
    for (const ParamRow &row : kParams)
      if (stricmp(entries.at(i), row.keyword) == 0) row.apply();
  return 0;
}
