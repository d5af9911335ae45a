#include "mqueue/mqueue.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
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
#include <unistd.h>

#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"
#include "util/system.h"

namespace {

// The queue layer logs on the top debug bit only, so that "+debug" of other
// modules can be had without the record traffic (and the other way round).
constexpr unsigned int kDebug = MESS_DEBUG_D;

constexpr long kServerAddress = 1;       // message type of everything sent to the server
constexpr int kRegistrationAddress = 2;  // message type of registration answers
constexpr int kLastClient = MQ_FIRST_CLIENT + MQ_MAX_CLIENTS - 1;
constexpr int kSlots = MQ_MAX_CLIENTS + 1;  // slot 0: a registration answer in flight
constexpr int kListenBacklog = 100;
constexpr int kRecordWaitMs = 2000;  // the rest of a begun record, and a blocked send
constexpr int kMaxPort = 65535;

struct SysvRecord {
  long mtype;
  char payload[MQ_PAYLOAD_SIZE];
};

// A System V payload as received, always terminated.
using Payload = std::array<char, MQ_PAYLOAD_SIZE + 1>;

struct QueueState {
  int type = MQ_SYSV;
  int offset = 0;
  int timeout = 20;
  void (*to_func)(int) = nullptr;
  // conn[i] is busy while client id i + 2 is registered.
  std::array<int, kSlots> conn{};
  int sock1 = -1;  // server: the listening socket; client: the connection
  int sock2 = -1;  // server: the one accepted connection
  // sock1 listens only after MQ_create; a looper that attached to a channel
  // with MQ_open holds a client connection there and has nobody to accept.
  bool listening = false;
  bool bind_any = false;
  volatile sig_atomic_t alarm_fired = 0;
};

QueueState qs;

using Clock = std::chrono::steady_clock;

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

void free_all_slots() { qs.conn.fill(0); }

void close_fd(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// ---------------------------------------------------------------- time-out

void on_alarm(int signal) {
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

// Sends all bytes; a full socket buffer is waited for at most the record
// wait, so a peer that does not read cannot hold the server.
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

// One message of the type, without waiting. MSG_NOERROR: a foreign message
// longer than a payload is cut instead of blocking the queue for ever.
ssize_t receive_sysv(int q, long type, Payload &payload) {
  SysvRecord record{};
  ssize_t n = msgrcv(q, &record, MQ_PAYLOAD_SIZE, type, IPC_NOWAIT | MSG_NOERROR);
  payload.fill('\0');
  if (n > 0) std::memcpy(payload.data(), record.payload, static_cast<size_t>(n));
  return n;
}

int key_of(int win) { return qs.offset + win; }

// ----------------------------------------------------------- registration

int send_answer(int q, int sender, int code, const std::string &text);

int register_client(int q, int *sender, char *text) {
  text[0] = '\0';
  int slot = 1;
  while (slot < kSlots && qs.conn[slot]) ++slot;
  if (slot == kSlots) {
    // No answer: the client gives up through its time-out.
    MESS_print(MESS_WARN, "MQ_sget: all %d client slots are busy, registration ignored\n", MQ_MAX_CLIENTS);
    return MQ_GOT_CLIENT;
  }
  int id = slot + 2;
  qs.conn[0] = 1;
  int sent = send_answer(q, kRegistrationAddress, MQ_REGISTERED, std::to_string(id));
  qs.conn[0] = 0;
  // A client that cannot be told its id must not hold a slot for ever.
  if (sent < 0) return 0;
  qs.conn[slot] = 1;
  *sender = id;
  return MQ_GOT_CLIENT;
}

// The server's reading of one record's code: a registration, or a command of
// a registered client. Anything else is dropped before it can index a slot.
int accept_record(int q, int code, const char *body, int *sender, char *text) {
  if (code == MQ_REGISTER) return register_client(q, sender, text);
  if (!is_client_id(code)) {
    MESS_print(MESS_WARN, "MQ_sget: record with the unknown sender code %d dropped\n", code);
    return 0;
  }
  if (!qs.conn[slot_of(code)]) {
    MESS_print(MESS_WARN, "MQ_sget: record from the unregistered client %d dropped\n", code);
    return 0;
  }
  *sender = code;
  copy_limited_to(text, body, MQ_TEXT_MAX);
  return MQ_GOT_COMMAND;
}

// ------------------------------------------------------------ System V side

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
  return q;
}

int sysv_sget(int q, int *sender, char *text) {
  Payload payload;
  ssize_t n = receive_sysv(q, kServerAddress, payload);
  if (n < 1) return static_cast<int>(n);
  MESS_print(kDebug, "SGET:%s\n", payload.data());
  return accept_record(q, code_of(payload[0]), payload.data() + 1, sender, text);
}

// A full queue is waited for only briefly: a client that stopped reading its
// answers must not stop the server's main loop.
int sysv_send(int q, const SysvRecord &record) {
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kRecordWaitMs);
  for (;;) {
    int result = msgsnd(q, &record, MQ_PAYLOAD_SIZE, IPC_NOWAIT);
    if (result == 0 || (errno != EAGAIN && errno != EINTR)) return result;
    if (Clock::now() >= deadline) {
      MESS_print(MESS_WARN, "MQ_sput: queue full, answer to client %ld dropped\n", record.mtype);
      return -1;
    }
    usleep(10000);
  }
}

int sysv_get(int q, int msgtype, char *text) {
  Payload payload;
  ssize_t n = -1;
  MQ_enable_alarm();
  for (int attempt = 1;; ++attempt) {
    n = receive_sysv(q, msgtype, payload);
    int error = n < 0 ? errno : 0;
    MESS_print(kDebug, "GET-MSG:%d %d %d %d\n", msgtype, static_cast<int>(n), error, attempt);
    if (n >= 0 || error != ENOMSG || qs.alarm_fired) break;
    if (attempt > 200)
      ZYB_sleep(1.0f);
    else if (attempt >= 3)
      ZYB_sleep(0.1f);
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

int tcp_create(int win) {
  int port = key_of(win);
  if (!valid_port(port, "MQ_create")) return -1;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // A port still in TIME_WAIT from a previous looper is free for us; a port
  // another looper listens on is not, with or without this option.
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
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
  close_fd(qs.sock2);
  close_fd(qs.sock1);
  qs.sock1 = fd;
  qs.listening = true;
  free_all_slots();
  return 1;
}

// An IPv4 address as the kernel's TCP tables print it: eight hex digits of
// the address in memory order, or the IPv4-mapped form of the IPv6 table.
bool parse_table_address(const char *hex, uint32_t *address) {
  size_t length = std::strlen(hex);
  if (length == 8) {
    *address = static_cast<uint32_t>(std::strtoul(hex, nullptr, 16));
    return true;
  }
  if (length != 32) return false;
  auto word = [hex](int i) {
    std::string part(hex + 8 * i, 8);
    return static_cast<uint32_t>(std::strtoul(part.c_str(), nullptr, 16));
  };
  if (word(0) != 0 || word(1) != 0 || word(2) != htonl(0xFFFFu)) return false;
  *address = word(3);
  return true;
}

// The owner of the socket at the other end of a local connection: in the
// kernel's TCP tables its entry has the peer as local end and us as remote.
// -1 when there is no such entry (a remote peer, or one already gone).
long socket_owner(const sockaddr_in &peer, const sockaddr_in &local) {
  for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    FILE *file = std::fopen(table, "r");
    if (file == nullptr) continue;
    char line[512];
    long owner = -1;
    while (owner < 0 && std::fgets(line, sizeof line, file) != nullptr) {
      char local_hex[40], remote_hex[40];
      unsigned int local_port = 0, remote_port = 0;
      unsigned long uid = 0;
      if (std::sscanf(line, " %*d: %39[0-9A-Fa-f]:%x %39[0-9A-Fa-f]:%x %*x %*x:%*x %*x:%*x %*x %lu", local_hex,
                      &local_port, remote_hex, &remote_port, &uid) != 5)
        continue;
      uint32_t local_address = 0, remote_address = 0;
      if (!parse_table_address(local_hex, &local_address) || !parse_table_address(remote_hex, &remote_address))
        continue;
      if (local_address == peer.sin_addr.s_addr && local_port == ntohs(peer.sin_port) &&
          remote_address == local.sin_addr.s_addr && remote_port == ntohs(local.sin_port))
        owner = static_cast<long>(uid);
    }
    std::fclose(file);
    if (owner >= 0) return owner;
  }
  return -1;
}

// The System V queue is reachable by its owner only (mode 0600); a TCP port
// is reachable by every local user, so the peer's owner is checked instead.
bool peer_is_same_user(int fd, const sockaddr_in &peer) {
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) < 0) return false;
  unsigned int address = ntohl(peer.sin_addr.s_addr);
  int port = ntohs(peer.sin_port);
  long owner = socket_owner(peer, local);
  if (owner < 0) {
    // Only a remote peer has no local entry; "bind=any" asked for those.
    if (qs.bind_any) return true;
    MESS_print(MESS_WARN, "MQ_sget: connection from %X on port %d refused: owner unknown\n", address, port);
    return false;
  }
  if (owner != static_cast<long>(getuid())) {
    MESS_print(MESS_WARN, "MQ_sget: connection from %X on port %d refused: it belongs to user %ld\n", address, port,
               owner);
    return false;
  }
  return true;
}

int accept_client() {
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  int fd = accept4(qs.sock1, reinterpret_cast<sockaddr *>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    MESS_print(kDebug, "Accept failed\n");
    // Nobody connecting is the normal state of a polling server, not an error.
    if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR)
      MESS_print(MESS_ERROR, "accept: %s\n", std::strerror(error));
    return -1;
  }
  MESS_print(kDebug, "Connection made from %X on port %d\n", ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port));
  if (!peer_is_same_user(fd, peer)) {
    close(fd);
    return -1;
  }
  qs.sock2 = fd;
  return 0;
}

int tcp_sget(int q, int *sender, char *text) {
  if (qs.sock1 < 0 || !qs.listening) return -1;
  if (qs.sock2 < 0 && accept_client() < 0) return -1;
  int code = 0;
  char body[MQ_TEXT_MAX + 3];
  int result = MQ_read_record(qs.sock2, 0, &code, body);
  if (result == 0) return 0;
  if (result < 0) {
    if (result == -1) MESS_print(kDebug, "Client disconnect\n");
    close_fd(qs.sock2);
    return -1;
  }
  return accept_record(q, code, body, sender, text);
}

int tcp_open(int win) {
  close_fd(qs.sock1);
  qs.listening = false;
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

// An answer from the server: over TCP it goes to the connected client,
// whatever the sender; the sender only has to hold a slot.
int send_answer(int q, int sender, int code, const std::string &text) {
  if (qs.type == MQ_TCP) {
    int sent = send_record(qs.sock2, code, text);
    if (sent < 0 && qs.sock2 >= 0) {
      MESS_print(kDebug, "Client disconnect\n");
      close_fd(qs.sock2);
    }
    return sent;
  }
  SysvRecord record = make_sysv_record(sender, code, text);
  MESS_print(kDebug, "SPUT:%d:%s:", sender, record.payload);
  return sysv_send(q, record);
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
  if (q < 0 || sender < 2 || sender > kLastClient || !qs.conn[slot_of(sender)]) return -1;
  if (code < 0) qs.conn[slot_of(sender)] = 0;
  va_list args;
  va_start(args, format);
  std::string text = format_text(format, args);
  va_end(args);
  return send_answer(q, sender, code, text);
}

int MQ_del(int q) {
  free_all_slots();
  if (qs.type == MQ_TCP) {
    close_fd(qs.sock2);
    close_fd(qs.sock1);
    qs.listening = false;
    return 0;
  }
  if (q < 0) return -1;
  return msgctl(q, IPC_RMID, nullptr);
}

int MQ_del_on_signal(int q) {
  if (qs.type == MQ_TCP) {
    if (qs.sock2 >= 0) close(qs.sock2);
    if (qs.sock1 >= 0) close(qs.sock1);
    return 0;
  }
  if (q >= 0) msgctl(q, IPC_RMID, nullptr);
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
  MQ_clear(q, kRegistrationAddress);
  if (MQ_put(q, MQ_REGISTER, "%d", static_cast<int>(getuid())) < 0) return -1;
  MQ_enable_alarm();
  int code = MQ_get(q, kRegistrationAddress, answer);
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
  int result = msgsnd(q, &record, MQ_PAYLOAD_SIZE, 0);
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
  while (cleared < 100000 && receive_sysv(q, msgtype, payload) >= 0) ++cleared;
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
  alarm(qs.timeout > 0 ? static_cast<unsigned int>(qs.timeout) : 0u);
  return 0;
}

int MQ_disable_alarm() {
  alarm(0);
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
