// Loading a 640 x 512 radar GIF into a frame against decoding it alone.
// Starts its own Xvfb (depth 24 unless ZYB_BENCH_DEPTH says otherwise) and
// prints the ratio load time / decode time at the end, and for scale the
// load time against giflib's decode of the same file. The two steps a load
// adds to the decode are timed alone as well: the conversion into the
// window's pixel format, and the server's copy of the converted pixels.
#include <benchmark/benchmark.h>

#include <gif_lib.h>
#include "bench/bench_util.h"
#include "bench/ratio_reporter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gks/gks.h"
#include "gks/gks_img_conv.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "tests/image_util.h"
#include "tests/xvfb.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 512;

struct Fixture {
  zyb_test::TempDir dir;
  std::string gif = dir / "radar.gif";
  ImageRecord decoded;  // the file's record, read once
  std::vector<unsigned char> indices;
};

Fixture &fixture() {
  static Fixture f;
  return f;
}

// The same way into a record as a load takes, without the window.
void BM_decode(benchmark::State &state) {
  for (auto _ : state) {
    ImageRecord img;
    if (gread_image_file(fixture().gif.c_str(), &img) != 1) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(img.data);
    IMG_free(&img);
  }
}

void BM_decode_giflib(benchmark::State &state) {
  for (auto _ : state) {
    int error = 0;
    GifFileType *gif = DGifOpenFileName(fixture().gif.c_str(), &error);
    if (gif == nullptr || DGifSlurp(gif) != GIF_OK) state.SkipWithError("giflib failed");
    if (gif != nullptr) DGifCloseFile(gif, &error);
  }
}

// Colour cells (up to depth 8) and the conversion into the server's layout.
void BM_convert(benchmark::State &state) {
  ImageRecord &img = fixture().decoded;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(img.data, fixture().indices.data(), fixture().indices.size());
    state.ResumeTiming();
    gsetup_image_colors(&img, -1);
    GimgPrepared prepared;
    if (!prepared.prepare(&img)) state.SkipWithError("prepare failed");
    benchmark::DoNotOptimize(prepared.image().data);
  }
}

// The server's copy of converted pixels into the frame, waited for.
void BM_server_copy(benchmark::State &state) {
  ImageRecord &img = fixture().decoded;
  std::memcpy(img.data, fixture().indices.data(), fixture().indices.size());
  gsetup_image_colors(&img, -1);
  GimgPrepared prepared;
  if (!prepared.prepare(&img)) state.SkipWithError("prepare failed");
  for (auto _ : state) {
    prepared.put(gget_draw_window(), gget_root_gc(), 0, 0, kWidth, kHeight);
    gsync();
  }
}

void BM_load_into_frame(benchmark::State &state) {
  for (auto _ : state) {
    if (gload_image_file(fixture().gif.c_str(), 0, 0) != 1) state.SkipWithError("gload_image_file failed");
    gsync();
  }
}

}  // namespace

BENCHMARK(BM_decode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_decode_giflib)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_convert)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_server_copy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_load_into_frame)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv) {
  const char *depth_text = std::getenv("ZYB_BENCH_DEPTH");
  int depth = depth_text != nullptr ? std::atoi(depth_text) : 24;
  const auto xvfb = zyb_bench::private_display("img_load_bench", depth, kWidth, kHeight);
  if (!xvfb) return 1;
  ImageRecord img;
  zyb_test::make_indexed(&img, kWidth, kHeight, zyb_test::radar_levels(kWidth, kHeight, 2), 13);
  bool made = GIF_write(fixture().gif.c_str(), &img) == 1;
  IMG_free(&img);
  if (!made || gopen_gks(nullptr, 10000) != 0 || gopen_ws(0, "", GKS_WIN) != 0) {
    std::fprintf(stderr, "img_load_bench: no picture or no window\n");
    return 1;
  }
  gset_xsize(kWidth, kHeight);
  gselect_frame(gcreate_frame(-1));
  ImageRecord &decoded = fixture().decoded;
  if (gread_image_file(fixture().gif.c_str(), &decoded) != 1) {
    std::fprintf(stderr, "img_load_bench: cannot read back %s\n", fixture().gif.c_str());
    return 1;
  }
  fixture().indices.assign(decoded.data, decoded.data + static_cast<size_t>(decoded.bytes_per_line) * decoded.height);

  benchmark::Initialize(&argc, argv);
  zyb_bench::RatioReporter reporter(zyb_bench::RatioReporter::Clock::Real);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double ratio = reporter.time_of("BM_load_into_frame") / reporter.time_of("BM_decode");
  double giflib = reporter.time_of("BM_load_into_frame") / reporter.time_of("BM_decode_giflib");
  double convert = reporter.time_of("BM_convert") / reporter.time_of("BM_decode");
  double copy = reporter.time_of("BM_server_copy") / reporter.time_of("BM_decode");
  std::printf("load/decode time ratio at depth %d: %.3f %s\n", depth, ratio, ratio <= 1.5 ? "ok" : "SLOWER");
  std::printf("load/giflib decode time ratio at depth %d: %.3f\n", depth, giflib);
  // The steps of a load apart, in units of the decode.
  std::printf("conversion/decode %.3f, server copy/decode %.3f: decode, conversion and copy add up to %.3f\n", convert,
              copy, 1.0 + convert + copy);
  benchmark::Shutdown();
  IMG_free(&decoded);
  gclose_ws(0);
  gclose_gks();
  return 0;
}
