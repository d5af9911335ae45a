#include "mqueue/mq_sysv.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <vector>

#include <sys/ipc.h>
#include <sys/msg.h>

#include "util/mess.h"

namespace mq_sysv {
namespace {

constexpr long kServerAddress = 1;
constexpr int kLastClient = MQ_FIRST_CLIENT + MQ_MAX_CLIENTS - 1;
constexpr int kBoxes = kLastClient + 1;  // indexed by client id
// A client that reads what it is sent has a few lines waiting at most; the
// longest answers that come quickly (help) have 21. This many is a client
// that stopped reading.
constexpr size_t kUnreadLimit = 32;
constexpr size_t kOutboxMax = 256;  // answers kept for one client while the queue is full
// Requests read ahead wait in one lane per sender and are served in turn:
// lane 0 for codes of nobody, 1 for registrations, then one per client id.
constexpr int kLanes = 2 + MQ_MAX_CLIENTS;
constexpr size_t kLaneMax = 128;  // more from one sender than this are dropped
constexpr int kReadMax = 256;     // messages taken out at once when nothing waits
// Bounds a drain, in case another process keeps refilling the queue.
constexpr int kDrainMax = 4096;
constexpr int kSendAttempts = 4;
// Requests moved out of the way at once to make room for an answer: clients
// blocked in msgsnd are woken by the room and take some of it.
constexpr int kRoomBatch = 8;
// Answers to a client found not reading are dropped for this long, rather
// than sent only to be taken out again.
constexpr std::chrono::milliseconds kMuteTime{500};

struct ServerQueue {
  std::array<std::deque<Payload>, kLanes> lanes;
  size_t waiting = 0;  // requests in all lanes
  int turn = 0;        // the lane served next
  long dropped = 0;    // requests dropped from full lanes
  std::array<std::deque<Record>, kBoxes> outbox;
  std::array<bool, kBoxes> overflowing{};
  std::array<std::chrono::steady_clock::time_point, kBoxes> muted_until{};
  bool (*busy)(int id) = nullptr;
};

ServerQueue sq;

enum class Sent { Yes, Full, Refused };

bool is_busy(int id) { return sq.busy != nullptr && sq.busy(id); }

int lane_of(char code_char) {
  const int code = static_cast<unsigned char>(code_char) - '0';
  if (code == MQ_REGISTER) return 1;
  if (code >= MQ_FIRST_CLIENT && code <= kLastClient) return code - MQ_FIRST_CLIENT + 2;
  return 0;
}

// A request moved from the queue into memory makes room for one answer.
// The answer has to follow at once: a client blocked in msgsnd is woken by
// the room and would take it otherwise. A sender with a full lane sends
// faster than it is served: what it sends beyond is dropped, so that it
// cannot keep everybody else waiting behind it.
bool read_ahead(int q) {
  Payload payload;
  if (receive(q, kServerAddress, 0, payload) < 0) return false;
  std::deque<Payload> &lane = sq.lanes[static_cast<size_t>(lane_of(payload[0]))];
  if (lane.size() >= kLaneMax) {
    if (sq.dropped++ % 1000 == 0)
      MESS_print(MESS_WARN, "MQ_sget: sender code %d sends faster than it is served: %ld records dropped\n",
                 static_cast<unsigned char>(payload[0]) - '0', sq.dropped);
    return true;
  }
  lane.push_back(payload);
  ++sq.waiting;
  return true;
}

std::vector<Record> drain(int q, long type) {
  std::vector<Record> taken;
  Record record{};
  for (int i = 0; i < kDrainMax; ++i) {
    ssize_t n = msgrcv(q, &record, MQ_PAYLOAD_SIZE, type, IPC_NOWAIT | MSG_NOERROR);
    if (n < 0) break;
    taken.push_back(record);
  }
  return taken;
}

// Takes the answers out of a queue that is full of them. Answers of a free
// id are stale; a client with many waiting has stopped reading, and its
// answers go; a client that is merely behind keeps its answers, in order,
// in front of its outbox. True when room was made.
bool purge_unread(int q) {
  size_t taken = 0;
  for (int id = MQ_FIRST_CLIENT; id <= kLastClient; ++id) {
    std::vector<Record> waiting = drain(q, id);
    if (waiting.empty()) continue;
    taken += waiting.size();
    if (!is_busy(id)) {
      MESS_print(MESS_DEBUG_D, "MQ: %zu stale answers to the free id %d dropped\n", waiting.size(), id);
      continue;
    }
    std::deque<Record> &box = sq.outbox[static_cast<size_t>(id)];
    if (waiting.size() >= kUnreadLimit) {
      // Its answers still to be sent, and those of the next moments, would
      // only fill the queue again.
      MESS_print(MESS_WARN, "MQ_sput: client %d does not read its answers: %zu dropped\n", id,
                 waiting.size() + box.size());
      box.clear();
      sq.muted_until[static_cast<size_t>(id)] = std::chrono::steady_clock::now() + kMuteTime;
      continue;
    }
    box.insert(box.begin(), waiting.begin(), waiting.end());
  }
  return taken > 0;
}

// One try to put a record into the queue, moving requests out of the way
// when it is full of them.
Sent send_now(int q, const Record &record) {
  for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
    if (msgsnd(q, &record, MQ_PAYLOAD_SIZE, IPC_NOWAIT) == 0) return Sent::Yes;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      MESS_print(MESS_WARN, "MQ_sput: answer to %ld not sent: %s\n", record.mtype, std::strerror(errno));
      return Sent::Refused;
    }
    int moved = 0;
    while (moved < kRoomBatch && read_ahead(q)) ++moved;
    if (moved == 0) return Sent::Full;
  }
  return Sent::Full;
}

bool queue_full(int q) {
  msqid_ds info{};
  if (msgctl(q, IPC_STAT, &info) != 0) return false;
  return info.__msg_cbytes + MQ_PAYLOAD_SIZE > info.msg_qbytes || info.msg_qnum + 1 > info.msg_qbytes;
}

void keep_in_outbox(int box, const Record &record) {
  std::deque<Record> &out = sq.outbox[static_cast<size_t>(box)];
  if (out.size() >= kOutboxMax) {
    if (!sq.overflowing[static_cast<size_t>(box)])
      MESS_print(MESS_WARN, "MQ_sput: queue full, the oldest answers to %d are dropped\n", box);
    sq.overflowing[static_cast<size_t>(box)] = true;
    out.pop_front();
  }
  out.push_back(record);
}

}  // namespace

ssize_t receive(int q, long type, int wait, Payload &payload) {
  Record record{};
  ssize_t n = msgrcv(q, &record, MQ_PAYLOAD_SIZE, type, (wait ? 0 : IPC_NOWAIT) | MSG_NOERROR);
  payload.fill('\0');
  if (n > 0) std::memcpy(payload.data(), record.payload, static_cast<size_t>(n));
  return n;
}

void reset() {
  for (auto &lane : sq.lanes) lane.clear();
  sq.waiting = 0;
  sq.turn = 0;
  sq.dropped = 0;
  for (auto &box : sq.outbox) box.clear();
  sq.overflowing.fill(false);
  sq.muted_until.fill({});
}

void set_busy_test(bool (*busy)(int id)) { sq.busy = busy; }

ssize_t next_request(int q, Payload &payload) {
  // With nothing in memory, everything waiting is taken out: a queue that
  // a flood keeps full has room for many at once, clients blocked in msgsnd
  // get theirs in, and their requests come in their lane's turn, not behind
  // the flood.
  if (sq.waiting == 0)
    for (int i = 0; i < kReadMax && read_ahead(q); ++i) {
    }
  if (sq.waiting == 0) return -1;
  for (int k = 0; k < kLanes; ++k) {
    std::deque<Payload> &lane = sq.lanes[static_cast<size_t>((sq.turn + k) % kLanes)];
    if (lane.empty()) continue;
    sq.turn = (sq.turn + k + 1) % kLanes;
    payload = lane.front();
    lane.pop_front();
    --sq.waiting;
    return MQ_PAYLOAD_SIZE;
  }
  return -1;
}

int send(int q, int box, const Record &record) {
  if (box < 0 || box >= kBoxes) return -1;
  if (std::chrono::steady_clock::now() < sq.muted_until[static_cast<size_t>(box)]) return -1;
  if (sq.outbox[static_cast<size_t>(box)].empty()) {
    Sent sent = send_now(q, record);
    if (sent != Sent::Full) return sent == Sent::Yes ? 0 : -1;
  }
  keep_in_outbox(box, record);
  flush(q);
  return 0;
}

void flush(int q) {
  bool purged = false;
  for (int box = 0; box < kBoxes; ++box) {
    // A purge may change any outbox: each round looks at this one afresh.
    std::deque<Record> &out = sq.outbox[static_cast<size_t>(box)];
    while (!out.empty()) {
      if (send_now(q, out.front()) != Sent::Full) {
        out.pop_front();
        continue;
      }
      // Full of answers: make room once; what is left waits for the next pass.
      if (purged || !purge_unread(q)) return;
      purged = true;
    }
    sq.overflowing[static_cast<size_t>(box)] = false;
  }
}

void unjam(int q) {
  if (queue_full(q)) purge_unread(q);
}

void forget(int q, int id) {
  if (id < 0 || id >= kBoxes) return;
  sq.outbox[static_cast<size_t>(id)].clear();
  sq.overflowing[static_cast<size_t>(id)] = false;
  sq.muted_until[static_cast<size_t>(id)] = {};
  drain(q, id);
}

bool requests_waiting() { return sq.waiting > 0; }

bool answers_waiting() {
  for (const auto &box : sq.outbox)
    if (!box.empty()) return true;
  return false;
}

}  // namespace mq_sysv
