// Arbitrary traffic on a real System V queue: clients that register with
// any text, send any payload, answer-hungry commands, and read their
// answers or not. The server must keep answering without a crash or a
// hang, however full the queue gets.
//
// The input is a list of steps; each step is an opcode byte and its
// operands, taken from the bytes that follow.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/ipc.h>
#include <sys/msg.h>

#include "mqueue/mqueue.h"
#include "util/mess.h"

namespace {

// A window of the queue layer's private test range.
constexpr int kWindow = 837;
constexpr int kOffset = 6496;

struct Message {
  long mtype;
  char payload[MQ_PAYLOAD_SIZE];
};

struct Input {
  const uint8_t *data;
  size_t size;
  size_t at = 0;
  bool done() const { return at >= size; }
  uint8_t byte() { return at < size ? data[at++] : 0; }
  std::string text(size_t max) {
    const size_t n = std::min<size_t>(byte() % (max + 1), size - std::min(at, size));
    std::string t(reinterpret_cast<const char *>(data + at), n);
    at += n;
    return t;
  }
};

int queue = -1;

void client_send(const std::string &payload) {
  Message m{1, {}};
  std::memcpy(m.payload, payload.data(), std::min(payload.size(), sizeof m.payload));
  // A full queue would hold a real client: a fuzzed one gives up.
  msgsnd(queue, &m, MQ_PAYLOAD_SIZE, IPC_NOWAIT);
}

void client_read(long type, int count) {
  Message m{};
  for (int i = 0; i < count && msgrcv(queue, &m, MQ_PAYLOAD_SIZE, type, IPC_NOWAIT | MSG_NOERROR) >= 0; ++i) {
  }
}

// The server takes up to count records and answers each command with
// lines lines, the last one possibly releasing the client.
void server_serve(int count, int lines, bool release) {
  char text[MQ_TEXT_MAX + 3];
  for (int i = 0; i < count; ++i) {
    int sender = -1;
    const int got = MQ_sget(queue, &sender, text);
    if (got < 0) return;
    if (std::strlen(text) > static_cast<size_t>(MQ_TEXT_MAX)) std::abort();
    if (got != MQ_GOT_COMMAND) continue;
    if (sender < MQ_FIRST_CLIENT || sender >= MQ_FIRST_CLIENT + MQ_MAX_CLIENTS) std::abort();
    for (int l = 1; l <= lines; ++l)
      MQ_sput(queue, sender, l < lines ? MQ_MORE_LINES : (release ? MQ_RELEASED : MQ_LAST_LINE), "%d %s", l, text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  MESS_set_str("none");
  MQ_settype(MQ_SYSV);
  MQ_offset(kOffset);
  MQ_remove(kWindow);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  queue = MQ_create(kWindow);
  if (queue < 0) std::abort();
  Input in{data, size};
  for (int steps = 0; !in.done() && steps < 2000; ++steps) {
    switch (in.byte() % 5) {
      case 0: client_send("/" + in.text(20)); break;  // a registration
      case 1: client_send(std::string(1, static_cast<char>('0' + in.byte() % 24)) + in.text(40)); break;
      case 2: client_send(in.text(MQ_PAYLOAD_SIZE)); break;  // anything at all
      case 3: server_serve(1 + in.byte() % 64, 1 + in.byte() % 64, in.byte() % 4 == 0); break;
      default: client_read(in.byte() % 1100, in.byte()); break;  // an id, a pid address or nothing
    }
  }
  server_serve(64, 1, false);
  MQ_del(queue);
  return 0;
}
