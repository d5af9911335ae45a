// The GIF reader on arbitrary bytes; what it accepts goes through the
// writer and back, so that palette reduction and the encoder see odd
// records too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_util.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "util/mess.h"

using zyb_fuzz::put_file;
using zyb_fuzz::scratch;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Large declared sizes are refused the same way below this limit; a
  // small one keeps every run fast.
  IMG_set_max_bytes(size_t{256} << 10);
  MESS_set(0, 0);  // the messages are checked by the tests, not here
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string in = scratch("gif_fuzz", "in"), out = scratch("gif_fuzz", "out");
  if (!put_file(in, data, size)) return 0;
  ImageRecord img;
  IMG_init(&img);
  if (GIF_read(in.c_str(), &img, 0) == 1 && img.data != nullptr) {
    GIF_interlace(size % 2);
    if (GIF_write(out.c_str(), &img) == 1) {
      ImageRecord back;
      IMG_init(&back);
      GIF_read(out.c_str(), &back, 0);
      IMG_free(&back);
    }
  }
  IMG_free(&img);
  GIF_read(in.c_str(), &img, 1);
  IMG_free(&img);
  return 0;
}
