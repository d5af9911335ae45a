// Domain texts, with the region and city files they may name, and the
// projection of the domains they give.
//
// Input: the domain text, then (after a NUL byte) the body of the region
// file, then (after another NUL) the body of the city file. Both files are
// found through "file_path" in a scratch directory of this process.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "domain/cty_read.h"
#include "domain/maptran.h"
#include "domain/region.h"
#include "fuzz/fuzz_util.h"
#include "util/mess.h"
#include "util/resrc.h"

namespace {

std::string dir;

void put(const std::string &name, const std::string &body) {
  zyb_fuzz::put_file(dir + "/" + name, reinterpret_cast<const uint8_t *>(body.data()), body.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  char tmpl[] = "/tmp/dom_decode_fuzz.XXXXXX";
  dir = mkdtemp(tmpl);
  RES_put("file_path", dir.c_str());
  RES_put("city_file", "fz.cty");
  MESS_set(0, 0);
  DOM_set_prompt(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t first = input.find('\0');
  std::string text = input.substr(0, first);
  std::string rest = first == std::string::npos ? "" : input.substr(first + 1);
  size_t second = rest.find('\0');
  put("zyb.reg", rest.substr(0, second));
  put("fz.cty", second == std::string::npos ? "" : rest.substr(second + 1));

  DomainRecord d;
  DOM_init(&d);
  if (DOM_decode(text.c_str(), &d) <= 0 || MAP_setup(&d) != 0) return 0;
  float lim[4];
  MAP_get_limits(lim);
  for (int i = 0; i <= 4; i++) {
    float x = lim[0] + (lim[1] - lim[0]) * i / 4, y = lim[2] + (lim[3] - lim[2]) * i / 4;
    float lat = 0, lon = 0, px = 0, py = 0;
    if (MAP_inverse(x, y, &lat, &lon) == 1) MAP_tran(&px, &py, lat, lon);
    MAP_tran(&px, &py, d.clat + i, d.clon - i);
  }
  char label[CTY_LABEL_SIZE];
  float km;
  CTY_nearest(d.clat, d.clon, label, &km);
  return 0;
}
