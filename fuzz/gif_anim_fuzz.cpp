// The animated GIF reader on arbitrary bytes; the frames it delivers are
// written back as an animation and read again, so that the writer sees
// odd frames too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "util/mess.h"

using zyb_fuzz::put_file;
using zyb_fuzz::scratch;

namespace {

struct Kept {
  std::vector<ImageRecord> frames;
  std::vector<int> delays;
};

int keep(ImageRecord *frame, int delay, void *user) {
  auto *kept = static_cast<Kept *>(user);
  if (frame->data == nullptr || !IMG_check_layout(frame)) std::abort();
  kept->frames.push_back(*frame);
  kept->delays.push_back(delay);
  // The arrays are ours now.
  frame->data = nullptr;
  frame->colors = nullptr;
  return 0;
}

int ignore(ImageRecord *, int, void *) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  IMG_set_max_bytes(size_t{256} << 10);
  MESS_set(0, 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string in = scratch("gif_anim_fuzz", "in"), out = scratch("gif_anim_fuzz", "out");
  if (!put_file(in, data, size)) return 0;
  // Few frames kept, so that dropping the earlier ones is exercised too.
  const int max_frames = 1 + static_cast<int>(size % 4);
  Kept kept;
  int n = GIF_read_frames(in.c_str(), max_frames, keep, &kept);
  if (n != static_cast<int>(kept.frames.size()) || n > max_frames) std::abort();
  if (n > 0 && GIF_write_frames(out.c_str(), kept.frames.data(), kept.delays.data(), n) == 1) {
    if (GIF_read_frames(out.c_str(), 128, ignore, nullptr) != n) std::abort();
  }
  for (ImageRecord &f : kept.frames) IMG_free(&f);
  return 0;
}
