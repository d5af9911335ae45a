// Arbitrary bytes as a TCP record stream: through the decoder, through the
// socket reader over a socket pair, and into a real server over loopback.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mqueue/mqueue.h"
#include "util/mess.h"

namespace {

// A window of the queue layer's private test range.
constexpr int kWindow = 838;
constexpr int kOffset = 6496;
// Longer inputs only go through the decoder and the socket pair: an input
// for the server must fit in the socket buffers before the server reads.
constexpr size_t kServerInputMax = 4096;

// Decodes every whole record; returns how many, and in *missing the bytes
// the cut record at the end still needs (0 when the input ends cleanly).
size_t decode_all(const uint8_t *data, size_t size, size_t *missing) {
  char text[MQ_TEXT_MAX + 3];
  size_t offset = 0;
  size_t records = 0;
  *missing = 0;
  while (offset < size) {
    int used = 0, code = 0;
    MQ_decode_record(data + offset, static_cast<int>(size - offset), &used, &code, text);
    if (used == 0) {
      *missing = 1 + data[offset] - (size - offset);
      break;
    }
    if (std::strlen(text) > static_cast<size_t>(MQ_TEXT_MAX)) std::abort();
    offset += static_cast<size_t>(used);
    ++records;
  }
  return records;
}

bool write_all(int fd, const uint8_t *data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void read_from_socket_pair(const uint8_t *data, size_t size) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return;
  if (write_all(pair[1], data, size)) {
    shutdown(pair[1], SHUT_WR);
    char text[MQ_TEXT_MAX + 3];
    int code = 0;
    // Every record takes at least one byte, so this ends.
    for (size_t i = 0; i <= size && MQ_read_record(pair[0], 0, &code, text) >= 0; ++i) {
      if (std::strlen(text) > static_cast<size_t>(MQ_TEXT_MAX)) std::abort();
    }
  }
  close(pair[0]);
  close(pair[1]);
}

int connect_to_server() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kOffset + kWindow);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// One server and one connection serve many inputs: a connection per input
// would fill the kernel's TCP table with TIME_WAIT entries, which every
// owner look-up reads. The server starts afresh now and then so that
// registrations keep finding free slots.
struct ServerPath {
  int client = -1;
  int inputs = 0;
};
ServerPath path;

bool restart_server() {
  if (path.client >= 0) close(path.client);
  MQ_del(1);
  path.client = -1;
  if (MQ_create(kWindow) != 1) return false;
  path.client = connect_to_server();
  return path.client >= 0;
}

void drain_answers() {
  char buffer[4096];
  while (recv(path.client, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
}

void feed_server(const uint8_t *data, size_t size, size_t records, size_t missing) {
  if ((path.client < 0 || ++path.inputs % 500 == 0) && !restart_server()) return;
  // Zero bytes complete a cut record, so that the next input starts on a
  // record boundary. Everything is written before the server reads, so no
  // record stalls.
  static const uint8_t kPadding[255] = {};
  if (!write_all(path.client, data, size) || !write_all(path.client, kPadding, missing)) {
    path.client = -1;
    return;
  }
  int sender = 0;
  char text[MQ_TEXT_MAX + 3];
  for (size_t i = 0; i < records + (missing > 0 ? 1 : 0); ++i) {
    int result = MQ_sget(1, &sender, text);
    if (result < 0) {
      close(path.client);
      path.client = -1;
      return;
    }
    if (result != MQ_GOT_COMMAND) continue;
    if (sender < MQ_FIRST_CLIENT || sender >= MQ_FIRST_CLIENT + MQ_MAX_CLIENTS) std::abort();
    // Short answers, alternately releasing the client.
    MQ_sput(1, sender, sender % 2 ? MQ_LAST_LINE : MQ_RELEASED, "%d", static_cast<int>(std::strlen(text)));
  }
  drain_answers();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  MESS_set_str("none");
  MQ_settype(MQ_TCP);
  MQ_offset(kOffset);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  size_t missing = 0;
  size_t records = decode_all(data, size, &missing);
  read_from_socket_pair(data, size);
  if (size <= kServerInputMax) feed_server(data, size, records, missing);
  return 0;
}
