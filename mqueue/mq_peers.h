// The server's TCP connections (for mqueue.cpp only): every client has a
// connection of its own, read and written without waiting, with its own
// input and output buffers, so that no client can hold another: one that
// stalls in the middle of a record or stops reading its answers only fills
// its own buffers.
#pragma once

#include <string>

struct pollfd;

namespace mq_peers {

// What the registration table is told and asked about connections: a
// connection has ended (its slots are free), and whether one holds a slot
// (those are kept when the connection table is full).
struct Hooks {
  void (*ended)(int peer);
  bool (*holds_slot)(int peer);
};
void set_hooks(const Hooks &hooks);

// Accepts waiting connections on the listening socket (only the user's own
// peers unless bind_any), reads what has arrived, sends what waits.
void serve(int listener, bool bind_any);

// The next whole record, taken from the connections in turn: 1 with peer,
// code and text (at most MQ_TEXT_MAX characters) filled, 0 when an empty
// record was skipped, -1 when no whole record waits. A connection whose
// peer closed is ended once its last whole record has been taken.
int next_record(int *peer, int *code, char *text);

// Queues one record for a connection and sends as much as the socket
// takes. The size of the record, or -1 when there is no such connection.
int send(int peer, int code, const std::string &text);

bool closed_by_peer(int peer);  // no more records will come from it

// The descriptors to wait on (listener included) and whether whole records
// wait already. Returns how many entries of fds were filled.
int wait_fds(int listener, pollfd *fds, int max, bool *records_waiting);

void close_all();            // every connection, without telling the hooks
void close_all_on_signal();  // the same, in a signal handler
int count();                 // open connections

}  // namespace mq_peers
