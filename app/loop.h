// The looper: start-up, the main loop that interleaves queue records,
// window events and frame timing, and the command language.
#pragma once

#include <string>

#include "mqueue/mqueue.h"  // reply codes (MQ_LAST_LINE, ...)

// Limits of the command language.
constexpr int LOOP_WORD_MAX = 79;            // one argument word
constexpr int LOOP_LINE_MAX = 120;           // a command line composed by the looper itself
constexpr int LOOP_REPLY_MAX = MQ_TEXT_MAX;  // one reply line

// Main-loop states (LoopState::running).
constexpr int LOOP_RUN = 1;
constexpr int LOOP_STOP_KEEP_QUEUE = 0;
constexpr int LOOP_STOP_DEL_QUEUE = -1;

// Process-wide looper state, shared by the start-up code and the commands.
struct LoopState {
  int qid = 0;         // queue handle; negative: no queue
  int pid = 0;         // process id before any move to the background
  int window_num = 0;  // selects the queue key or port
  int running = LOOP_RUN;
  int open = 0;                    // 1 once the window has been opened
  int ws_type = 0;                 // workstation type of the window
  const char *xconn_id = nullptr;  // display part of the device resource
  int trans = 0;                   // normalisation transformation of the drawing commands
};

// The one state record of this process (for the looper's own sources).
LoopState &LOOP_state();

int LOOP_init();
[[noreturn]] void LOOP_message();
int LOOP_chk_message();  // takes at most one record from the queue and executes it
[[noreturn]] void LOOP_cleanup(int signal);
int LOOP_param_decode();

// Executes one command line for a client id (or -1: nobody is answered).
// -1 when "open" found the window open or could not open it, else >= 0.
int LOOP_process(int sender, const char *line);

// Sends one reply line to a client; texts are cut to LOOP_REPLY_MAX.
int LOOP_reply(int sender, int code, const char *format, ...) __attribute__((format(printf, 3, 4)));

// The decimal value at the start of a word, as atoi reads it but held to
// the range of int; 0 for a word that is not a number.
int LOOP_int_value(const char *word);

// The window information line ("+root:drawable[:WxH[:cmap]]\n") describing
// the window with the given drawable id.
std::string LOOP_window_info(unsigned long drawable);

// Descriptors of other modules in the main loop. Between its passes the
// loop waits for whichever comes first: an X event, a queue record, the
// next frame's due time, or a watched descriptor that becomes readable (or
// hangs up, or fails). handler(fd, revents, data) then runs in the next
// pass, after the queue records and the window events, before the frame
// step; revents are poll's. A handler may watch or unwatch descriptors,
// its own included. At most LOOP_WATCH_MAX descriptors.
constexpr int LOOP_WATCH_MAX = 16;
using LOOP_WatchHandler = void (*)(int fd, short revents, void *data);
// 0; -1 for a negative fd, no handler or a full table. Watching a watched
// fd again replaces its handler.
int LOOP_watch_fd(int fd, LOOP_WatchHandler handler, void *data);
int LOOP_unwatch_fd(int fd);  // 0; -1 when fd was not watched
