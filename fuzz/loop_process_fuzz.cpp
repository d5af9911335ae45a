// Feeds arbitrary queue records to the command language with no window and
// no queue: every command must answer (into nowhere) without crashing,
// hanging or reading past its words.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/loop.h"
#include "mqueue/mqueue.h"
#include "util/mess.h"
#include "util/string.h"

namespace {

// A registered-looking client id, so that every reply is formatted; with
// no queue (qid < 0) nothing is sent.
constexpr int kClient = MQ_FIRST_CLIENT;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Commands that need the window must find no display to open.
  unsetenv("DISPLAY");
  MESS_set_str("none");
  // Nothing may wait on a terminal.
  if (std::freopen("/dev/null", "r", stdin) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A record holds at most MQ_TEXT_MAX characters and ends at its first NUL.
  std::string record(reinterpret_cast<const char *>(data), size);
  record = copy_limited(record.c_str(), MQ_TEXT_MAX);

  LoopState &state = LOOP_state();
  state.qid = -1;
  state.running = LOOP_RUN;

  int count = 0;
  char **pieces = nullptr;
  parse_string(record.c_str(), ';', &count, &pieces);
  for (int i = 0; i < count; i++) LOOP_process(kClient, pieces[i]);
  free_parsed_array(count, pieces);
  return 0;
}
