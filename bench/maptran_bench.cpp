// Projecting a million points with MAP_tran against PROJ's library doing
// the same conversion, and reading a deflated 1024 x 1024 native image
// against zlib's bare inflate of the same stream. Prints the time ratios
// and the largest difference between our points and PROJ's.
#include <benchmark/benchmark.h>

#include <proj.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "domain/maptran.h"
#include "image/img_tool.h"
#include "tests/image_util.h"
#include "util/mess.h"

namespace {

constexpr int kSide = 1000;  // kSide x kSide points
constexpr int kImage = 1024;

struct Case {
  const char *name;
  DomainRecord domain;
  const char *proj;
};

DomainRecord make_domain(int proj, float clat, float clon) {
  DomainRecord d;
  DOM_init(&d);
  d.proj = proj, d.clat = clat, d.clon = clon, d.nx = 25, d.ny = 17, d.dx = d.dy = 1.2f;
  return d;
}

const Case kCases[] = {
    {"polar", make_domain(1, 40, -100), "+proj=stere +lat_0=90 +lat_ts=60 +lon_0=-100 +R=6371220"},
    {"lambert", make_domain(4, 40, -100), "+proj=lcc +lat_0=90 +lat_1=30 +lat_2=60 +lon_0=-100 +R=6371220"},
};

struct Fixture {
  std::vector<float> lat, lon;       // the points, degrees
  std::vector<float> x, y;           // ours
  std::vector<double> px, py;        // PROJ's, metres
  std::vector<double> rad_x, rad_y;  // PROJ's input, radians
  PJ_CONTEXT *ctx = proj_context_create();
  zyb_test::TempDir dir;
  std::string image = dir / "map.zyb";
  std::string stream;
};

Fixture &fx() {
  static Fixture f;
  return f;
}

void make_points() {
  Fixture &f = fx();
  for (int i = 0; i < kSide; i++) {
    for (int j = 0; j < kSide; j++) {
      f.lat.push_back(20.0f + 50.0f * i / kSide);
      f.lon.push_back(-140.0f + 80.0f * j / kSide);
    }
  }
  f.x.resize(f.lat.size());
  f.y.resize(f.lat.size());
  for (size_t k = 0; k < f.lat.size(); k++) {
    f.rad_x.push_back(proj_torad(f.lon[k]));
    f.rad_y.push_back(proj_torad(f.lat[k]));
  }
}

void BM_map_tran(benchmark::State &state, const Case *c) {
  Fixture &f = fx();
  MAP_domain(&c->domain);
  for (auto _ : state) {
    for (size_t k = 0; k < f.lat.size(); k++) MAP_tran(&f.x[k], &f.y[k], f.lat[k], f.lon[k]);
    benchmark::ClobberMemory();
  }
}

void BM_proj(benchmark::State &state, const Case *c) {
  Fixture &f = fx();
  PJ *pj = proj_create(f.ctx, c->proj);
  if (pj == nullptr) {
    state.SkipWithError("proj_create failed");
    return;
  }
  const size_t n = f.lat.size();
  for (auto _ : state) {
    state.PauseTiming();
    f.px = f.rad_x;
    f.py = f.rad_y;
    state.ResumeTiming();
    proj_trans_generic(pj, PJ_FWD, f.px.data(), sizeof(double), n, f.py.data(), sizeof(double), n, nullptr, 0, 0,
                       nullptr, 0, 0);
    benchmark::ClobberMemory();
  }
  proj_destroy(pj);
}

double largest_difference(const Case &c) {
  Fixture &f = fx();
  MAP_domain(&c.domain);
  double worst = 0;
  for (size_t k = 0; k < f.lat.size(); k++) {
    double x = 0, y = 0;
    MAP_tran(&f.x[k], &f.y[k], f.lat[k], f.lon[k]);
    MAP_tran_d(&x, &y, f.lat[k], f.lon[k]);
    worst = std::max({worst, std::fabs(f.x[k] - f.px[k] / 1e5), std::fabs(f.y[k] - f.py[k] / 1e5),
                      std::fabs(x - f.px[k] / 1e5), std::fabs(y - f.py[k] / 1e5)});
  }
  return worst;
}

void make_image() {
  Fixture &f = fx();
  std::vector<unsigned char> levels = zyb_test::radar_levels(kImage, kImage, 3);
  for (unsigned char &v : levels) v = static_cast<unsigned char>(v ? v + 16 : 0);
  uLongf size = compressBound(levels.size());
  f.stream.resize(size);
  compress2(reinterpret_cast<Bytef *>(f.stream.data()), &size, levels.data(), levels.size(), 6);
  f.stream.resize(size);
  zyb_test::write_bytes(f.image, "ZYBIMGZ\n12Z 07 MAR 06\nRadar\n" + std::to_string(kImage) + " " +
                                     std::to_string(kImage) + "\n" + f.stream);
}

void BM_native_read(benchmark::State &state) {
  for (auto _ : state) {
    ImageRecord img;
    if (IMG_read(fx().image.c_str(), &img, 0) != 1) state.SkipWithError("IMG_read failed");
    benchmark::DoNotOptimize(img.data);
    IMG_free(&img);
  }
}

void BM_bare_inflate(benchmark::State &state) {
  const std::string &stream = fx().stream;
  for (auto _ : state) {
    uLongf size = static_cast<uLongf>(kImage) * kImage;
    auto *out = static_cast<Bytef *>(std::malloc(size));
    if (uncompress(out, &size, reinterpret_cast<const Bytef *>(stream.data()), stream.size()) != Z_OK)
      state.SkipWithError("uncompress failed");
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
}

}  // namespace

int main(int argc, char **argv) {
  MESS_set(0, 0);
  make_points();
  make_image();
  for (const Case &c : kCases) {
    benchmark::RegisterBenchmark((std::string("BM_map_tran/") + c.name).c_str(), BM_map_tran, &c)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("BM_proj/") + c.name).c_str(), BM_proj, &c)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("BM_native_read", BM_native_read)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("BM_bare_inflate", BM_bare_inflate)->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  zyb_bench::RatioReporter reporter(zyb_bench::RatioReporter::Clock::Cpu);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const Case &c : kCases) {
    // The last PROJ run left its points in the fixture.
    const std::string name = c.name;
    Fixture &f = fx();
    PJ *pj = proj_create(f.ctx, c.proj);
    f.px = f.rad_x;
    f.py = f.rad_y;
    proj_trans_generic(pj, PJ_FWD, f.px.data(), sizeof(double), f.px.size(), f.py.data(), sizeof(double), f.py.size(),
                       nullptr, 0, 0, nullptr, 0, 0);
    proj_destroy(pj);
    double ratio = reporter.time_of("BM_proj/" + name) / reporter.time_of("BM_map_tran/" + name);
    std::printf("%s: PROJ/MAP_tran time ratio %.2f %s, largest difference %.3g (100 km units)\n", c.name, ratio,
                ratio >= 3.0 ? "ok" : "SLOWER THAN TARGET", largest_difference(c));
  }
  double load = reporter.time_of("BM_native_read") / reporter.time_of("BM_bare_inflate");
  std::printf("native image read/bare inflate time ratio %.3f %s (stream %zu bytes)\n", load,
              load <= 1.5 ? "ok" : "SLOWER THAN TARGET", fx().stream.size());
  benchmark::Shutdown();
  proj_context_destroy(fx().ctx);
  return 0;
}
