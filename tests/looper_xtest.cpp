// End-to-end tests of the looper with a window, on a private Xvfb: the real
// zorazez driven through animctl, its window read back through Xlib and its
// saved images decoded by ImageMagick.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "looper_util.h"
#include "xvfb_env.h"

namespace {

using zyb_test::bin;
using zyb_test::eventually;
using zyb_test::read_file;
using zyb_test::run;
using zyb_test::TempDir;
using zyb_test::WindowRange;

const char kConvert[] = "/usr/bin/convert";

// Each depth runs as its own ctest entry, maybe at the same time as the
// others: each depth has its own ten window numbers.
WindowRange depth_windows() {
  const int depth = zyb_test::test_depth();
  const int first = depth == 24 ? 870 : depth == 16 ? 880 : 890;
  return {first, first + 9};
}

// Loopers of this binary: on this depth's windows, with the words after
// "-wn <window>".
class Looper : public zyb_test::Looper {
 public:
  explicit Looper(const std::vector<std::string> &extra = {})
      : zyb_test::Looper(depth_windows(), with_window_option(extra)) {}

 private:
  static std::vector<std::string> with_window_option(const std::vector<std::string> &extra) {
    std::vector<std::string> options = {"-wn", "%W"};
    options.insert(options.end(), extra.begin(), extra.end());
    return options;
  }
};

// The fields of a window information line "+root:drawable[:WxH[:cmap]]".
struct WindowInfo {
  int fields = 0;
  unsigned long root = 0, drawable = 0, cmap = 0;
  int width = 640, height = 512;
};

WindowInfo parse_info(const std::string &line) {
  WindowInfo info;
  int n = std::sscanf(line.c_str(), "+%lu:%lu:%dx%d:%lu", &info.root, &info.drawable, &info.width,
                      &info.height, &info.cmap);
  info.fields = n == 4 ? 3 : n == 5 ? 4 : n;
  return info;
}

// A connection of the test's own to the Xvfb.
class XConnection {
 public:
  XConnection() : display_(XOpenDisplay(nullptr)) {}
  ~XConnection() {
    if (display_) XCloseDisplay(display_);
  }
  Display *get() const { return display_; }
  std::string name(unsigned long window) const {
    char *text = nullptr;
    std::string result;
    if (XFetchName(display_, window, &text) && text) result = text;
    if (text) XFree(text);
    return result;
  }
  bool size(unsigned long drawable, int *w, int *h) const {
    Window root;
    int x, y;
    unsigned int width, height, border, depth;
    XSync(display_, False);
    if (!XGetGeometry(display_, drawable, &root, &x, &y, &width, &height, &border, &depth))
      return false;
    *w = static_cast<int>(width);
    *h = static_cast<int>(height);
    return true;
  }

 private:
  Display *display_;
};

// A decoded image: RGB bytes through ImageMagick.
struct Picture {
  int width = 0, height = 0;
  std::string rgb;
  bool near(int x, int y, int r, int g, int b) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    if (i + 2 >= rgb.size()) return false;
    auto close = [](unsigned char v, int want) { return std::abs(static_cast<int>(v) - want) <= 24; };
    return close(rgb[i], r) && close(rgb[i + 1], g) && close(rgb[i + 2], b);
  }
};

// The PPM header: "P6", width, height, maximum, with "#" comments (the
// window name of an XWD file comes through as one) between the fields.
Picture decode(const std::string &file) {
  Picture p;
  std::string ppm;
  run({kConvert, file + "[0]", "-depth", "8", "ppm:-"}, &ppm);
  size_t at = 0;
  auto field = [&]() {
    for (;;) {
      while (at < ppm.size() && std::isspace(static_cast<unsigned char>(ppm[at]))) at++;
      if (at < ppm.size() && ppm[at] == '#') {
        at = ppm.find('\n', at);
        if (at == std::string::npos) at = ppm.size();
        continue;
      }
      break;
    }
    const size_t start = at;
    while (at < ppm.size() && !std::isspace(static_cast<unsigned char>(ppm[at]))) at++;
    return ppm.substr(start, at - start);
  };
  if (field() != "P6") return p;
  p.width = std::atoi(field().c_str());
  p.height = std::atoi(field().c_str());
  field();  // maximum value, 255 at depth 8
  if (at < ppm.size()) p.rgb = ppm.substr(at + 1);
  return p;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start + 1));
    start = end + 1;
  }
  return lines;
}

// A GIF of w x h: red on the left half, blue on the right.
std::string make_gif(const TempDir &dir, const std::string &name, int w, int h,
                     const std::string &left = "red") {
  const std::string path = dir / name;
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  const std::string rect = "rectangle " + std::to_string(w / 2) + ",0 " + std::to_string(w - 1) +
                           "," + std::to_string(h - 1);
  std::string out;
  run({kConvert, "-size", size, "xc:" + left, "-fill", "blue", "-draw", rect, path}, &out);
  return path;
}

// Window titles shown over some time, with repeats collapsed.
std::vector<int> frames_shown(const XConnection &x, unsigned long window, const std::string &title,
                              double seconds) {
  std::vector<int> frames;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    int frame = -1;
    const std::string name = x.name(window);
    if (std::sscanf(name.c_str(), (title + " [%d]").c_str(), &frame) == 1 &&
        (frames.empty() || frames.back() != frame))
      frames.push_back(frame);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  return frames;
}

TEST(LooperWindow, OpenCreateAndQueryDescribeTheWindow) {
  XConnection x;
  ASSERT_NE(x.get(), nullptr);
  Looper looper;
  ASSERT_TRUE(looper.ready());
  const std::vector<std::string> replies =
      lines_of(looper.ctl({"OPEN;op;qu wi;cr;cr pix;qu num;qu la;go 0;de;qu num"}));
  ASSERT_EQ(replies.size(), 10u) << ::testing::PrintToString(replies);
  EXPECT_EQ(replies[0], "Window opened\n");
  EXPECT_EQ(replies[1], "Window already opened\n");

  const WindowInfo info = parse_info(replies[2]);
  ASSERT_GE(info.fields, 2);
  int w = 0, h = 0;
  ASSERT_TRUE(x.size(info.root, &w, &h));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 512);
  EXPECT_EQ(info.width, 640);
  EXPECT_EQ(info.height, 512);
  EXPECT_EQ(info.fields == 4, info.cmap != 0);

  EXPECT_EQ(replies[3], "Created pixmap\n");
  const WindowInfo pix = parse_info(replies[4]);
  EXPECT_EQ(pix.root, info.root);
  EXPECT_NE(pix.drawable, info.drawable);
  ASSERT_TRUE(x.size(pix.drawable, &w, &h)) << "the reply names the new frame's pixmap";
  EXPECT_EQ(w, 640);
  EXPECT_EQ(replies[5], "2\n");
  EXPECT_EQ(replies[6], "1\n");
  EXPECT_EQ(replies[7], "Frame set to: 0\n");
  EXPECT_EQ(replies[8], "Deleted curent frame\n");
  EXPECT_EQ(replies[9], "1\n");
}

TEST(LooperWindow, LoadedImageSavesAsGifPngAndXwd) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  const std::string gif = make_gif(looper.dir(), "in.gif", 64, 48);
  EXPECT_EQ(looper.ctl({"cr;ld 0 " + gif + " 10,20"}), "Created pixmap\nLoaded image: " + gif + "\n");
  for (const std::string type : {"gif", "png", "xwd"}) {
    const std::string out = looper.dir() / ("frame0." + type);
    ASSERT_EQ(looper.ctl({"se out " + type + ";sa 0 " + out}),
              "Image output type set to: " + type + "\nSaved frame 0 in: " + out + "\n");
    const Picture p = decode(out);
    EXPECT_EQ(p.width, 640) << type;
    EXPECT_EQ(p.height, 512) << type;
    // The colour entries of our dumps are 16 bytes, ImageMagick reads 12:
    // it gets the colours of a colour-mapped (8-bit) dump wrong.
    if (type == "xwd" && zyb_test::test_depth() == 8) continue;
    EXPECT_TRUE(p.near(10 + 5, 20 + 5, 255, 0, 0)) << type << ": red half at its position";
    EXPECT_TRUE(p.near(10 + 40, 20 + 40, 0, 0, 255)) << type << ": blue half";
    EXPECT_TRUE(p.near(300, 300, 0, 0, 0)) << type << ": background outside the image";
  }
}

TEST(LooperWindow, SaveAllNamesTheFramesAfterTheTitle) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  EXPECT_EQ(looper.ctl({"se na RadarLoop;cr;cr;cr;stop;se out png"}),
            "Window name set to: RadarLoop\nCreated pixmap\nCreated pixmap\nCreated pixmap\n"
            "Loop stopped\nImage output type set to: png\n");
  EXPECT_EQ(looper.ctl({"sa", "all"}),
            "Saved frame 0 in: Radar_00.png\n"
            "Saved frame 1 in: Radar_01.png\n"
            "Saved frame 2 in: Radar_02.png\n"
            "Save done\n");
  for (const char *name : {"Radar_00.png", "Radar_01.png", "Radar_02.png"})
    EXPECT_EQ(decode(looper.dir() / name).width, 640) << name;
  EXPECT_EQ(looper.ctl({"sa la;se out gif;sa wi"}),
            "Saved last frame in: Radar.png\nImage output type set to: gif\nSaved window in: Radar.gif\n");
  EXPECT_EQ(decode(looper.dir() / "Radar.gif").height, 512);
}

std::string utc_stamp(std::time_t t) {
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d_%H%M", &utc);
  return text;
}

TEST(LooperWindow, SaveTemplateIsNamedByTheTimeOfTheSave) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  EXPECT_EQ(looper.ctl({"se na Radar;op"}), "Window name set to: Radar\nWindow opened\n");
  const std::time_t before = std::time(nullptr);
  const std::string reply = looper.ctl({"sa", "wi", looper.dir() / "%Y%m%d_%h%n_%i_%p.gif"});
  const std::time_t after = std::time(nullptr);
  bool matched = false;
  for (const std::time_t t : {before, after}) {
    const std::string name = looper.dir() / (utc_stamp(t) + "_win_Radar.gif");
    if (reply == "Saved window in: " + name + "\n") {
      matched = true;
      EXPECT_EQ(decode(name).width, 640);
    }
  }
  EXPECT_TRUE(matched) << reply;
}

TEST(LooperWindow, LoopShowsTheFramesInTheDirectionsOrder) {
  XConnection x;
  Looper looper;
  ASSERT_TRUE(looper.ready());
  const std::vector<std::string> setup =
      lines_of(looper.ctl({"se na Lp;cr;cr;cr;se de 0.2;se pa 0.2;qu wi"}));
  ASSERT_EQ(setup.size(), 7u);
  EXPECT_EQ(setup[4], "Loop delay set to: 0.2\n");
  EXPECT_EQ(setup[5], "Loop end pause set to: 0.2\n");
  const unsigned long root = parse_info(setup[6]).root;

  auto follows = [](const std::vector<int> &shown, int step) {
    if (shown.size() < 5) return false;
    for (size_t i = 1; i < shown.size(); i++)
      if (shown[i] != (shown[i - 1] + step) % 3) return false;
    return true;
  };
  const std::vector<int> forward = frames_shown(x, root, "Lp", 1.5);
  EXPECT_TRUE(follows(forward, 1)) << ::testing::PrintToString(forward);

  EXPECT_EQ(looper.ctl({"se", "di", "back"}), "Loop direction set to: back\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::vector<int> backward = frames_shown(x, root, "Lp", 1.5);
  EXPECT_TRUE(follows(backward, 2)) << ::testing::PrintToString(backward);

  EXPECT_EQ(looper.ctl({"se", "di", "alt"}), "Loop direction set to: alt\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::vector<int> alternating = frames_shown(x, root, "Lp", 2.0);
  // Back and forth: the ends turn round instead of wrapping.
  ASSERT_GE(alternating.size(), 5u);
  for (size_t i = 1; i < alternating.size(); i++) {
    const int before = alternating[i - 1], now = alternating[i];
    if (before != 1) {
      EXPECT_EQ(now, 1) << ::testing::PrintToString(alternating);
    } else if (i >= 2) {
      EXPECT_NE(now, alternating[i - 2]) << ::testing::PrintToString(alternating);
    }
  }

  EXPECT_EQ(looper.ctl({"stop"}), "Loop stopped\n");
  const std::vector<int> stopped = frames_shown(x, root, "Lp", 0.8);
  EXPECT_EQ(stopped.size(), 1u) << ::testing::PrintToString(stopped);
  EXPECT_EQ(looper.ctl({"go", "1"}), "Frame set to: 1\n");
  EXPECT_TRUE(eventually([&] { return x.name(root) == "Lp [1]"; }, 2.0)) << x.name(root);
  // An explicit step goes forward whatever the direction.
  EXPECT_EQ(looper.ctl({"step"}), "Frame incremented to: 2\n");
}

TEST(LooperWindow, StartupImagesBecomeFramesOfTheirSize) {
  TempDir images;
  const std::string a = make_gif(images, "a.gif", 120, 90, "red");
  const std::string b = make_gif(images, "b.gif", 120, 90, "lime");
  XConnection x;
  Looper looper({a, b});
  ASSERT_TRUE(looper.ready());
  const std::vector<std::string> replies = lines_of(looper.ctl({"qu num;qu wi;se out png"}));
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0], "2\n");
  const WindowInfo info = parse_info(replies[1]);
  EXPECT_EQ(info.width, 120);
  EXPECT_EQ(info.height, 90);
  EXPECT_EQ(x.name(info.root).rfind("GIF", 0), 0u) << "the first image names the window";
  const std::string s0 = looper.dir() / "s0.png", s1 = looper.dir() / "s1.png";
  ASSERT_EQ(looper.ctl({"sa 0 " + s0 + ";sa 1 " + s1}),
            "Saved frame 0 in: " + s0 + "\nSaved frame 1 in: " + s1 + "\n");
  const Picture p0 = decode(s0), p1 = decode(s1);
  EXPECT_EQ(p0.width, 120);
  EXPECT_TRUE(p0.near(5, 5, 255, 0, 0));
  EXPECT_TRUE(p1.near(5, 5, 0, 255, 0));
  EXPECT_TRUE(p1.near(100, 80, 0, 0, 255));
}

TEST(LooperWindow, CommandResourceRunsInOrderAtStartUp) {
  XConnection x;
  Looper looper({"-cd", "op;se na CmdTitle;cr;cr;stop"});
  ASSERT_TRUE(looper.ready());
  const std::vector<std::string> replies = lines_of(looper.ctl({"qu num;qu wi"}));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0], "2\n");
  const WindowInfo info = parse_info(replies[1]);
  EXPECT_EQ(x.name(info.root).rfind("CmdTitle", 0), 0u) << x.name(info.root);
  EXPECT_EQ(looper.ctl({"loop"}), "Loop started\n");
}

TEST(LooperWindow, NegativeHugeAndHostileWordsLoseNoFrame) {
  Looper looper;
  ASSERT_TRUE(looper.ready());
  ASSERT_EQ(looper.ctl({"cr;cr;cr"}), "Created pixmap\nCreated pixmap\nCreated pixmap\n");
  const std::string pipe_mark = looper.dir() / "ran";
  const std::vector<std::string> records = {
      "cl -1;go -5;go 99999999999;sa -2;ld -1 x.gif;se dr -3;se de -9 1;ov -2 x.gif",
      "cl 500;se dr 99999;step;ld 0 /dev/zero;co /dev/zero;se si 99999x99999;sa wi |cat",
      "ld 0 |touch " + pipe_mark,
  };
  for (const std::string &record : records) {
    const size_t commands = static_cast<size_t>(std::count(record.begin(), record.end(), ';')) + 1;
    EXPECT_EQ(lines_of(looper.ctl({record})).size(), commands) << record;
  }
  EXPECT_EQ(looper.ctl({"qu", "num"}), "3\n");
  EXPECT_TRUE(looper.process().running());
  EXPECT_FALSE(std::ifstream(pipe_mark).good()) << "a client's file name ran a command";
}

TEST(LooperWindow, BatchRunPrintsTheWindowLineOnceAndDetaches) {
  XConnection x;
  TempDir dir;
  std::string out, err;
  // "kill" ends the detached process right after the start-up.
  EXPECT_EQ(run({bin("zorazez"), "-ba", "-wn", "radar", "-fp", dir.path(), "-cd", "op;kill"}, &out,
                &err),
            0)
      << err;
  const WindowInfo info = parse_info(out);
  EXPECT_GE(info.fields, 2) << out;
  EXPECT_NE(info.root, 0u);
  EXPECT_EQ(out.find('\n'), out.size() - 1) << "exactly one line: " << out;
  EXPECT_TRUE(eventually([&] { return read_file(dir / "radar") == out; }));
}

}  // namespace
