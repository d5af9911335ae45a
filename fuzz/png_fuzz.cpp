// The PNG reader on arbitrary bytes, in query and full mode; what it
// accepts is written again as PNG.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_util.h"
#include "image/img_tool.h"
#include "image/png.h"
#include "util/mess.h"

using zyb_fuzz::put_file;
using zyb_fuzz::scratch;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  IMG_set_max_bytes(size_t{1} << 20);
  MESS_set(0, 0);  // the messages are checked by the tests, not here
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string in = scratch("png_fuzz", "in"), out = scratch("png_fuzz", "out");
  if (!put_file(in, data, size)) return 0;
  ImageRecord img;
  IMG_init(&img);
  PNG_read(in.c_str(), &img, 1);
  IMG_free(&img);
  IMG_init(&img);
  if (PNG_read(in.c_str(), &img, 0) == 1 && IMG_check_layout(&img)) PNG_write(out.c_str(), &img);
  IMG_free(&img);
  return 0;
}
