#include "mqueue/mqueue.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "mqueue/mq_peers.h"
#include "mqueue/mq_sysv.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/system.h"

namespace {

// The queue layer logs on the top debug bit only, so that "+debug" of other
// modules can be had without the record traffic (and the other way round).
constexpr unsigned int kDebug = MESS_DEBUG_D;

constexpr long kServerAddress = 1;       // message type of everything sent to the server
constexpr int kRegistrationAddress = 2;  // message type of registration answers without a process id
constexpr int kLastClient = MQ_FIRST_CLIENT + MQ_MAX_CLIENTS - 1;
constexpr int kSlots = MQ_MAX_CLIENTS + 1;  // slot i holds client id i + 2; slot 0 is not used
constexpr int kListenBacklog = 100;
constexpr int kRecordWaitMs = 2000;  // a client: the rest of a begun record, and a blocked send
constexpr int kMaxPort = 65535;
constexpr int kSocketBufferBytes = 64 * 1024;
// After the time-out a repeating alarm: a receive that began just after the
// first signal is still interrupted.
constexpr long kAlarmRepeatUs = 200000;

// A System V queue has no descriptor to wait on: the server looks at it
// this often, and much more often for a while after a record came, when
// the client's next record (the command after its registration, say) is
// due in a fraction of a millisecond.
constexpr long kSysvPollUs = 5000;
constexpr long kSysvBusyPollUs = 500;
constexpr std::chrono::milliseconds kBusyWindow{50};
// How often an idle server looks whether answers nobody reads fill its queue.
constexpr std::chrono::milliseconds kUnjamInterval{50};
// A flood of bad records must not flood the log as well.
constexpr int kDropWarningsPerSecond = 5;

using Clock = std::chrono::steady_clock;
using mq_sysv::Payload;
using SysvRecord = mq_sysv::Record;

// One registration: the client's process, when it said which, and over TCP
// the connection it registered on.
struct Slot {
  bool busy = false;
  int pid = 0;    // 0: not given
  int peer = -1;  // TCP connection, -1 for the System V queue
};

struct QueueState {
  int type = MQ_SYSV;
  int offset = 0;
  int timeout = 20;
  void (*to_func)(int) = nullptr;
  // conn[i] holds client id i + 2 while it is registered.
  std::array<Slot, kSlots> conn{};
  int sock1 = -1;  // server: the listening socket; client: the connection
  // sock1 listens only after MQ_create; a looper that attached to a channel
  // with MQ_open holds a client connection there and has nobody to accept.
  bool listening = false;
  bool bind_any = false;
  int server_queue = -1;  // the System V queue the server reads
  Clock::time_point last_record{};
  Clock::time_point last_unjam{};
  Clock::time_point drop_second{};  // start of the second the dropped records are counted in
  int drops = 0;
  volatile sig_atomic_t alarm_fired = 0;
};

QueueState qs;

char code_char(int code) { return static_cast<char>('0' + code); }
int code_of(char c) { return static_cast<unsigned char>(c) - '0'; }

int slot_of(int sender) { return sender - 2; }
bool is_client_id(int id) { return id >= MQ_FIRST_CLIENT && id <= kLastClient; }

std::string format_text(const char *format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  return copy_limited(text.c_str(), MQ_TEXT_MAX);
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

void free_all_slots() { qs.conn.fill(Slot{}); }

void close_fd(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// ---------------------------------------------------------------- time-out

void on_alarm(int signal) {
  // The repeats only interrupt; the handler runs once per time-out.
  if (qs.alarm_fired) return;
  qs.alarm_fired = 1;
  if (qs.to_func != nullptr) {
    qs.to_func(signal);
    return;
  }
  MQ_intrp(signal);
}

// No SA_RESTART: a blocked receive or send must come back when the alarm
// fires and a handler that does not exit has run.
void install_alarm_handler() {
  struct sigaction action {};
  action.sa_handler = on_alarm;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
}

void set_alarm_timer(int seconds) {
  itimerval timer{};
  if (seconds > 0) {
    timer.it_value.tv_sec = seconds;
    timer.it_interval.tv_usec = kAlarmRepeatUs;
  }
  setitimer(ITIMER_REAL, &timer, nullptr);
}

// ------------------------------------------------------------- descriptors

// 1 readable, 0 time limit reached, -1 error or the client time-out fired.
// A negative limit waits until data, a close or the alarm.
int wait_for(int fd, short events, int limit_ms) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(limit_ms, 0));
  for (;;) {
    pollfd p{fd, events, 0};
    int ready = poll(&p, 1, limit_ms < 0 ? -1 : remaining_ms(deadline));
    if (ready > 0) return 1;
    if (ready == 0) return 0;
    if (errno != EINTR || qs.alarm_fired) return -1;
  }
}

// Receives exactly size bytes within the record wait. Returns size, or the
// bytes got so far with closed set when the peer closed first.
int receive_rest(int fd, unsigned char *out, int size, bool *closed) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kRecordWaitMs);
  int got = 0;
  *closed = false;
  while (got < size) {
    if (wait_for(fd, POLLIN, remaining_ms(deadline)) <= 0) return got;
    ssize_t n = recv(fd, out + got, static_cast<size_t>(size - got), MSG_DONTWAIT);
    if (n == 0) {
      *closed = true;
      return got;
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return got;
    }
    got += static_cast<int>(n);
  }
  return got;
}

// Sends all bytes; a full socket buffer is waited for at most the record wait.
int send_all(int fd, const unsigned char *bytes, int size) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kRecordWaitMs);
  int sent = 0;
  while (sent < size) {
    ssize_t n = send(fd, bytes + sent, static_cast<size_t>(size - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    if (wait_for(fd, POLLOUT, remaining_ms(deadline)) <= 0) return -1;
  }
  return sent;
}

// One record on a stream: length byte, code character, text without terminator.
int send_record(int fd, int code, const std::string &text) {
  if (fd < 0) return -1;
  std::array<unsigned char, 2 + MQ_TEXT_MAX> frame{};
  int length = 1 + static_cast<int>(text.size());
  frame[0] = static_cast<unsigned char>(length);
  frame[1] = static_cast<unsigned char>(code_char(code));
  std::memcpy(frame.data() + 2, text.data(), text.size());
  int sent = send_all(fd, frame.data(), 1 + length);
  MESS_print(kDebug, "Send: %d %d %d => %s\n", sent, length, code, text.c_str());
  return sent == 1 + length ? sent : -1;
}

// ------------------------------------------------------ System V records

SysvRecord make_sysv_record(long type, int code, const std::string &text) {
  SysvRecord record{};
  record.mtype = type;
  record.payload[0] = code_char(code);
  std::memcpy(record.payload + 1, text.data(), text.size());
  return record;
}

int key_of(int win) { return qs.offset + win; }

// ----------------------------------------------------------- registration

// The registration text: the user id, then (from newer clients) the
// process id. A process id that is there but no number is reported, and
// that client's slot is then kept until it quits.
struct Registration {
  int pid = 0;
  bool pid_given = false;
};

Registration parse_registration(const char *text) {
  Registration r;
  char *end = nullptr;
  std::strtol(text, &end, 10);  // the user id: not used
  const char *rest = end;
  while (std::isspace(static_cast<unsigned char>(*rest))) ++rest;
  if (*rest == '\0') return r;
  errno = 0;
  long pid = std::strtol(rest, &end, 10);
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  if (end == rest || *end != '\0' || errno != 0 || pid < 1 || pid > INT_MAX) {
    MESS_print(MESS_WARN, "MQ_sget: registration \"%s\" gives no process id; the slot is kept until its client quits\n",
               text);
    return r;
  }
  r.pid = static_cast<int>(pid);
  r.pid_given = true;
  return r;
}

// A process that has ended, or that only waits for its parent to collect
// it. kill(pid, 0) refused with EPERM is a live process of another user.
bool process_gone(int pid) {
  if (kill(pid, 0) != 0) return errno == ESRCH;
  char name[32];
  std::snprintf(name, sizeof name, "/proc/%d/stat", pid);
  FILE *file = std::fopen(name, "r");
  if (file == nullptr) return false;
  char line[512] = "";
  bool zombie = false;
  if (std::fgets(line, sizeof line, file) != nullptr) {
    // "pid (command) state ...": the command may hold blanks and brackets.
    const char *close = std::strrchr(line, ')');
    zombie = close != nullptr && (close[1] == ' ') && (close[2] == 'Z' || close[2] == 'X');
  }
  std::fclose(file);
  return zombie;
}

bool slot_is_dead(const Slot &slot) {
  if (slot.peer >= 0 && mq_peers::closed_by_peer(slot.peer)) return true;
  return slot.pid > 0 && process_gone(slot.pid);
}

// Every slot is taken: those of clients that have gone without "quit" are
// freed. A slot whose client gave no process id stays (over TCP until its
// connection closes).
void free_slots_of_the_gone() {
  for (int slot = 1; slot < kSlots; ++slot) {
    Slot &s = qs.conn[static_cast<size_t>(slot)];
    if (!s.busy || !slot_is_dead(s)) continue;
    MESS_print(kDebug, "MQ_sget: client %d (process %d) has gone; its slot is free\n", slot + 2, s.pid);
    s = Slot{};
  }
}

int lowest_free_slot() {
  for (int slot = 1; slot < kSlots; ++slot)
    if (!qs.conn[static_cast<size_t>(slot)].busy) return slot;
  return -1;
}

// The registration answer goes to the process that asked, when it said
// which: clients that register at the same time cannot take each other's id.
int send_registration_answer(int q, int id, int peer, const Registration &r) {
  const std::string text = std::to_string(id);
  if (qs.type == MQ_TCP) return mq_peers::send(peer, MQ_REGISTERED, text);
  const long address = r.pid_given ? MQ_PID_ADDRESS + r.pid : kRegistrationAddress;
  SysvRecord record = make_sysv_record(address, MQ_REGISTERED, text);
  MESS_print(kDebug, "SPUT:%ld:%s:", address, record.payload);
  return mq_sysv::send(q, id, record);
}

int register_client(int q, const char *body, int peer, int *sender, char *text) {
  text[0] = '\0';
  const Registration r = parse_registration(body);
  int slot = lowest_free_slot();
  if (slot < 0) {
    free_slots_of_the_gone();
    slot = lowest_free_slot();
  }
  if (slot < 0) {
    // No answer: the client gives up through its time-out.
    MESS_print(MESS_WARN, "MQ_sget: all %d client slots are busy, registration ignored\n", MQ_MAX_CLIENTS);
    return MQ_GOT_CLIENT;
  }
  const int id = slot + 2;
  // What still waits for this id was meant for its previous holder.
  if (qs.type == MQ_SYSV) mq_sysv::forget(q, id);
  const int sent = send_registration_answer(q, id, peer, r);
  // A client that cannot be told its id must not hold a slot for ever.
  if (sent < 0) return 0;
  qs.conn[static_cast<size_t>(slot)] = Slot{true, r.pid, peer};
  *sender = id;
  return MQ_GOT_CLIENT;
}

void warn_dropped(const char *why, int code) {
  const Clock::time_point now = Clock::now();
  if (now - qs.drop_second >= std::chrono::seconds(1)) {
    if (qs.drops > kDropWarningsPerSecond)
      MESS_print(MESS_WARN, "MQ_sget: %d more bad records dropped\n", qs.drops - kDropWarningsPerSecond);
    qs.drop_second = now;
    qs.drops = 0;
  }
  if (++qs.drops <= kDropWarningsPerSecond) MESS_print(MESS_WARN, "MQ_sget: record %s %d dropped\n", why, code);
}

// The server's reading of one record's code: a registration, or a command of
// a registered client (over TCP on the connection it registered on).
// Anything else is dropped before it can index a slot.
int accept_record(int q, int code, const char *body, int peer, int *sender, char *text) {
  qs.last_record = Clock::now();
  if (code == MQ_REGISTER) return register_client(q, body, peer, sender, text);
  if (!is_client_id(code)) {
    warn_dropped("with the unknown sender code", code);
    return 0;
  }
  const Slot &slot = qs.conn[static_cast<size_t>(slot_of(code))];
  if (!slot.busy) {
    warn_dropped("from the unregistered client", code);
    return 0;
  }
  if (slot.peer != peer) {
    warn_dropped("from another connection for client", code);
    return 0;
  }
  *sender = code;
  copy_limited_to(text, body, MQ_TEXT_MAX);
  return MQ_GOT_COMMAND;
}

// ------------------------------------------------------------ System V side

bool slot_busy_for_id(int id) { return is_client_id(id) && qs.conn[static_cast<size_t>(slot_of(id))].busy; }

int sysv_create(int win) {
  int key = key_of(win);
  // Key 0 is IPC_PRIVATE: a queue nobody else could find.
  if (key == IPC_PRIVATE) {
    MESS_print(MESS_WARN, "MQ_create: window %d gives the private key 0\n", win);
    return -1;
  }
  int q = msgget(key, IPC_CREAT | IPC_EXCL | 0600);
  if (q < 0) return -1;
  free_all_slots();
  mq_sysv::reset();
  qs.server_queue = q;
  return q;
}

int sysv_sget(int q, int *sender, char *text) {
  if (q != qs.server_queue) {
    mq_sysv::reset();
    qs.server_queue = q;
  }
  mq_sysv::set_busy_test(slot_busy_for_id);
  mq_sysv::flush(q);
  Payload payload;
  ssize_t n = mq_sysv::next_request(q, payload);
  if (n < 1) {
    // While clients are busy a jam is looked for at once; an idle server
    // looks now and then.
    const Clock::time_point now = Clock::now();
    if (now - qs.last_unjam >= kUnjamInterval || now - qs.last_record < kBusyWindow) {
      qs.last_unjam = now;
      mq_sysv::unjam(q);
    }
    return static_cast<int>(n);
  }
  MESS_print(kDebug, "SGET:%s\n", payload.data());
  return accept_record(q, code_of(payload[0]), payload.data() + 1, -1, sender, text);
}

// A blocking receive guarded by the time-out alarm: it returns with the
// message, or interrupted when the alarm fires.
int sysv_get(int q, int msgtype, char *text) {
  Payload payload;
  ssize_t n = -1;
  MQ_enable_alarm();
  for (int attempt = 1;; ++attempt) {
    n = mq_sysv::receive(q, msgtype, 1, payload);
    int error = n < 0 ? errno : 0;
    MESS_print(kDebug, "GET-MSG:%d %d %d %d\n", msgtype, static_cast<int>(n), error, attempt);
    if (n >= 0 || error != EINTR || qs.alarm_fired) break;
  }
  MQ_disable_alarm();
  MESS_print(kDebug, "GET:%s\n", payload.data());
  if (n < 1) return -1;
  copy_limited_to(text, payload.data() + 1, MQ_TEXT_MAX);
  return code_of(payload[0]);
}

// ---------------------------------------------------------------- TCP side

sockaddr_in loopback_address(int port, bool any) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(any ? INADDR_ANY : INADDR_LOOPBACK);
  return address;
}

bool valid_port(int port, const char *caller) {
  if (port > 0 && port <= kMaxPort) return true;
  MESS_print(MESS_WARN, "%s: port %d is out of range\n", caller, port);
  return false;
}

void free_slots_of_peer(int peer) {
  for (Slot &s : qs.conn)
    if (s.busy && s.peer == peer) s = Slot{};
}

bool peer_holds_slot(int peer) {
  for (const Slot &s : qs.conn)
    if (s.busy && s.peer == peer) return true;
  return false;
}

void close_server_sockets() {
  mq_peers::close_all();
  if (qs.listening) close_fd(qs.sock1);
  qs.listening = false;
}

int tcp_create(int win) {
  int port = key_of(win);
  if (!valid_port(port, "MQ_create")) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // A port still in TIME_WAIT from a previous looper is free for us; a port
  // another looper listens on is not, with or without this option.
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Accepted connections inherit these: a client that floods or stops
  // reading is held back by its own connection after this much.
  int buffer = kSocketBufferBytes;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  sockaddr_in address = loopback_address(port, qs.bind_any);
  int bound = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  MESS_print(kDebug, "Socket bind on port: %d - %d\n", port, bound);
  if (bound < 0) {
    close(fd);
    return -1;
  }
  int listen_result = listen(fd, kListenBacklog);
  MESS_print(kDebug, "Socket listen...: %d\n", listen_result);
  if (listen_result < 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) < 0) {
    close(fd);
    return -1;
  }
  mq_peers::close_all();
  close_fd(qs.sock1);
  qs.sock1 = fd;
  qs.listening = true;
  mq_peers::set_hooks({free_slots_of_peer, peer_holds_slot});
  free_all_slots();
  return 1;
}

// Every connection is read and written without waiting; a record comes
// from whichever connection has a whole one, in turn. The sockets are read
// again once the records read before are used up: a few hundred bytes a
// connection, so nobody waits long behind a flood.
int tcp_sget(int q, int *sender, char *text) {
  if (qs.sock1 < 0 || !qs.listening) return -1;
  int peer = -1, code = 0;
  char body[MQ_TEXT_MAX + 3];
  int got = mq_peers::next_record(&peer, &code, body);
  if (got < 0) {
    mq_peers::serve(qs.sock1, qs.bind_any);
    got = mq_peers::next_record(&peer, &code, body);
  }
  if (got < 1) return got;
  return accept_record(q, code, body, peer, sender, text);
}

int tcp_open(int win) {
  close_server_sockets();
  close_fd(qs.sock1);
  int port = key_of(win);
  if (!valid_port(port, "MQ_open")) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  MESS_print(kDebug, "Opened socket\n");
  sockaddr_in address = loopback_address(port, false);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0) {
    close(fd);
    return -1;
  }
  MESS_print(kDebug, "Connected to socket\n");
  qs.sock1 = fd;
  return 1;
}

int tcp_get(char *text) {
  int code = 0;
  int result = 0;
  MQ_enable_alarm();
  // An empty record carries no answer; wait for the next one.
  do {
    result = MQ_read_record(qs.sock1, 1, &code, text);
  } while (result == 0 && !qs.alarm_fired);
  MQ_disable_alarm();
  if (result == 1) return code;
  text[0] = '\0';
  return -1;
}

// An answer from the server: over TCP on the connection the client
// registered on, on the System V queue addressed by its id and sent in
// order behind its answers that still wait for room.
int send_answer(int q, int sender, int code, const std::string &text) {
  if (qs.type == MQ_TCP) return mq_peers::send(qs.conn[static_cast<size_t>(slot_of(sender))].peer, code, text);
  SysvRecord record = make_sysv_record(sender, code, text);
  MESS_print(kDebug, "SPUT:%d:%s:", sender, record.payload);
  return mq_sysv::send(q, sender, record);
}

// ---------------------------------------------------------------- parameters

void set_timeout_entry(const char *entry) {
  char *end = nullptr;
  long seconds = std::strlen(entry) > 3 ? std::strtol(entry + 3, &end, 10) : 0;
  if (end == entry + 3 || end == nullptr || seconds < 1 || seconds > 86400) {
    MESS_print(MESS_WARN, "MQ_params: bad time-out \"%s\" ignored\n", entry);
    return;
  }
  qs.timeout = static_cast<int>(seconds);
}
void select_tcp(const char *) { qs.type = MQ_TCP; }
void select_sysv(const char *) { qs.type = MQ_SYSV; }
void select_bind_any(const char *) { qs.bind_any = true; }

struct ParamRow {
  const char *word;
  int prefix;  // letters that must match; 0: the whole entry
  void (*apply)(const char *entry);
};

const ParamRow kParamRows[] = {
    {"to", 2, set_timeout_entry},
    {"qtype=sock", 0, select_tcp},
    {"qtype=mqueue", 0, select_sysv},
    {"bind=any", 0, select_bind_any},
};

bool row_matches(const ParamRow &row, const char *entry) {
  if (row.prefix > 0)
    return std::strlen(entry) >= static_cast<size_t>(row.prefix) && strnicmp(entry, row.word, row.prefix) == 0;
  return stricmp(entry, row.word) == 0;
}

}  // namespace

// ====================================================================== API

int MQ_offset(int offset) {
  qs.offset = offset;
  return 0;
}

int MQ_create(int win) {
  if (win == -1) return -2;
  return qs.type == MQ_TCP ? tcp_create(win) : sysv_create(win);
}

int MQ_sget(int q, int *sender, char *text) {
  *sender = -1;
  text[0] = '\0';
  if (q < 0) return -1;
  return qs.type == MQ_TCP ? tcp_sget(q, sender, text) : sysv_sget(q, sender, text);
}

int MQ_sput(int q, int sender, int code, const char *format, ...) {
  if (q < 0 || sender < 2 || sender > kLastClient || !qs.conn[static_cast<size_t>(slot_of(sender))].busy) return -1;
  va_list args;
  va_start(args, format);
  std::string text = format_text(format, args);
  va_end(args);
  // The final answer still goes out; the slot is free after it.
  const int sent = send_answer(q, sender, code, text);
  if (code < 0) qs.conn[static_cast<size_t>(slot_of(sender))] = Slot{};
  return sent;
}

int MQ_del(int q) {
  free_all_slots();
  if (qs.type == MQ_TCP) {
    close_server_sockets();
    close_fd(qs.sock1);
    return 0;
  }
  mq_sysv::reset();
  qs.server_queue = -1;
  if (q < 0) return -1;
  return msgctl(q, IPC_RMID, nullptr);
}

int MQ_del_on_signal(int q) {
  if (qs.type == MQ_TCP) {
    mq_peers::close_all_on_signal();
    if (qs.sock1 >= 0) close(qs.sock1);
    return 0;
  }
  if (q >= 0) msgctl(q, IPC_RMID, nullptr);
  return 0;
}

int MQ_wait_fds(pollfd *fds, int max, long *limit_us) {
  *limit_us = -1;
  if (qs.type == MQ_TCP) {
    if (!qs.listening) return 0;
    bool records_waiting = false;
    int n = mq_peers::wait_fds(qs.sock1, fds, max, &records_waiting);
    if (records_waiting) *limit_us = 0;
    return n;
  }
  if (qs.server_queue < 0) return 0;
  if (mq_sysv::requests_waiting()) {
    *limit_us = 0;
    return 0;
  }
  *limit_us = Clock::now() - qs.last_record < kBusyWindow ? kSysvBusyPollUs : kSysvPollUs;
  return 0;
}

int MQ_open(int win) {
  if (qs.type == MQ_TCP) return tcp_open(win);
  install_alarm_handler();
  int key = key_of(win);
  if (key == IPC_PRIVATE) return -1;
  int q = msgget(key, 0);
  if (q >= 0) return q;
  if (errno == ENOENT) return -1;
  MESS_print(MESS_WARN, "MQ_open: queue of window %d: %s\n", win, std::strerror(errno));
  return 0;
}

int MQ_connect(int q) {
  char answer[MQ_TEXT_MAX + 3] = "";
  const int pid = static_cast<int>(getpid());
  const int address = static_cast<int>(MQ_PID_ADDRESS + pid);
  MQ_clear(q, address);
  if (MQ_put(q, MQ_REGISTER, "%d %d", static_cast<int>(getuid()), pid) < 0) return -1;
  MQ_enable_alarm();
  int code = MQ_get(q, address, answer);
  int id = -1;
  if (code == MQ_REGISTERED) {
    char *end = nullptr;
    long value = std::strtol(answer, &end, 10);
    if (end != answer && is_client_id(static_cast<int>(value))) {
      id = static_cast<int>(value);
      MQ_clear(q, id);
    } else {
      MESS_print(MESS_WARN, "MQ_connect: bad client id \"%s\"\n", answer);
    }
  }
  MQ_disable_alarm();
  return id;
}

int MQ_put(int q, int id, const char *format, ...) {
  if (q < 0) return -1;
  va_list args;
  va_start(args, format);
  std::string text = format_text(format, args);
  va_end(args);
  if (qs.type == MQ_TCP) return send_record(qs.sock1, id, text);
  SysvRecord record = make_sysv_record(kServerAddress, id, text);
  MESS_print(kDebug, "PUT:%d:%s\n", q, record.payload);
  MQ_enable_alarm();
  int result = -1;
  do {
    result = msgsnd(q, &record, MQ_PAYLOAD_SIZE, 0);
  } while (result < 0 && errno == EINTR && !qs.alarm_fired);
  MQ_disable_alarm();
  return result;
}

int MQ_get(int q, int msgtype, char *text) {
  text[0] = '\0';
  if (q < 0) return -1;
  return qs.type == MQ_TCP ? tcp_get(text) : sysv_get(q, msgtype, text);
}

int MQ_clear(int q, int msgtype) {
  if (qs.type == MQ_TCP || q < 0) return 0;
  // Bounded, in case another process keeps the queue filled.
  Payload payload;
  int cleared = 0;
  while (cleared < 100000 && mq_sysv::receive(q, msgtype, 0, payload) >= 0) ++cleared;
  return cleared;
}

int MQ_close(int q) {
  if (qs.type == MQ_TCP && !qs.listening) close_fd(qs.sock1);
  return 0;
}

int MQ_find(int first) {
  for (int win = first; win < first + 50; ++win) {
    if (MQ_open(win) == -1) return win;
    MQ_close(0);
  }
  return -1;
}

int MQ_remove(int win) {
  int key = key_of(win);
  if (key == IPC_PRIVATE) return 0;
  int q = msgget(key, 0);
  if (q < 0) return errno == ENOENT ? 0 : -1;
  return msgctl(q, IPC_RMID, nullptr) == 0 ? 1 : -1;
}

int MQ_params() {
  qs.bind_any = false;
  ParsedList entries;
  if (RES_getvals("parameter", entries.count_out(), entries.items_out()) <= 0) return 0;
  for (int i = 0; i < entries.count(); ++i) {
    for (const ParamRow &row : kParamRows) {
      if (!row_matches(row, entries.at(i))) continue;
      row.apply(entries.at(i));
      break;
    }
  }
  return 0;
}

int MQ_timeout(int seconds) {
  qs.timeout = seconds;
  return 0;
}

int MQ_get_timeout() { return qs.timeout; }

int MQ_timeout_func(void (*handler)(int)) {
  qs.to_func = handler;
  return 0;
}

int MQ_settype(int type) {
  qs.type = type == MQ_TCP ? MQ_TCP : MQ_SYSV;
  return 0;
}

int MQ_gettype() { return qs.type; }

int MQ_enable_alarm() {
  install_alarm_handler();
  qs.alarm_fired = 0;
  set_alarm_timer(qs.timeout);
  return 0;
}

int MQ_disable_alarm() {
  set_alarm_timer(0);
  return 0;
}

void MQ_intrp(int) {
  MESS_print(MESS_WARN, "Queue not responding!!\n");
  ZYB_exit(7);
}

int MQ_decode_record(const unsigned char *bytes, int size, int *used, int *code, char *text) {
  *used = 0;
  text[0] = '\0';
  if (size < 1) return 0;
  int length = bytes[0];
  if (size < 1 + length) return 0;
  *used = 1 + length;
  if (length == 0) return -1;
  *code = code_of(static_cast<char>(bytes[1]));
  // The text bytes carry no terminator: never look beyond the length.
  int text_length = std::min(length - 1, MQ_TEXT_MAX);
  copy_limited_to(text, reinterpret_cast<const char *>(bytes + 2), static_cast<size_t>(text_length));
  return 1;
}

int MQ_read_record(int fd, int wait, int *code, char *text) {
  text[0] = '\0';
  std::array<unsigned char, 1 + 255> frame{};
  int ready = wait_for(fd, POLLIN, wait ? -1 : 0);
  if (ready == 0) return 0;
  if (ready < 0) return -2;
  ssize_t n = recv(fd, frame.data(), 1, MSG_DONTWAIT);
  if (n == 0) return -1;
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -2;
  int length = frame[0];
  bool closed = false;
  int got = receive_rest(fd, frame.data() + 1, length, &closed);
  if (got < length) {
    if (closed) return -1;
    MESS_print(MESS_WARN, "MQ: peer stalled after %d of %d bytes of a record, dropped\n", got, length);
    return -2;
  }
  int used = 0;
  int decoded = MQ_decode_record(frame.data(), 1 + length, &used, code, text);
  if (decoded < 0) {
    MESS_print(MESS_WARN, "MQ: empty record ignored\n");
    return 0;
  }
  if (length - 1 > MQ_TEXT_MAX)
    MESS_print(MESS_WARN, "MQ: record text of %d characters cut to %d\n", length - 1, MQ_TEXT_MAX);
  MESS_print(kDebug, "Received: %d %d %d => %s\n", got, length, *code, text);
  return 1;
}

// ---------------------------------------------------------------- resource server

namespace {

// The conversation of a program that asks another window's looper for its
// option values (the "#N" entries of the defaults path).
struct ResourceConversation {
  int queue = -1;
  int id = -1;
};

ResourceConversation conversation;

int resource_connect(const char *window_text) {
  MQ_offset(MQ_QUEUE_OFFSET);
  int queue = MQ_open(std::atoi(window_text));
  if (queue == -1) {
    MESS_print(MESS_WARN, "ZORazez window: %s not running or no message queue exists\n", window_text);
    return -1;
  }
  int id = MQ_connect(queue);
  if (id < 0) {
    MESS_print(MESS_WARN, "ZORazez window: %s unable to connect\n", window_text);
    return -1;
  }
  conversation = {queue, id};
  return 0;
}

int resource_send(const char *line) { return MQ_put(conversation.queue, conversation.id, "%s", line); }

int resource_receive(char *answer, int size, RES_Wait wait) {
  // The looper answers "set res" lines only after it has read them all.
  if (wait == RES_Wait::patient) std::signal(SIGALRM, SIG_IGN);
  char text[MQ_TEXT_MAX + 3] = "";
  int code = MQ_get(conversation.queue, conversation.id, text);
  copy_limited_to(answer, text, static_cast<size_t>(size - 1));
  return code;
}

void resource_close() {
  MQ_close(conversation.queue);
  conversation = {};
}

const RES_ServerClient kResourceClient = {resource_connect, resource_send, resource_receive, resource_close};

}  // namespace

const RES_ServerClient *MQ_resource_client() { return &kResourceClient; }
