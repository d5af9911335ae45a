// Our GIF decoder and encoder against giflib's, on 1024 x 1024 radar-like
// pictures. After the runs it prints, for decoding and encoding, the ratio
// of our time to giflib's and, for encoding, of our file size to giflib's.
#include <benchmark/benchmark.h>

#include <gif_lib.h>
#include "bench/ratio_reporter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "image/gif.h"
#include "image/img_tool.h"
#include "tests/image_util.h"

namespace {

constexpr int kSide = 1024;

struct Fixture {
  zyb_test::TempDir dir;
  std::vector<unsigned char> levels = zyb_test::radar_levels(kSide, kSide, 4);
  std::string ours = dir / "ours.gif";
  std::string theirs = dir / "giflib.gif";
};

Fixture &fixture() {
  static Fixture f;
  return f;
}

// ---- giflib ------------------------------------------------------------------

bool giflib_write(const std::string &path, const std::vector<unsigned char> &levels) {
  int error = 0;
  GifFileType *gif = EGifOpenFileName(path.c_str(), false, &error);
  if (gif == nullptr) return false;
  ColorMapObject *map = GifMakeMapObject(16, nullptr);
  for (int i = 0; i < 16; i++) {
    zyb_test::Rgb c = zyb_test::palette_color(i);
    map->Colors[i] = {c.r, c.g, c.b};
  }
  bool ok = EGifPutScreenDesc(gif, kSide, kSide, 4, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, kSide, kSide, false, nullptr) == GIF_OK;
  std::vector<GifPixelType> row(kSide);
  for (int y = 0; ok && y < kSide; y++) {
    std::memcpy(row.data(), &levels[static_cast<size_t>(y) * kSide], kSide);
    ok = EGifPutLine(gif, row.data(), kSide) == GIF_OK;
  }
  GifFreeMapObject(map);
  return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

bool giflib_read(const std::string &path, std::vector<unsigned char> *pixels) {
  int error = 0;
  GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
  if (gif == nullptr) return false;
  bool ok = false;
  GifRecordType type;
  while (DGifGetRecordType(gif, &type) == GIF_OK && type != TERMINATE_RECORD_TYPE) {
    if (type == EXTENSION_RECORD_TYPE) {
      int code;
      GifByteType *ext;
      if (DGifGetExtension(gif, &code, &ext) != GIF_OK) break;
      while (ext != nullptr && DGifGetExtensionNext(gif, &ext) == GIF_OK) {
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) != GIF_OK) break;
    int w = gif->Image.Width, h = gif->Image.Height;
    pixels->assign(static_cast<size_t>(w) * h, 0);
    ok = true;
    for (int y = 0; ok && y < h; y++) ok = DGifGetLine(gif, &(*pixels)[static_cast<size_t>(y) * w], w) == GIF_OK;
    break;
  }
  DGifCloseFile(gif, &error);
  return ok;
}

// ---- Ours --------------------------------------------------------------------

void fill_record(ImageRecord *img, const std::vector<unsigned char> &levels) {
  zyb_test::make_indexed(img, kSide, kSide, levels, 16);
}

long file_size(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return -1;
  std::fseek(f, 0, SEEK_END);
  long n = std::ftell(f);
  std::fclose(f);
  return n;
}

// ---- Benchmarks --------------------------------------------------------------

void BM_decode_ours(benchmark::State &state) {
  Fixture &f = fixture();
  for (auto _ : state) {
    ImageRecord img;
    IMG_init(&img);
    if (GIF_read(f.ours.c_str(), &img, 0) != 1) state.SkipWithError("GIF_read failed");
    benchmark::DoNotOptimize(img.data);
    IMG_free(&img);
  }
}

void BM_decode_giflib(benchmark::State &state) {
  Fixture &f = fixture();
  for (auto _ : state) {
    std::vector<unsigned char> pixels;
    if (!giflib_read(f.theirs, &pixels)) state.SkipWithError("giflib read failed");
    benchmark::DoNotOptimize(pixels.data());
  }
}

void BM_encode_ours(benchmark::State &state) {
  Fixture &f = fixture();
  ImageRecord img;
  fill_record(&img, f.levels);
  for (auto _ : state) {
    // The writer puts palette entries into the record: start afresh.
    state.PauseTiming();
    std::memcpy(img.data, f.levels.data(), f.levels.size());
    state.ResumeTiming();
    if (GIF_write(f.ours.c_str(), &img) != 1) state.SkipWithError("GIF_write failed");
  }
  state.counters["bytes"] = static_cast<double>(file_size(f.ours));
  IMG_free(&img);
}

void BM_encode_giflib(benchmark::State &state) {
  Fixture &f = fixture();
  for (auto _ : state) {
    if (!giflib_write(f.theirs, f.levels)) state.SkipWithError("giflib write failed");
  }
  state.counters["bytes"] = static_cast<double>(file_size(f.theirs));
}

}  // namespace

BENCHMARK(BM_decode_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_decode_giflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_encode_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_encode_giflib)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
  Fixture &f = fixture();
  // Both files exist before any decoding is timed.
  ImageRecord img;
  fill_record(&img, f.levels);
  bool made = GIF_write(f.ours.c_str(), &img) == 1 && giflib_write(f.theirs, f.levels);
  IMG_free(&img);
  if (!made) {
    std::fprintf(stderr, "gif_bench: could not write the test files\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  zyb_bench::RatioReporter reporter(zyb_bench::RatioReporter::Clock::Cpu);
  benchmark::RunSpecifiedBenchmarks(&reporter);

  double decode = reporter.time_of("BM_decode_ours") / reporter.time_of("BM_decode_giflib");
  double encode = reporter.time_of("BM_encode_ours") / reporter.time_of("BM_encode_giflib");
  double size = static_cast<double>(file_size(f.ours)) / static_cast<double>(file_size(f.theirs));
  std::printf("decode time ratio (ours/giflib): %.3f %s\n", decode, decode <= 1.0 ? "ok" : "SLOWER");
  std::printf("encode time ratio (ours/giflib): %.3f %s\n", encode, encode <= 1.0 ? "ok" : "SLOWER");
  std::printf("encode size ratio (ours/giflib): %.3f %s\n", size, size <= 1.05 ? "ok" : "LARGER");
  benchmark::Shutdown();
  return 0;
}
