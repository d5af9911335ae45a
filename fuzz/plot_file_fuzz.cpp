// The PostScript and HPGL workstations on arbitrary device texts, and the
// raster of any image file the readers accept. Input: a flags byte, a
// length byte, that many bytes of device options, then an image file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_util.h"
#include "gks/gks.h"
#include "gks/gks_ps.h"
#include "image/img_tool.h"
#include "util/mess.h"

using zyb_fuzz::put_file;
using zyb_fuzz::scratch;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  IMG_set_max_bytes(size_t{1} << 20);
  MESS_set(0, 0);
  gopen_gks(nullptr, 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string in = scratch("plot_file_fuzz", "in");
  if (size < 2 || static_cast<size_t>(data[1]) + 2 > size) return 0;
  const uint8_t flags = data[0];
  const std::string options(reinterpret_cast<const char *>(data) + 2, data[1]);
  const std::string device = "/dev/null," + options;
  const int type = (flags & 1) ? GKS_HPGL : GKS_PS;
  if (gopen_ws(0, device.c_str(), type) != 0) return 0;
  const float line[] = {0.1f, 0.2f, 0.9f, 0.8f};
  gpolyline(2, line);
  gpolymarker(2, line);
  gtext(line, "Az");
  gset_colr_rep(1, 7, line);
  gset_fill_colr_ind(7);
  gfill_area(2, line);
  if (put_file(in, data + 2 + data[1], size - 2 - data[1])) {
    ImageRecord img;
    IMG_init(&img);
    img.depth = 32;
    if (IMG_read(in.c_str(), &img, 0) == 1) gps_image(&img, (flags >> 1) % 7 - 3, (flags >> 4) % 7 - 3);
    IMG_free(&img);
  }
  gclose_ws(0);
  return 0;
}
