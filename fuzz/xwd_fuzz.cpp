// The XWD reader on arbitrary bytes; what it accepts is written again as
// XWD, GIF and PNG, which exercises the writers on odd layouts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_util.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "image/png.h"
#include "image/xdump.h"
#include "util/mess.h"

using zyb_fuzz::put_file;
using zyb_fuzz::scratch;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  IMG_set_max_bytes(size_t{1} << 20);
  MESS_set(0, 0);  // the messages are checked by the tests, not here
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string in = scratch("xwd_fuzz", "in"), out = scratch("xwd_fuzz", "out");
  if (!put_file(in, data, size)) return 0;
  ImageRecord img;
  IMG_init(&img);
  img.depth = 32;
  if (XWD_read(in.c_str(), &img, 0) == 1) {
    XWD_write(out.c_str(), &img);
    PNG_write(out.c_str(), &img);
    GIF_write(out.c_str(), &img);
  }
  IMG_free(&img);
  return 0;
}
