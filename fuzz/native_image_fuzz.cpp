// The native image reader on arbitrary bytes, as a client's file would be
// read: data files named with "*" must be plain files, and a file that
// ends early is not waited for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "image/img_tool.h"
#include "util/mess.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  IMG_set_max_bytes(size_t{1} << 20);
  IMG_set_native_wait(0.0f);
  IMG_set_untrusted(1);
  MESS_set(0, 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string in = zyb_fuzz::scratch("native_image_fuzz", "in");
  if (!zyb_fuzz::put_file(in, data, size)) return 0;
  ImageRecord img;
  IMG_init(&img);
  if (IMG_read(in.c_str(), &img, 0) == 1) {
    // Every pixel the record claims must be there.
    volatile unsigned sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(img.bytes_per_line) * img.height; i++) sum = sum + img.data[i];
    (void)sum;
  }
  IMG_free(&img);
  return 0;
}
