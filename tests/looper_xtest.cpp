// End-to-end tests of the looper with a window, on a private Xvfb: the real
// zorazez driven through animctl and the keyboard, its window read back
// through Xlib and its saved images decoded by ImageMagick.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "image_util.h"
#include "looper_util.h"
#include "xvfb_env.h"

namespace {

using namespace zyb_test;

WindowRange depth_windows() { return depth_slice(870, 10, test_depth()); }

// The fields of a window information line "+root:drawable[:WxH[:cmap]]";
// fields counts the numbers read.
struct WindowInfo {
  int fields = 0;
  unsigned long root = 0, drawable = 0, cmap = 0;
  int width = 640, height = 512;
};

WindowInfo parse_info(const std::string &line) {
  WindowInfo info;
  info.fields = std::sscanf(line.c_str(), "+%lu:%lu:%dx%d:%lu", &info.root, &info.drawable, &info.width, &info.height,
                            &info.cmap);
  return info;
}

std::pair<unsigned, unsigned> size_of(unsigned long drawable) {
  Window root;
  int x, y;
  unsigned int width = 0, height = 0, border, depth;
  XSync(user_display(), False);
  XGetGeometry(user_display(), drawable, &root, &x, &y, &width, &height, &border, &depth);
  return {width, height};
}

bool near(const Picture &p, int x, int y, Rgb want) {
  if (x >= p.width || y >= p.height) return false;
  const Rgb got = p.at(x, y);
  return std::abs(got.r - want.r) <= 24 && std::abs(got.g - want.g) <= 24 && std::abs(got.b - want.b) <= 24;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size() - 1);
    lines.push_back(text.substr(start, end - start + 1));
  }
  return lines;
}

// A GIF of w x h: the left colour on the left half, blue on the right.
std::string make_gif(const TempDir &dir, const std::string &name, int w, int h, const std::string &left = "red") {
  const std::string rect =
      "rectangle " + std::to_string(w / 2) + ",0 " + std::to_string(w - 1) + "," + std::to_string(h - 1);
  run_magick(
      {"-size", std::to_string(w) + "x" + std::to_string(h), "xc:" + left, "-fill", "blue", "-draw", rect, dir / name});
  return dir / name;
}

// Frame numbers shown in the window title over some time, repeats collapsed.
std::vector<int> frames_shown(unsigned long window, double seconds) {
  std::vector<int> frames;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (int frame; std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(15)))
    if (std::sscanf(window_title(window).c_str(), "Lp [%d]", &frame) == 1 && (frames.empty() || frames.back() != frame))
      frames.push_back(frame);
  return frames;
}

TEST(LooperWindow, OpenCreateAndQueryDescribeTheWindowAndReturnEndsTheLooperWithItsQueue) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  const std::vector<std::string> replies =
      lines_of(looper.ctl({"OPEN;op;qu wi;cr;cr pix;qu num;qu la;go 0;de;qu num"}));
  ASSERT_EQ(replies.size(), 10u) << ::testing::PrintToString(replies);
  EXPECT_EQ(replies[0], "Window opened\n");
  EXPECT_EQ(replies[1], "Window already opened\n");
  const WindowInfo info = parse_info(replies[2]);
  ASSERT_GE(info.fields, 2);
  EXPECT_EQ(size_of(info.root), std::make_pair(640u, 512u));
  EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(640, 512));
  EXPECT_EQ(info.fields == 5, info.cmap != 0);
  EXPECT_EQ(replies[3], "Created pixmap\n");
  const WindowInfo pix = parse_info(replies[4]);
  EXPECT_EQ(pix.root, info.root);
  EXPECT_NE(pix.drawable, info.drawable);
  EXPECT_EQ(size_of(pix.drawable), std::make_pair(640u, 512u)) << "the reply names the new frame's pixmap";
  EXPECT_EQ(std::vector<std::string>(replies.begin() + 5, replies.end()),
            (std::vector<std::string>{"2\n", "1\n", "Frame set to: 0\n", "Deleted curent frame\n", "1\n"}));
  // Return in the window ends the looper and takes its queue along.
  XEvent event{};
  event.xkey.type = KeyPress;
  event.xkey.window = info.root;
  event.xkey.root = DefaultRootWindow(user_display());
  event.xkey.same_screen = True;
  event.xkey.keycode = XKeysymToKeycode(user_display(), XK_Return);
  XSendEvent(user_display(), info.root, False, KeyPressMask, &event);
  XSync(user_display(), False);
  EXPECT_EQ(looper.process().wait_exit(5), 0);
  EXPECT_FALSE(queue_exists(looper.window())) << looper.errors();
}

TEST(LooperWindow, LoadedImageSavesAsGifPngAndXwdAndSavesAreNamedAfterTheTitleOrByTheTemplate) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  const std::string gif = make_gif(looper.dir(), "in.gif", 64, 48);
  EXPECT_EQ(looper.ctl({"cr;ld 0 " + gif + " 10,20"}), "Created pixmap\nLoaded image: " + gif + "\n");
  for (const std::string type : {"gif", "png", "xwd"}) {
    const std::string out = looper.dir() / ("frame0." + type);
    ASSERT_EQ(looper.ctl({"se out " + type + ";sa 0 " + out}),
              "Image output type set to: " + type + "\nSaved frame 0 in: " + out + "\n");
    const Picture p = magick_decode(out);
    EXPECT_EQ(std::make_pair(p.width, p.height), std::make_pair(640, 512)) << type;
    // ImageMagick reads the 16-byte colour entries of our dumps as 12-byte
    // ones: it gets the colours of a colour-mapped (8-bit) dump wrong.
    if (type == "xwd" && test_depth() == 8) continue;
    EXPECT_TRUE(near(p, 10 + 5, 20 + 5, {255, 0, 0})) << type << ": red half at its position";
    EXPECT_TRUE(near(p, 10 + 40, 20 + 40, {0, 0, 255})) << type << ": blue half";
    EXPECT_TRUE(near(p, 300, 300, {0, 0, 0})) << type << ": background outside the image";
  }

  // Saves without a name are named after the title.
  EXPECT_EQ(looper.ctl({"se na RadarLoop;cr;cr;stop;se out png"}),
            "Window name set to: RadarLoop\nCreated pixmap\nCreated pixmap\nLoop stopped\n"
            "Image output type set to: png\n");
  EXPECT_EQ(
      looper.ctl({"sa", "all"}),
      "Saved frame 0 in: Radar_00.png\nSaved frame 1 in: Radar_01.png\nSaved frame 2 in: Radar_02.png\nSave done\n");
  for (const char *name : {"Radar_00.png", "Radar_01.png", "Radar_02.png"})
    EXPECT_EQ(magick_decode(looper.dir() / name).width, 640) << name;
  EXPECT_EQ(looper.ctl({"sa la;se out gif;sa wi"}),
            "Saved last frame in: Radar.png\nImage output type set to: gif\nSaved window in: Radar.gif\n");
  EXPECT_EQ(magick_decode(looper.dir() / "Radar.gif").height, 512);

  const std::time_t before = std::time(nullptr);
  const std::string reply = looper.ctl({"sa", "wi", looper.dir() / "%Y%m%d_%h%n_%i_%p.gif"});
  bool matched = false;
  for (const std::time_t t : {before, std::time(nullptr)}) {
    std::tm utc{};
    gmtime_r(&t, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M", &utc);
    const std::string name = looper.dir() / (std::string(stamp) + "_win_RadarLoop.gif");
    if (reply == "Saved window in: " + name + "\n") matched = magick_decode(name).width == 640;
  }
  EXPECT_TRUE(matched) << reply;
}

TEST(LooperWindow, LoopShowsTheFramesInTheDirectionsOrder) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  const std::vector<std::string> setup = lines_of(looper.ctl({"se na Lp;cr;cr;cr;se de 0.2;se pa 0.2;qu wi"}));
  ASSERT_EQ(setup.size(), 7u);
  const unsigned long root = parse_info(setup[6]).root;
  auto follows = [](const std::vector<int> &shown, int step) {
    for (size_t i = 1; i < shown.size(); i++)
      if (shown[i] != (shown[i - 1] + step) % 3) return false;
    return shown.size() >= 5;
  };
  std::vector<int> shown = frames_shown(root, 1.5);
  EXPECT_TRUE(follows(shown, 1)) << ::testing::PrintToString(shown);
  EXPECT_EQ(looper.ctl({"se", "di", "back"}), "Loop direction set to: back\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  shown = frames_shown(root, 1.5);
  EXPECT_TRUE(follows(shown, 2)) << ::testing::PrintToString(shown);
  EXPECT_EQ(looper.ctl({"stop"}), "Loop stopped\n");
  EXPECT_EQ(frames_shown(root, 0.8).size(), 1u);
  EXPECT_EQ(looper.ctl({"go", "1"}), "Frame set to: 1\n");
  EXPECT_TRUE(eventually([&] { return window_title(root) == "Lp [1]"; }, 2.0)) << window_title(root);
  // An explicit step goes forward whatever the direction.
  EXPECT_EQ(looper.ctl({"step"}), "Frame incremented to: 2\n");
}

TEST(LooperWindow, StartUpImagesBecomeFramesOfTheirSizeAfterTheCommandResource) {
  TempDir images;
  const std::string a = make_gif(images, "a.gif", 120, 90, "red"), b = make_gif(images, "b.gif", 120, 90, "lime");
  Looper looper(depth_windows(), {"-wn", "%W", "-cd", "se na CmdTitle;se out png", a, b});
  ASSERT_TRUE(looper.ready());
  const std::vector<std::string> replies = lines_of(looper.ctl({"qu num;qu wi"}));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0], "2\n");
  const WindowInfo info = parse_info(replies[1]);
  EXPECT_EQ(std::make_pair(info.width, info.height), std::make_pair(120, 90));
  // The images come after the commands: the first one names the window.
  EXPECT_EQ(window_title(info.root).rfind("GIF", 0), 0u) << window_title(info.root);
  const std::string s0 = looper.dir() / "s0.png", s1 = looper.dir() / "s1.png";
  ASSERT_EQ(looper.ctl({"sa 0 " + s0 + ";sa 1 " + s1}), "Saved frame 0 in: " + s0 + "\nSaved frame 1 in: " + s1 + "\n");
  EXPECT_EQ(read_bytes(s0).substr(1, 3), "PNG") << "the output type the command set";
  const Picture p0 = magick_decode(s0), p1 = magick_decode(s1);
  EXPECT_EQ(p0.width, 120);
  EXPECT_TRUE(near(p0, 5, 5, {255, 0, 0}));
  EXPECT_TRUE(near(p1, 5, 5, {0, 255, 0}));
  EXPECT_TRUE(near(p1, 100, 80, {0, 0, 255}));
}

TEST(LooperWindow, NegativeHugeAndHostileWordsLoseNoFrame) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  ASSERT_EQ(looper.ctl({"cr;cr;cr"}), "Created pixmap\nCreated pixmap\nCreated pixmap\n");
  const std::string mark = looper.dir() / "ran";
  for (const std::string &record :
       {std::string("cl -1;go -5;go 99999999999;sa -2;ld -1 x.gif;se dr -3;se de -9 1;ov -2 x.gif"),
        std::string("cl 500;se dr 99999;step;ld 0 /dev/zero;co /dev/zero;se si 99999x99999;sa wi |cat"),
        "ld 0 |touch${IFS}" + mark + ";sa wi |touch${IFS}" + mark})
    EXPECT_EQ(lines_of(looper.ctl({record})).size(), std::count(record.begin(), record.end(), ';') + 1u) << record;
  EXPECT_EQ(looper.ctl({"qu", "num"}), "3\n");
  EXPECT_TRUE(looper.process().running());
  EXPECT_FALSE(std::ifstream(mark).good()) << "a client's file name ran a command";
}

// The batch run of a named window opens the window itself: its line, with
// real ids, is printed once and written to the file named by the window.
TEST(LooperWindow, BatchRunOpensPrintsTheWindowLineOnceAndDetaches) {
  TempDir dir;
  std::string out, err;
  // "kill" ends the detached process right after the start-up.
  EXPECT_EQ(run({bin("zorazez"), "-ba", "-wn", "radar", "-fp", dir.path(), "-cd", "kill"}, &out, &err), 0) << err;
  const WindowInfo info = parse_info(out);
  EXPECT_GE(info.fields, 2) << out;
  EXPECT_NE(info.root, 0u) << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << "exactly one line: " << out;
  EXPECT_TRUE(eventually([&] { return read_file(dir / "radar") == out; })) << read_file(dir / "radar");
}

}  // namespace
