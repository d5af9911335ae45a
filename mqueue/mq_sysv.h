// The server's side of a System V queue beyond single calls (for mqueue.cpp
// only). One queue carries the requests of every client and all answers,
// so it can fill up: the server never waits for room. Requests are read
// ahead into memory, one lane per sender served in turn, so that a client
// that floods the queue does not keep the others waiting; answers that find
// no room wait in an outbox per client id, and answers that nobody reads
// are taken out of the queue.
#pragma once

#include <array>

#include <sys/types.h>

#include "mqueue/mqueue.h"

namespace mq_sysv {

// One message as msgsnd and msgrcv take it.
struct Record {
  long mtype;
  char payload[MQ_PAYLOAD_SIZE];
};

// A payload as received, always terminated.
using Payload = std::array<char, MQ_PAYLOAD_SIZE + 1>;

// Receives one message of the type; wait 0 returns at once when there is
// none. MSG_NOERROR: a foreign message longer than a payload is cut instead
// of blocking the queue for ever. The bytes received, or -1 (errno set).
ssize_t receive(int q, long type, int wait, Payload &payload);

// Forgets the read-ahead requests and every outbox (a new queue).
void reset();

// Tells whether a client id is registered; answers to an id that is not
// are stale and may be dropped.
void set_busy_test(bool (*busy)(int id));

// The next request to the server (message type 1), never waiting: the
// oldest of the next sender in turn. Bytes, or -1 when none.
ssize_t next_request(int q, Payload &payload);

// Sends an answer behind those still waiting in the outbox of client id
// box. Returns 0 when it was sent or waits in the outbox, -1 when the queue
// refused it for good.
int send(int q, int box, const Record &record);

// Sends from the outboxes as far as there is room.
void flush(int q);

// With no request left, a full queue is full of answers, and clients
// blocked in msgsnd wait for a room that nobody else would make: takes out
// the answers of clients that do not read them.
void unjam(int q);

// A client id starts afresh: its unsent answers and those left in the
// queue belong to its previous holder and are dropped.
void forget(int q, int id);

bool requests_waiting();  // read-ahead requests wait in memory
bool answers_waiting();   // some outbox is not empty

}  // namespace mq_sysv
