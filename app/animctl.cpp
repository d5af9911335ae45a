// animctl: sends one line of looper commands to a zorazez window from the
// shell and prints the answers.
//
//   animctl [-wn N] [-pa qtype=sock|mqueue,to=S] [-me level] word...
//   animctl -wn N clean
//
// Exit statuses: 0 answered (or cleaned), 1 no looper on the window or the
// channel broke, 2 bad usage, 7 the looper did not answer in time.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mqueue/mqueue.h"
#include "util/flag.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/system.h"

namespace {

// Rows of the suite's option table.
constexpr int kOptHelp = 57;
constexpr int kOptMessage = 73;
constexpr int kOptWindowNum = 107;
constexpr int kOptParameter = 83;
constexpr int kOptWords = 50;  // the positional row that takes all remaining words

constexpr int kKeyedOptions[] = {kOptHelp, kOptMessage, kOptWindowNum, kOptParameter, 0};
constexpr int kPositionalOptions[] = {kOptWords, 0};
constexpr int kNoOptions[] = {0};

constexpr int kNameMax = 160;
constexpr int kExitUsage = 2;
constexpr int kExitNoLooper = 1;

[[noreturn]] __attribute__((format(printf, 2, 3))) void fail(int status, const char *format, ...) {
  std::string line = std::string("animctl: ") + format;
  va_list args;
  va_start(args, format);
  MESS_vprint(MESS_ERROR, line.c_str(), args);
  va_end(args);
  ZYB_exit(status);
}

void print_help() {
  char name[kNameMax + 1];
  RES_get_progname(name);
  MESS_print(MESS_PRINT, "%s: Sends commands to a zorazez window\n", name);
  RES_help_print(name, kKeyedOptions, kNoOptions);
  MESS_print(MESS_PRINT, " %-10s  %s\n", "cmd[;cmd]", "Looper commands, answered on standard output");
  MESS_print(MESS_PRINT, " %-10s  %s\n", "clean", "Remove the window's message queue");
}

// The window number as the looper takes it: "W5", "w5" and "+5" name
// window 5 like "5"; -1 and other negative numbers are windows too.
bool parse_window(const char *text, int *window) {
  const char *digits = text;
  if (*digits == 'W' || *digits == 'w' || *digits == '+') ++digits;
  if (digits != text && (*digits < '0' || *digits > '9')) return false;
  char *end = nullptr;
  errno = 0;
  long value = std::strtol(digits, &end, 10);
  if (end == digits || *end != '\0' || errno != 0 || value < INT_MIN || value > INT_MAX) return false;
  if (value > MQ_RAW_KEY_LIMIT) value -= MQ_QUEUE_OFFSET;
  *window = static_cast<int>(value);
  return true;
}

int window_number() {
  const char *text = RES_get("window_num");
  if (text == nullptr) return 0;
  int window = 0;
  if (!parse_window(text, &window)) fail(kExitUsage, "bad window number \"%s\"\n", text);
  return window;
}

// The positional words joined by single blanks: one queue record.
std::string command_line() {
  ParsedList words;
  RES_getvals("filename", words.count_out(), words.items_out());
  std::string line;
  for (int i = 0; i < words.count(); ++i) {
    if (!line.empty()) line += ' ';
    line += words.at(i);
  }
  return line;
}

// The looper executes every ";"-separated piece of a record and answers each.
int count_commands(const std::string &line) { return ParsedList(line.c_str(), ';').count(); }

int clean_window(int window) {
  int key = MQ_QUEUE_OFFSET + window;
  if (MQ_gettype() == MQ_TCP) {
    MESS_print(MESS_PRINT, "Window %d uses TCP port %d: there is no queue to remove\n", window, key);
    return 0;
  }
  int removed = MQ_remove(window);
  if (removed < 0) fail(kExitNoLooper, "unable to remove the queue of window %d: %s\n", window, std::strerror(errno));
  if (removed == 0)
    MESS_print(MESS_PRINT, "No message queue for window %d (key %d)\n", window, key);
  else
    MESS_print(MESS_PRINT, "Removed the message queue of window %d (key %d)\n", window, key);
  return 0;
}

enum class Outcome { Answered, Released, Lost };

// Prints every answer line until the last line of the last command; a
// release (-1 "quit", -2 "kill") ends the conversation early.
Outcome print_answers(int q, int id, int commands) {
  char text[MQ_TEXT_MAX + 3];
  while (commands > 0) {
    int code = MQ_get(q, id, text);
    // A -1 answer always carries the echoed command; an empty one is a failure.
    if (code == MQ_RELEASED && text[0] == '\0') return Outcome::Lost;
    MESS_print(MESS_PRINT, "%s", text);
    std::fflush(stdout);
    if (code == MQ_RELEASED || code == MQ_SERVER_ENDS) return Outcome::Released;
    if (code != MQ_MORE_LINES) --commands;
  }
  return Outcome::Answered;
}

// Gives the client slot back, so that the looper's nineteen slots are not
// used up by successive shell calls (a call that dies before this is freed
// by the looper when a newcomer needs the slot). The looper's echo of
// "quit" is not awaited: the looper drops it when it gives the id to the
// next client, and not waiting saves the caller a round trip.
void release_slot(int q, int id) { MQ_put(q, id, "quit"); }

int talk(int window, const std::string &line) {
  int q = MQ_open(window);
  int port = MQ_QUEUE_OFFSET + window;
  if (q == -1) {
    if (MQ_gettype() == MQ_TCP)
      fail(kExitNoLooper, "no zorazez on window %d (connection to port %d refused)\n", window, port);
    fail(kExitNoLooper, "no zorazez on window %d (no message queue with key %d)\n", window, port);
  }
  int id = MQ_connect(q);
  if (id < 0) fail(kExitNoLooper, "window %d did not register this client\n", window);
  if (line.size() > static_cast<size_t>(MQ_TEXT_MAX))
    MESS_print(MESS_WARN, "animctl: command line cut to %d characters\n", MQ_TEXT_MAX);
  if (MQ_put(q, id, "%s", line.c_str()) < 0) fail(kExitNoLooper, "unable to send to window %d\n", window);
  std::string sent = copy_limited(line.c_str(), MQ_TEXT_MAX);
  Outcome outcome = print_answers(q, id, count_commands(sent));
  if (outcome == Outcome::Lost) fail(kExitNoLooper, "lost the connection to window %d\n", window);
  if (outcome == Outcome::Answered) release_slot(q, id);
  MQ_close(q);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  RES_set_server_client(MQ_resource_client());
  RES_init(argc, argv, kKeyedOptions, kPositionalOptions);
  if (FLAG_help()) {
    print_help();
    ZYB_exit(0);
  }
  MQ_params();
  MQ_offset(MQ_QUEUE_OFFSET);
  int window = window_number();
  std::string line = command_line();
  if (line.empty()) {
    MESS_print(MESS_ERROR, "animctl: no command given (animctl -h for help)\n");
    ZYB_exit(kExitUsage);
  }
  if (stricmp(line.c_str(), "clean") == 0) ZYB_exit(clean_window(window));
  ZYB_exit(talk(window, line));
}
