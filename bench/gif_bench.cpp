// Our GIF decoder and encoder against giflib's on a corpus that ImageMagick
// makes at start-up: photo-like, dithered, noisy and gradient pictures,
// its built-in images, interlaced variants, and one smooth radar picture.
// Every file is decoded by both codecs first and the run stops if their
// indices differ. At the end it prints, per file, the ratios of our time to
// giflib's for decoding and encoding and of our file size to giflib's, and
// the worst of each against its target.
#include <benchmark/benchmark.h>

#include <gif_lib.h>
#include "bench/bench_util.h"
#include "bench/ratio_reporter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/gif.h"
#include "image/gif_lzw.h"
#include "image/img_tool.h"
#include "tests/image_util.h"

namespace {

constexpr double kDecodeTarget = 0.5;
constexpr double kEncodeTarget = 1.0;
constexpr double kSizeTarget = 1.0;

// How ImageMagick makes each picture; the interlaced ones are written with
// "-interlace GIF".
struct Recipe {
  const char *name;
  std::vector<std::string> args;
  bool interlaced;
};

const Recipe kRecipes[] = {
    {"plasma", {"-seed", "7", "-size", "320x320", "plasma:fractal", "-colors", "256"}, false},
    {"plasma_il", {"-seed", "7", "-size", "320x320", "plasma:fractal", "-colors", "256"}, true},
    {"noise", {"-seed", "3", "-size", "320x320", "xc:gray", "+noise", "Random"}, false},
    {"gradient", {"-size", "320x320", "gradient:"}, false},
    {"gradient_rgb", {"-size", "320x320", "radial-gradient:yellow-navy"}, false},
    {"rose", {"rose:"}, false},
    {"logo", {"logo:"}, false},
    {"logo_il", {"logo:"}, true},
    {"wizard", {"wizard:"}, false},
    {"wizard_il", {"wizard:"}, true},
};

struct CorpusFile {
  std::string name;
  std::string path;  // the file both decoders read
  bool interlaced = false;
  int width = 0, height = 0;
  std::vector<unsigned char> indices;  // as giflib decodes them
  std::vector<GifColorType> colors;    // the table in force, a power of two long
  std::string ours, theirs;            // what each encoder writes
};

// Files go to memory where the machine has it: rewriting a file on disk
// costs more than coding a small picture, and would be timed with it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = "/dev/shm/gif_bench.XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
  }
  std::string operator/(const std::string &name) const {
    return (path_.empty() ? fallback_.path() : path_) + "/" + name;
  }

 private:
  zyb_test::TempDir fallback_;
  std::string path_;
};

struct Fixture {
  ScratchDir dir;
  std::vector<CorpusFile> files;
};

Fixture &fixture() {
  static Fixture f;
  return f;
}

// ---- giflib ------------------------------------------------------------------

bool giflib_read(const std::string &path, CorpusFile *file) {
  int error = 0;
  GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
  if (gif == nullptr) return false;
  bool ok = DGifSlurp(gif) == GIF_OK && gif->ImageCount > 0;
  if (ok && file != nullptr) {
    const SavedImage &image = gif->SavedImages[0];
    const ColorMapObject *map = image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
    file->width = image.ImageDesc.Width;
    file->height = image.ImageDesc.Height;
    file->indices.assign(image.RasterBits, image.RasterBits + static_cast<size_t>(file->width) * file->height);
    if (map != nullptr) file->colors.assign(map->Colors, map->Colors + map->ColorCount);
    ok = map != nullptr;
  }
  DGifCloseFile(gif, &error);
  return ok;
}

bool giflib_write(const std::string &path, const CorpusFile &file) {
  int error = 0;
  GifFileType *gif = EGifOpenFileName(path.c_str(), false, &error);
  if (gif == nullptr) return false;
  ColorMapObject *map = GifMakeMapObject(static_cast<int>(file.colors.size()), file.colors.data());
  EGifSetGifVersion(gif, true);
  bool ok = map != nullptr && EGifPutScreenDesc(gif, file.width, file.height, map->BitsPerPixel, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, file.width, file.height, file.interlaced, nullptr) == GIF_OK;
  std::vector<GifPixelType> row(file.width);
  for (int y : LZW_row_order(file.height, file.interlaced)) {
    if (!ok) break;
    std::memcpy(row.data(), &file.indices[static_cast<size_t>(y) * file.width], file.width);
    ok = EGifPutLine(gif, row.data(), file.width) == GIF_OK;
  }
  GifFreeMapObject(map);
  return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

// ---- Ours --------------------------------------------------------------------

// An indexed record of the file's pixels and colour table.
void fill_record(ImageRecord *img, const CorpusFile &file) {
  IMG_init(img);
  img->width = file.width;
  img->height = file.height;
  img->depth = img->bits_per_pixel = 8;
  img->bytes_per_line = file.width;
  img->color_type = 1;
  IMG_alloc_pixels(img);
  std::memcpy(img->data, file.indices.data(), file.indices.size());
  IMG_alloc_colors(img, static_cast<int>(file.colors.size()));
  for (size_t i = 0; i < file.colors.size(); i++) {
    const GifColorType &c = file.colors[i];
    img->colors[i] = {c.Red / 255.0f, c.Green / 255.0f, c.Blue / 255.0f};
  }
}

// Our decoder's indices of the image at the top left of the screen.
bool ours_read(const std::string &path, int width, int height, std::vector<unsigned char> *indices) {
  ImageRecord img;
  IMG_init(&img);
  bool ok = GIF_read(path.c_str(), &img, 0) == 1 && img.data != nullptr && img.width >= width && img.height >= height;
  indices->clear();
  for (int y = 0; ok && y < height; y++) {
    const unsigned char *row = img.data + static_cast<size_t>(y) * img.bytes_per_line;
    indices->insert(indices->end(), row, row + width);
  }
  IMG_free(&img);
  return ok;
}

// ---- Corpus ------------------------------------------------------------------

[[noreturn]] void fail(const std::string &what) {
  std::fprintf(stderr, "gif_bench: %s\n", what.c_str());
  std::exit(1);
}

void add_file(const std::string &name, const std::string &path, bool interlaced) {
  Fixture &f = fixture();
  CorpusFile file;
  file.name = name;
  file.path = path;
  file.interlaced = interlaced;
  if (!giflib_read(path, &file)) fail("giflib cannot read " + path);
  std::vector<unsigned char> ours;
  if (!ours_read(path, file.width, file.height, &ours)) fail("our decoder cannot read " + path);
  if (ours != file.indices) {
    size_t at = std::mismatch(ours.begin(), ours.end(), file.indices.begin()).first - ours.begin();
    fail("the decoders disagree on " + name + " at pixel " + std::to_string(at));
  }
  file.ours = f.dir / (name + ".ours.gif");
  file.theirs = f.dir / (name + ".giflib.gif");
  f.files.push_back(file);
}

void make_corpus() {
  Fixture &f = fixture();
  for (const Recipe &r : kRecipes) {
    std::vector<std::string> args = r.args;
    if (r.interlaced) args.insert(args.end(), {"-interlace", "GIF"});
    std::string path = f.dir / (std::string(r.name) + ".gif");
    args.push_back(path);
    if (!zyb_test::run_magick(args)) fail(std::string("ImageMagick could not make ") + r.name);
    add_file(r.name, path, r.interlaced);
  }
  // The looper's everyday picture: smooth blobs over a plain background.
  constexpr int kSide = 1024;
  ImageRecord img;
  zyb_test::make_indexed(&img, kSide, kSide, zyb_test::radar_levels(kSide, kSide, 4), 16);
  std::string radar = f.dir / "radar.gif";
  bool written = GIF_write(radar.c_str(), &img) == 1;
  IMG_free(&img);
  if (!written) fail("could not write the radar picture");
  add_file("radar", radar, false);
}

// ---- Benchmarks --------------------------------------------------------------

void BM_decode_ours(benchmark::State &state, const CorpusFile *file) {
  for (auto _ : state) {
    ImageRecord img;
    IMG_init(&img);
    if (GIF_read(file->path.c_str(), &img, 0) != 1) state.SkipWithError("GIF_read failed");
    benchmark::DoNotOptimize(img.data);
    IMG_free(&img);
  }
}

void BM_decode_giflib(benchmark::State &state, const CorpusFile *file) {
  for (auto _ : state) {
    if (!giflib_read(file->path, nullptr)) state.SkipWithError("giflib read failed");
  }
}

void BM_encode_ours(benchmark::State &state, const CorpusFile *file) {
  ImageRecord img;
  fill_record(&img, *file);
  GIF_interlace(file->interlaced ? 1 : 0);
  // The writer replaces the pixels by their palette entries, numbered in
  // order of first appearance; writing that again is the same work and
  // the same file bar the colours, so no pause is needed between runs.
  for (auto _ : state) {
    if (GIF_write(file->ours.c_str(), &img) != 1) state.SkipWithError("GIF_write failed");
  }
  GIF_interlace(0);
  IMG_free(&img);
}

void BM_encode_giflib(benchmark::State &state, const CorpusFile *file) {
  for (auto _ : state) {
    if (!giflib_write(file->theirs, *file)) state.SkipWithError("giflib write failed");
  }
}

struct Worst {
  double value = 0;
  std::string file;
  void note(double v, const std::string &name) {
    if (v > value) value = v, file = name;
  }
};

void print_worst(const char *what, const Worst &w, double target) {
  std::printf("worst %s ratio: %.4f (%s), target %.2f %s\n", what, w.value, w.file.c_str(), target,
              w.value <= target ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char **argv) {
  make_corpus();
  Fixture &f = fixture();
  using Fn = void (*)(benchmark::State &, const CorpusFile *);
  const std::pair<const char *, Fn> kinds[] = {
      {"decode_ours", BM_decode_ours},
      {"decode_giflib", BM_decode_giflib},
      {"encode_ours", BM_encode_ours},
      {"encode_giflib", BM_encode_giflib},
  };
  for (const CorpusFile &file : f.files) {
    for (const auto &[kind, fn] : kinds) {
      benchmark::RegisterBenchmark((std::string(kind) + "/" + file.name).c_str(), fn, &file)
          ->Unit(benchmark::kMillisecond);
    }
  }
  // Each timing is the fastest of a few short runs (see RatioReporter).
  std::vector<char *> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=5";
  char min_time[] = "--benchmark_min_time=0.1";
  args.insert(args.begin() + 1, {repetitions, min_time});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  zyb_bench::RatioReporter reporter(zyb_bench::RatioReporter::Clock::Cpu);
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n%-14s %8s %8s %8s  (ours / giflib)\n", "file", "decode", "encode", "size");
  Worst decode, encode, size;
  for (const CorpusFile &file : f.files) {
    double d = reporter.time_of("decode_ours/" + file.name) / reporter.time_of("decode_giflib/" + file.name);
    double e = reporter.time_of("encode_ours/" + file.name) / reporter.time_of("encode_giflib/" + file.name);
    double s =
        static_cast<double>(zyb_bench::file_size(file.ours)) / static_cast<double>(zyb_bench::file_size(file.theirs));
    std::printf("%-14s %8.3f %8.3f %8.4f\n", file.name.c_str(), d, e, s);
    decode.note(d, file.name);
    encode.note(e, file.name);
    size.note(s, file.name);
  }
  print_worst("decode time", decode, kDecodeTarget);
  print_worst("encode time", encode, kEncodeTarget);
  print_worst("encode size", size, kSizeTarget);
  benchmark::Shutdown();
  return 0;
}
