#include "mqueue/mq_peers.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mqueue/mqueue.h"
#include "util/mess.h"

namespace mq_peers {
namespace {

constexpr unsigned int kDebug = MESS_DEBUG_D;
// 19 clients and room for as many that connect without registering; at
// the limit the oldest connection without a slot makes way.
constexpr size_t kPeersMax = 64;
constexpr size_t kInputMax = 512;         // unread input of one connection: two records at least
constexpr size_t kOutputMax = 64 * 1024;  // answers one connection has not taken yet
constexpr int kAcceptsPerServe = 32;

struct Peer {
  int fd = -1;
  unsigned long serial = 0;  // order of acceptance
  std::string in;
  std::string out;
  bool closed = false;    // the peer closed, or the connection broke
  bool dropping = false;  // output is being dropped until the peer reads again
};

struct PeerTable {
  std::vector<Peer> peers;
  size_t turn = 0;
  unsigned long accepted = 0;
  Hooks hooks{nullptr, nullptr};
};

PeerTable pt;

Peer *find(int fd) {
  for (Peer &p : pt.peers)
    if (p.fd == fd) return &p;
  return nullptr;
}

// ------------------------------------------------------------ who connects

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
bool peer_is_same_user(int fd, const sockaddr_in &peer, bool bind_any) {
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) < 0) return false;
  unsigned int address = ntohl(peer.sin_addr.s_addr);
  int port = ntohs(peer.sin_port);
  long owner = socket_owner(peer, local);
  if (owner < 0) {
    // Only a remote peer has no local entry; "bind=any" asked for those.
    if (bind_any) return true;
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

void end_peer(size_t index) {
  const int fd = pt.peers[index].fd;
  close(fd);
  pt.peers.erase(pt.peers.begin() + static_cast<long>(index));
  if (pt.turn > index) --pt.turn;
  if (pt.hooks.ended != nullptr) pt.hooks.ended(fd);
}

// At the limit, the connection that has waited longest without a slot goes.
void make_way() {
  size_t oldest = pt.peers.size();
  for (size_t i = 0; i < pt.peers.size(); ++i) {
    const bool holds = pt.hooks.holds_slot != nullptr && pt.hooks.holds_slot(pt.peers[i].fd);
    if (!holds && (oldest == pt.peers.size() || pt.peers[i].serial < pt.peers[oldest].serial)) oldest = i;
  }
  if (oldest == pt.peers.size()) oldest = 0;
  MESS_print(MESS_WARN, "MQ_sget: %zu connections: the oldest one without a client id is closed\n", kPeersMax);
  end_peer(oldest);
}

void accept_waiting(int listener, bool bind_any) {
  for (int i = 0; i < kAcceptsPerServe; ++i) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    int fd = accept4(listener, reinterpret_cast<sockaddr *>(&address), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // Nobody connecting is the normal state of the server, not an error.
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        MESS_print(kDebug, "Accept failed\n");
        MESS_print(MESS_ERROR, "accept: %s\n", std::strerror(errno));
      }
      return;
    }
    MESS_print(kDebug, "Connection made from %X on port %d\n", ntohl(address.sin_addr.s_addr), ntohs(address.sin_port));
    if (!peer_is_same_user(fd, address, bind_any)) {
      close(fd);
      continue;
    }
    if (pt.peers.size() >= kPeersMax) make_way();
    Peer peer;
    peer.fd = fd;
    peer.serial = ++pt.accepted;
    pt.peers.push_back(std::move(peer));
  }
}

// ------------------------------------------------------------ input, output

void read_input(Peer &p) {
  if (p.closed || p.in.size() >= kInputMax) return;
  char buffer[kInputMax];
  ssize_t n = recv(p.fd, buffer, kInputMax - p.in.size(), MSG_DONTWAIT);
  if (n > 0) {
    p.in.append(buffer, static_cast<size_t>(n));
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  MESS_print(kDebug, "Client disconnect\n");
  p.closed = true;
}

void write_output(Peer &p) {
  while (!p.out.empty()) {
    ssize_t n = ::send(p.fd, p.out.data(), p.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      p.out.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    p.out.clear();
    p.closed = true;
  }
  p.dropping = false;
}

bool has_whole_record(const Peer &p) {
  return !p.in.empty() && p.in.size() >= 1u + static_cast<unsigned char>(p.in[0]);
}

// Connections whose peer has gone and that hold no whole record any more.
void end_finished() {
  for (size_t i = pt.peers.size(); i-- > 0;)
    if (pt.peers[i].closed && !has_whole_record(pt.peers[i])) end_peer(i);
}

}  // namespace

void set_hooks(const Hooks &hooks) { pt.hooks = hooks; }

void serve(int listener, bool bind_any) {
  if (listener >= 0) accept_waiting(listener, bind_any);
  if (pt.peers.empty()) return;
  std::vector<pollfd> fds;
  fds.reserve(pt.peers.size());
  for (const Peer &p : pt.peers) fds.push_back({p.fd, static_cast<short>(POLLIN | (p.out.empty() ? 0 : POLLOUT)), 0});
  if (poll(fds.data(), fds.size(), 0) <= 0) return;
  for (size_t i = 0; i < fds.size(); ++i) {
    Peer &p = pt.peers[i];
    if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) read_input(p);
    if (fds[i].revents & POLLOUT) write_output(p);
  }
}

int next_record(int *peer, int *code, char *text) {
  text[0] = '\0';
  end_finished();
  const size_t n = pt.peers.size();
  for (size_t k = 0; k < n; ++k) {
    const size_t i = (pt.turn + k) % n;
    Peer &p = pt.peers[i];
    int used = 0;
    int decoded = MQ_decode_record(reinterpret_cast<const unsigned char *>(p.in.data()), static_cast<int>(p.in.size()),
                                   &used, code, text);
    if (used == 0) continue;
    const int length = static_cast<unsigned char>(p.in[0]);
    p.in.erase(0, static_cast<size_t>(used));
    pt.turn = i + 1;
    *peer = p.fd;
    if (decoded < 0) {
      MESS_print(MESS_WARN, "MQ: empty record ignored\n");
      return 0;
    }
    if (length - 1 > MQ_TEXT_MAX)
      MESS_print(MESS_WARN, "MQ: record text of %d characters cut to %d\n", length - 1, MQ_TEXT_MAX);
    MESS_print(kDebug, "Received: %d %d %d => %s\n", used - 1, length, *code, text);
    return 1;
  }
  return -1;
}

int send(int peer, int code, const std::string &text) {
  Peer *p = find(peer);
  if (p == nullptr || p->closed) return -1;
  const int length = 1 + static_cast<int>(text.size());
  std::string record(1, static_cast<char>(length));
  record += static_cast<char>('0' + code);
  record += text;
  MESS_print(kDebug, "Send: %d %d %d => %s\n", length + 1, length, code, text.c_str());
  if (p->out.size() + record.size() > kOutputMax) {
    if (!p->dropping)
      MESS_print(MESS_WARN, "MQ_sput: the client on connection %d does not read its answers: answers dropped\n", peer);
    p->dropping = true;
    return -1;
  }
  p->out += record;
  write_output(*p);
  return length + 1;
}

bool closed_by_peer(int peer) {
  const Peer *p = find(peer);
  return p == nullptr || p->closed;
}

int wait_fds(int listener, pollfd *fds, int max, bool *records_waiting) {
  int n = 0;
  *records_waiting = false;
  if (listener >= 0 && n < max) fds[n++] = {listener, POLLIN, 0};
  for (const Peer &p : pt.peers) {
    if (has_whole_record(p) || p.closed) *records_waiting = true;
    const short events = static_cast<short>((p.in.size() < kInputMax ? POLLIN : 0) | (p.out.empty() ? 0 : POLLOUT));
    if (events != 0 && !p.closed && n < max) fds[n++] = {p.fd, events, 0};
  }
  return n;
}

void close_all() {
  for (const Peer &p : pt.peers) close(p.fd);
  pt.peers.clear();
  pt.turn = 0;
}

void close_all_on_signal() {
  for (const Peer &p : pt.peers) close(p.fd);
}

int count() { return static_cast<int>(pt.peers.size()); }

}  // namespace mq_peers
