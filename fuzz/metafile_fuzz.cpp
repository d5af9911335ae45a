// The metafile reader on arbitrary bytes, in both forms: as a file
// (gread_metafile) and as queue records, one line each, fed to the stream
// reader until "end". What it draws goes to a metafile workstation writing
// to /dev/null, of the text or the CGM kind as the first byte chooses, so
// the writer meets whatever the reader lets through.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "gks/gks.h"
#include "gks/gks_meta.h"
#include "mqueue/mqueue.h"
#include "util/mess.h"

namespace {

void feed_records(const uint8_t *data, size_t size) {
  GmetaStream stream;
  std::string record;
  for (size_t i = 0; i <= size; ++i) {
    if (i < size && data[i] != '\n') {
      // A queue record holds at most MQ_TEXT_MAX characters and no zero byte.
      if (record.size() < static_cast<size_t>(MQ_TEXT_MAX) && data[i] != 0) record += static_cast<char>(data[i]);
      continue;
    }
    if (stream.feed(record.c_str()) == GmetaStream::kEnd) return;
    record.clear();
  }
  stream.abandon();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  MESS_set(0, 0);  // the messages are checked by the tests, not here
  return gopen_ws(0, "/dev/null", GKS_META) == 0 ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = zyb_fuzz::scratch("metafile_fuzz", "meta");
  gmeta_set_type(size > 0 && (data[0] & 1) ? GMETA_CGM : GMETA_TEXT);
  ginit_plot(GKS_PLOT_META);
  if (zyb_fuzz::put_file(path, data, size)) gread_metafile(path.c_str());
  ginit_plot(GKS_PLOT_META);
  feed_records(data, size);
  return 0;
}
