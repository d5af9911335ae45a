// Writes the frames of the demo loop: radar-like pictures of a storm that
// moves across a gridded backdrop and grows, coloured with the reflectivity
// ramp of the default colour table, as GIF files.
//
//   demo_frames DIR [COUNT [WIDTHxHEIGHT]]
//
// Files are named radar_00.gif, radar_01.gif, ... in DIR. Each line of the
// output names a file and the time of its frame ("radar_03.gif 12:30"), one
// scan every ten minutes from noon, which the demo draws onto the frame.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gks/colors.h"
#include "image/gif.h"
#include "image/img_tool.h"

namespace {

// Indices of the default colour table this picture uses.
constexpr int kBackdrop = 0;    // black
constexpr int kGridMinor = 8;   // dgray
constexpr int kGridMajor = 9;   // gray
constexpr int kCoast = 14;      // dgreen
constexpr int kRampFirst = 16;  // dbz05
constexpr int kRampLast = 30;   // dbz75

constexpr int kFirstScanMinute = 12 * 60;
constexpr int kScanMinutes = 10;

struct Storm {
  double cx, cy;  // centre in pixels
  double rx, ry;  // radii of the outer edge
  double peak;    // strongest level, 0..1 of the ramp
};

// A smooth, repeatable texture in 0..1, so cells look like precipitation.
double texture(int x, int y, int frame) {
  double a = std::sin(x * 0.071 + frame * 0.35) * std::cos(y * 0.053 - frame * 0.21);
  double b = std::sin((x + y) * 0.029 + frame * 0.17);
  return 0.5 + 0.3 * a + 0.2 * b;
}

int backdrop_at(int x, int y, int width, int height) {
  // A wavy coast line across the lower third.
  int coast = static_cast<int>(height * 0.7 + 18 * std::sin(x * 0.02));
  if (y == coast || y == coast + 1) return kCoast;
  if (x % 128 == 0 || y % 128 == 0) return kGridMajor;
  if (x % 32 == 0 && y % 4 == 0) return kGridMinor;
  if (y % 32 == 0 && x % 4 == 0) return kGridMinor;
  return kBackdrop;
}

int storm_at(const Storm &s, int x, int y, int frame) {
  double dx = (x - s.cx) / s.rx, dy = (y - s.cy) / s.ry;
  double r = std::sqrt(dx * dx + dy * dy);
  if (r >= 1.0) return -1;
  double level = s.peak * (1.0 - r) * (0.75 + 0.5 * texture(x, y, frame));
  if (level < 0.08) return -1;
  int steps = kRampLast - kRampFirst;
  int index = kRampFirst + static_cast<int>(level * steps);
  return index > kRampLast ? kRampLast : index;
}

// The time of a frame's scan, "HH:MM".
std::string scan_time(int frame) {
  const int minute = (kFirstScanMinute + kScanMinutes * frame) % (24 * 60);
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", minute / 60, minute % 60);
  return text;
}

bool write_frame(const std::string &path, int frame, int count, int width, int height) {
  ImageRecord img;
  IMG_init(&img);
  img.width = width;
  img.height = height;
  img.depth = 8;
  img.bits_per_pixel = 8;
  img.bytes_per_line = width;
  img.color_type = 1;
  int ncolors = CLR_get_num();
  if (ncolors <= kRampLast || !IMG_alloc_colors(&img, ncolors) || !IMG_alloc_pixels(&img)) {
    IMG_free(&img);
    return false;
  }
  for (int i = 0; i < ncolors; ++i) CLR_get_rgb(i, &img.colors[i].red, &img.colors[i].green, &img.colors[i].blue);

  double t = count > 1 ? static_cast<double>(frame) / (count - 1) : 0.0;
  Storm main{width * (0.2 + 0.55 * t), height * (0.65 - 0.35 * t), width * (0.08 + 0.10 * t),
             height * (0.07 + 0.09 * t), 0.55 + 0.45 * t};
  Storm trailing{main.cx - width * 0.12, main.cy + height * 0.10, main.rx * 0.5, main.ry * 0.6, 0.4 + 0.2 * t};
  for (int y = 0; y < height; ++y) {
    unsigned char *row = img.data + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      int c = storm_at(main, x, y, frame);
      if (c < 0) c = storm_at(trailing, x, y, frame);
      row[x] = static_cast<unsigned char>(c < 0 ? backdrop_at(x, y, width, height) : c);
    }
  }
  IMG_set_info(&img, ("Demo radar loop " + scan_time(frame)).c_str());
  int ok = GIF_write(path.c_str(), &img);
  IMG_free(&img);
  return ok == 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [COUNT [WIDTHxHEIGHT]]\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  int count = argc > 2 ? std::atoi(argv[2]) : 12;
  int width = 640, height = 512;
  if (argc > 3 && std::sscanf(argv[3], "%dx%d", &width, &height) != 2) {
    std::fprintf(stderr, "%s: size must be WIDTHxHEIGHT\n", argv[0]);
    return 2;
  }
  if (count < 1 || count > 128 || width < 16 || height < 16 || width > 4096 || height > 4096) {
    std::fprintf(stderr, "%s: 1 to 128 frames of 16x16 to 4096x4096\n", argv[0]);
    return 2;
  }
  if (CLR_read_table(nullptr) < 0 || CLR_get_num() <= kRampLast) {
    std::fprintf(stderr, "%s: the default colour table was not found\n", argv[0]);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "radar_%02d.gif", i);
    std::string path = dir + "/" + name;
    if (!write_frame(path, i, count, width, height)) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
      return 1;
    }
    std::printf("%s %s\n", path.c_str(), scan_time(i).c_str());
  }
  return 0;
}
