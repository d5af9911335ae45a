// The channel between the looper (server) and the programs that drive it
// (clients): short text records over a System V message queue or a TCP
// connection on the local machine, one channel per window number.
//
// A record is a code and a text of at most MQ_TEXT_MAX characters. Clients
// register first (code -1, the text "uid pid") and get an id from
// MQ_FIRST_CLIENT on; they send their commands with that id as the code,
// and the server answers each client by its id with the reply codes below.
// When all ids are taken, a registration frees those of clients whose
// process has ended (or, over TCP, whose connection has closed); a TCP
// client's id is free as soon as its connection closes.
//
// The server never waits: not for a client that stalls in the middle of a
// record, nor for room in a queue or a socket that a client does not read.
#pragma once

struct RES_ServerClient;
struct pollfd;

// Queue keys and TCP ports are the window number plus this offset. A window
// number above MQ_RAW_KEY_LIMIT was given as a key or port itself.
constexpr int MQ_QUEUE_OFFSET = 6496;
constexpr int MQ_RAW_KEY_LIMIT = 1000;

constexpr int MQ_TEXT_MAX = 118;      // characters of text in one record
constexpr int MQ_PAYLOAD_SIZE = 120;  // bytes after the type of a System V record
constexpr int MQ_FIRST_CLIENT = 3;    // the first client id
constexpr int MQ_MAX_CLIENTS = 19;    // ids 3 to 21

// Transports (MQ_settype).
constexpr int MQ_SYSV = 0;
constexpr int MQ_TCP = 1;

// On the System V queue the registration answer to a client that gave its
// process id goes to the message type MQ_PID_ADDRESS + pid, so that clients
// registering at the same time cannot take each other's answer; without a
// process id it goes to the type 2.
constexpr long MQ_PID_ADDRESS = 1000;

// Codes of answers to clients.
constexpr int MQ_LAST_LINE = 0;     // last (or only) line of an answer
constexpr int MQ_MORE_LINES = 1;    // more lines follow
constexpr int MQ_REGISTERED = 2;    // registration answer; the text is the new id
constexpr int MQ_RELEASED = -1;     // final answer; the client's slot is free again
constexpr int MQ_SERVER_ENDS = -2;  // final answer; the slot is free and the server ends
// Code of a registration request from a client.
constexpr int MQ_REGISTER = -1;

// Results of MQ_sget.
constexpr int MQ_GOT_COMMAND = 1;
constexpr int MQ_GOT_CLIENT = 2;

// Server side.
int MQ_offset(int offset);  // added to the window number to form the key or port
int MQ_create(int win);     // handle; -2 for win -1 (no channel); -1 when it exists or fails
// 1 a command (sender and text filled), 2 a registration (sender = the new
// id), 0 a record that was dropped, -1 nothing waiting or no channel.
int MQ_sget(int q, int *sender, char *text /* >= MQ_TEXT_MAX + 3 bytes */);
int MQ_sput(int q, int sender, int code, const char *format, ...) __attribute__((format(printf, 4, 5)));
int MQ_del(int q);

// What the server waits on between calls of MQ_sget: fills up to max
// descriptors with the events to wait for and returns how many. *limit_us
// is the longest wait before MQ_sget must run again: 0 when records wait
// already, -1 when the descriptors say it all (a System V queue has none,
// so it is looked at every few milliseconds).
int MQ_wait_fds(pollfd *fds, int max, long *limit_us);

// Client side.
int MQ_open(int win);   // handle; -1 when no server channel exists
int MQ_connect(int q);  // registers with user and process id: the client's id, or -1
int MQ_put(int q, int id, const char *format, ...) __attribute__((format(printf, 3, 4)));
// Waits for the next record (on the System V queue the next of that message
// type) in a blocking receive that only the time-out alarm ends; the code,
// or -1.
int MQ_get(int q, int msgtype, char *text /* >= MQ_TEXT_MAX + 3 bytes */);
int MQ_clear(int q, int msgtype);
int MQ_close(int q);  // a client's TCP connection; nothing for a System V queue
int MQ_find(int first);

// The server side's last act on a termination signal: removes the System V
// queue or closes the sockets, using only calls that are safe in a signal
// handler. Returns 0.
int MQ_del_on_signal(int q);

// The resource-server client over the queue (RES_set_server_client).
const RES_ServerClient *MQ_resource_client();

// Removes window win's System V queue: 1 removed, 0 there was none, -1 failure.
int MQ_remove(int win);

// Configuration and the client time-out.
int MQ_params();  // reads the `parameter` resource: to=S, qtype=sock|mqueue, bind=any
int MQ_timeout(int seconds);
int MQ_get_timeout();  // seconds
int MQ_timeout_func(void (*handler)(int));
int MQ_settype(int type);
int MQ_gettype();
// Starts the time-out. Once it has fired the alarm repeats every 0.2 s
// until MQ_disable_alarm, so that a receive begun just after it is
// interrupted as well; the handler runs once.
int MQ_enable_alarm();
int MQ_disable_alarm();
[[noreturn]] void MQ_intrp(int signal);  // "Queue not responding!!" and exit status 7

// TCP records: a length byte L, the code character and L - 1 text bytes.
//
// Decodes the record at the start of bytes. Returns 1 (code and text filled,
// the text cut to MQ_TEXT_MAX), 0 when the buffer does not hold the whole
// record yet, or -1 for an empty record (L = 0) that carries no code.
// *used is the number of bytes the record takes (0 while incomplete).
int MQ_decode_record(const unsigned char *bytes, int size, int *used, int *code, char *text);

// Reads one record from a client's connected stream socket. With wait 0 it returns 0
// at once when no byte is waiting; otherwise it waits for the first byte
// (only the client time-out ends that wait). Once a record has begun, the
// rest must arrive within about two seconds. Returns 1 for a record, 0 for
// nothing (or a skipped empty record), -1 when the peer has closed, -2 on an
// error, an interrupted wait or a peer that stalled in the middle of a record.
int MQ_read_record(int fd, int wait, int *code, char *text);
