// The resource database: named text settings from defaults files, a
// resource server, the environment and the command line.
#pragma once

// Conversion types.
constexpr int RES_BOOLEAN = 1;
constexpr int RES_INTEGER = 2;
constexpr int RES_TEXT = 6;
constexpr int RES_PATH = 8;
constexpr int RES_MESSAGE = 9;
constexpr int RES_REGION = 13;
constexpr int RES_DOMAIN = 20;
constexpr int RES_DEVICE = 17;
constexpr int RES_NAME_LIST = 21;
constexpr int RES_BATCH = 22;
constexpr int RES_HELP = 23;

constexpr int RES_UNDECLARED = -9999;

// keyed and positional are 0-terminated lists of option numbers. Returns 1.
int RES_init(int argc, char **argv, const int *keyed, const int *positional);

// The value; "" for a resource set without a value; nullptr when unset.
const char *RES_get(const char *name);

// Converts the value into output (see RES_conv_data). 0 when the resource
// does not exist or output is nullptr.
int RES_getval(const char *name, void *output, int type);

// Split at newlines (type 21) or commas; free with free_parsed_array.
int RES_getvals(const char *name, int *count, char ***list);

int RES_new(int source, const char *name, const char *value, int type);
int RES_append(int source, const char *name, const char *value, int type);
int RES_put(const char *name, const char *value);
int RES_list();

const char *RES_get_prog();
char *RES_get_progname(char *buffer);  // buffer nullptr: new memory (caller frees)
int RES_set_device(const char *text);

// Conversion of a value (nullptr for a flag without value) into output:
//   1 boolean   int*     2 integer  int*       6 text     const char**
//   8 path      char[161]            9 message  (output unused)
//   13, 20 domain/region: const char** to the text (decoded by the domain module)
//   17 device   const char** to the text after the first comma (nullptr if none)
//   21 name list char*** (free with free_parsed_array; its count is the
//      number of newlines + 1)
//   22 batch, 23 help (output unused)
// Returns 1 when something was stored or applied, else 0; the device class
// for type 17 and the number of names for type 21.
int RES_conv_data(const char *value, void *output, int type);

// The reading procedure of RES_init over the declared options.
int RES_decode(const char *prog, const char *class_name, int argc, char **argv);
// Declares option number (a row of the suite's table); -1 for an unknown number.
int RES_enter(int row, int number);

void RES_help_print(const char *progname, const int *keyed, const int *positional);

// A resource server: the looper of another window, asked through its queue
// for the option values it holds ("#N" entries of the defaults path). The
// programs that can reach one install its client before RES_init;
// without a client such entries are skipped.
enum class RES_Wait { timed, patient };  // patient: no time-out
constexpr int RES_SERVER_GONE = -3;      // receive's code when the server vanished
struct RES_ServerClient {
  int (*connect)(const char *window_text);  // 0, or -1 (reported)
  int (*send)(const char *line);
  // The next answer line into answer (size bytes); its reply code.
  int (*receive)(char *answer, int size, RES_Wait wait);
  void (*close)();
};
void RES_set_server_client(const RES_ServerClient *client);

// Empties the database and the option table (for programs that start over
// and for tests).
void RES_clear();
