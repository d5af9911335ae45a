// Live loops end to end: the real zorazez watching a directory that the test
// fills (slowly, in pieces, by rename), loading animated GIFs that
// ImageMagick made, and exporting its loop as one animated GIF that
// ImageMagick decodes. What is on screen is read back through Xlib.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "image/gif.h"
#include "image_util.h"
#include "looper_util.h"
#include "xvfb_env.h"

namespace {

using namespace zyb_test;

WindowRange depth_windows() { return depth_slice(640, 10, test_depth()); }

const Rgb kColours[] = {{255, 0, 0},   {0, 255, 0},     {0, 0, 255},   {255, 255, 0},   {255, 0, 255},
                        {0, 255, 255}, {255, 255, 255}, {255, 128, 0}, {128, 128, 128}, {128, 0, 255}};

// The colour at (2, 2) of a drawable (the window or a frame's pixmap), as
// the index of the nearest test colour (-1: none).
int colour_at(unsigned long drawable, unsigned long window) {
  XSync(user_display(), False);
  XWindowAttributes attributes{};
  XGetWindowAttributes(user_display(), window, &attributes);
  XImage *image = XGetImage(user_display(), drawable, 2, 2, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return -1;
  XColor c{};
  c.pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  XQueryColor(user_display(), attributes.colormap, &c);
  for (int i = 0; i < 10; i++)
    if (std::abs((c.red >> 8) - kColours[i].r) < 24 && std::abs((c.green >> 8) - kColours[i].g) < 24 &&
        std::abs((c.blue >> 8) - kColours[i].b) < 24)
      return i;
  return -1;
}
int shown_colour(unsigned long window) { return colour_at(window, window); }

// A 32 x 24 GIF of one test colour.
std::string solid_gif(const TempDir &scratch, int colour) {
  Record img;
  make_indexed(&img, 32, 24, std::vector<unsigned char>(32 * 24, 0), 1);
  img.colors[0] = {kColours[colour].r / 255.0f, kColours[colour].g / 255.0f, kColours[colour].b / 255.0f};
  const std::string path = scratch / "solid.gif";
  GIF_write(path.c_str(), &img);
  return read_bytes(path);
}

unsigned long window_of(const Looper &looper) {
  unsigned long root = 0;
  std::sscanf(looper.ctl({"qu wi"}).c_str(), "+%lu", &root);
  return root;
}

// The colour of every frame, read from the pixmaps that "se dr" and
// "qu wi" name, leaving the screen alone.
std::vector<int> frame_colours(const Looper &looper, unsigned long window) {
  std::string record;
  for (int f = 0, n = std::atoi(looper.ctl({"qu num"}).c_str()); f < n; f++)
    record += "se dr " + std::to_string(f) + ";qu wi;";
  std::vector<int> colours;
  const std::string replies = record.empty() ? "" : looper.ctl({record});
  unsigned long root = 0, pixmap = 0;
  for (size_t at = 0; (at = replies.find("\n+", at)) != std::string::npos; at++)
    if (std::sscanf(replies.c_str() + at + 1, "+%lu:%lu", &root, &pixmap) == 2)
      colours.push_back(colour_at(pixmap, window));
  return colours;
}

void set_age(const std::string &path, int seconds_ago) {
  const timespec t[2] = {{std::time(nullptr) - seconds_ago, 0}, {std::time(nullptr) - seconds_ago, 0}};
  utimensat(AT_FDCWD, path.c_str(), t, 0);
}

// The same story with inotify and with the listing that stands in for it.
class LiveWatch : public ::testing::TestWithParam<bool> {};

TEST_P(LiveWatch, OnlyCompleteFilesJoinTheOldestLeaveAndAStepperKeepsHisPicture) {
  const bool polling = GetParam();
  if (polling) setenv("zybwatch_poll", "1", 1);
  Looper looper(depth_windows());
  unsetenv("zybwatch_poll");
  ASSERT_TRUE(looper.ready());
  TempDir dir, scratch;
  // Name order and age differ: f0 is the newest, f1 the oldest.
  for (int i = 0; i < 5; i++) {
    write_bytes(dir / ("f" + std::to_string(i) + ".gif"), solid_gif(scratch, i));
    set_age(dir / ("f" + std::to_string(i) + ".gif"), i == 0 ? 10 : 100 - i);
  }
  write_bytes(dir / "notes.txt", "not a frame");
  EXPECT_EQ(looper.ctl({"se na Live;wa " + dir.path() + " *.gif keep 4"}),
            "Window name set to: Live\nWatching " + dir.path() + " for *.gif, keeping 4 frames\n");
  const unsigned long window = window_of(looper);
  looper.ctl({"stop"});
  EXPECT_EQ(frame_colours(looper, window), (std::vector<int>{0, 2, 3, 4})) << "the newest four in name order";

  // Written in three pieces with pauses longer than two listings.
  const std::string bytes = solid_gif(scratch, 5);
  FILE *slow = std::fopen((dir / "f5.gif").c_str(), "wb");
  for (size_t piece = 0; piece < 3; piece++) {
    const size_t begin = piece * bytes.size() / 3, end = (piece + 1) * bytes.size() / 3;
    std::fwrite(bytes.data() + begin, 1, end - begin, slow);
    std::fflush(slow);
    if (piece == 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(polling ? 1200 : 400));
    EXPECT_EQ(frame_colours(looper, window), (std::vector<int>{0, 2, 3, 4})) << "half-written, piece " << piece;
    EXPECT_EQ(looper.errors().find("f5.gif"), std::string::npos) << "not even tried";
  }
  std::fclose(slow);
  EXPECT_TRUE(eventually([&] {
    return frame_colours(looper, window) == std::vector<int>{2, 3, 4, 5};
  })) << looper.errors();
  write_bytes(dir / ".f6.part", solid_gif(scratch, 6));
  std::rename((dir / ".f6.part").c_str(), (dir / "f6.gif").c_str());
  EXPECT_TRUE(eventually([&] { return frame_colours(looper, window) == std::vector<int>{3, 4, 5, 6}; }));

  // A user stepping on frame 1 who draws into frame 2.
  const std::string target = looper.ctl({"go 1;se dr 2;qu wi"});
  write_bytes(dir / "f7.gif", solid_gif(scratch, 7));
  EXPECT_TRUE(eventually([&] { return window_title(window) == "Live [0]"; })) << "the number changes";
  EXPECT_EQ(shown_colour(window), 4) << "the picture does not";
  EXPECT_EQ("Frame set to: 1\nDraw window set to 2\n" + looper.ctl({"qu wi"}), target)
      << "the draw target stays with its picture";
  EXPECT_EQ(looper.ctl({"step"}), "Frame incremented to: 1\n");
  EXPECT_EQ(shown_colour(window), 5);

  EXPECT_EQ(looper.ctl({"qu wa;wa off;qu wa"}),
            "Watching " + dir.path() + " for *.gif, keeping 4 frames\nWatch stopped\nNo watch\n");
  write_bytes(dir / "f8.gif", solid_gif(scratch, 8));
  std::this_thread::sleep_for(std::chrono::milliseconds(polling ? 1200 : 400));
  EXPECT_EQ(frame_colours(looper, window), (std::vector<int>{4, 5, 6, 7}));
}

INSTANTIATE_TEST_SUITE_P(Notice, LiveWatch, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Polling" : "Inotify"; });

TEST(LiveWatchInput, SpecialVanishingAndDamagedFilesAreSkippedAndALostDirectoryEndsTheWatch) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  TempDir scratch;
  auto dir = std::make_unique<TempDir>();
  const std::string d = dir->path();
  EXPECT_EQ(looper.ctl({"wa;wa " + d + " keep 0;wa " + d + " *.gif keep 129 x;wa /no/such/dir"}),
            "Invalid watch command: wa\nInvalid watch command: wa " + d + " keep 0\nInvalid watch command: wa " + d +
                " *.gif keep 129 x\nUnable to watch: /no/such/dir\n");
  write_bytes(scratch / "plain", "x");
  EXPECT_EQ(looper.ctl({"wa " + scratch / "plain"}), "Unable to watch: " + scratch / "plain" + "\n");
  EXPECT_EQ(looper.ctl({"wa " + d + " *.nothing keep 5;qu num"}),
            "Watching " + d + " for *.nothing, keeping 5 frames\n0\n");
  EXPECT_EQ(looper.ctl({"wa " + d + " *.png *.xwd keep 9;wa " + d}),
            "Watching " + d + " for *.png *.xwd, keeping 9 frames\nWatching " + d +
                " for *.gif *.png *.xwd *.zyb, keeping 128 frames\n");

  mkfifo((scratch / "fifo").c_str(), 0600);
  EXPECT_EQ(symlink((scratch / "fifo").c_str(), (*dir / "fifo.gif").c_str()), 0);
  EXPECT_EQ(symlink("/dev/zero", (*dir / "zero.xwd").c_str()), 0);
  write_bytes(*dir / "bad.gif", "GIF89a but nothing after");
  write_bytes(*dir / "gone.gif", solid_gif(scratch, 1));
  std::rename((*dir / "gone.gif").c_str(), (*dir / "gone.txt").c_str());
  write_bytes(*dir / "a b\nc.gif", solid_gif(scratch, 2));
  ASSERT_TRUE(run_magick({"-size", "20x20", "xc:yellow", "PNG24:" + *dir / "ok.png"}));
  EXPECT_TRUE(eventually([&] { return looper.ctl({"qu num"}) == "2\n"; }));
  // gone.gif may be seen closed and moved away in one batch of events, so
  // only "2 frames" (not 3) proves it was never loaded.
  for (const char *message :
       {"fifo.gif: not a regular file", "zero.xwd: not a regular file", "bad.gif: not a readable image"})
    EXPECT_TRUE(eventually([&] { return looper.errors().find(message) != std::string::npos; }, 3)) << message;
  // A watch that keeps fewer frames than the loop holds drops the oldest at once.
  EXPECT_EQ(looper.ctl({"wa " + d + " *.nothing keep 1;qu num"}),
            "Watching " + d + " for *.nothing, keeping 1 frames\n1\n");

  dir.reset();
  EXPECT_TRUE(eventually([&] { return looper.ctl({"qu wa"}) == "No watch\n"; }));
  EXPECT_NE(looper.errors().find("Stopped watching " + d), std::string::npos) << looper.errors();
  EXPECT_EQ(looper.ctl({"qu num"}), "1\n") << "the frames as they were";
}

// ImageMagick's composition of every frame of a GIF: raw RGBA, frame after frame.
std::string coalesced(const std::string &gif) {
  std::string raw;
  run_magick({gif, "-coalesce", "-depth", "8", "rgba:-"}, &raw);
  return raw;
}

std::string delays_of(const std::string &gif) {
  std::string out;
  run({"/usr/bin/identify", "-format", "%T ", gif}, &out);
  return out;
}

// Pixels of a saved frame that are not near ImageMagick's opaque composition.
long misses(const Picture &ours, const std::string &rgba, int frame, int tolerance = 24) {
  const size_t n = static_cast<size_t>(ours.width) * ours.height;
  if (rgba.size() < (frame + 1) * n * 4 || ours.pixels.size() != n) return -1;
  long wrong = 0;
  for (size_t i = 0; i < n; i++) {
    const auto *p = reinterpret_cast<const unsigned char *>(&rgba[(frame * n + i) * 4]);
    const Rgb &q = ours.pixels[i];
    wrong += p[3] != 255 || std::abs(p[0] - q.r) > tolerance || std::abs(p[1] - q.g) > tolerance ||
             std::abs(p[2] - q.b) > tolerance;
  }
  return wrong;
}

// A GIF of count 1 x 1 images on a 4 x 4 screen; the last one lies off the
// screen and asks for a delay of eleven minutes.
std::string many_images(int count) {
  std::string g = std::string("GIF89a\x04\x00\x04\x00\x80\x00\x00", 13) + std::string("\xff\x00\x00\x00\x00\xff", 6);
  for (int i = 0; i < count; i++) {
    const bool last = i == count - 1;
    g += std::string("\x21\xf9\x04\x00", 4) + (last ? std::string("\xff\xff", 2) : std::string("\x05\x00", 2)) +
         std::string("\x00\x00\x2c", 3);
    g += last ? std::string("\x64\x00\x64\x00", 4) : std::string(4, '\0');
    g += std::string("\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00", 10);
  }
  return g + ";";
}

std::vector<std::string> words(const std::string &text, const std::string &last) {
  std::vector<std::string> out;
  for (size_t at = 0, end; at < text.size(); at = end + 1)
    out.push_back(text.substr(at, (end = std::min(text.find(' ', at), text.size())) - at));
  out.push_back(last);
  return out;
}

TEST(LiveAnimation, GifsLoadAsImageMagickComposesThemAndTheLoopExportsAndPausesAsOnScreen) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  const TempDir &dir = looper.dir();
  // Disposal to the previous picture and images smaller than the screen; and
  // what ImageMagick's optimiser makes of full frames (transparency, rectangles).
  ASSERT_TRUE(
      run_magick(words("-size 96x72 -dispose None -delay 20 xc:navy -dispose Previous -delay 35 -page +10+10 "
                       "-size 30x20 xc:red -dispose None -delay 50 -page +50+30 -size 40x30 xc:yellow "
                       "-delay 100 -page +5+40 -size 20x20 xc:lime",
                       dir / "paged.gif")));
  ASSERT_TRUE(
      run_magick(words("-size 96x72 -delay 20 xc:navy ( -clone 0 -size 31x21 xc:red -geometry +10+10 "
                       "-composite -set delay 35 ) ( -clone 1 -size 31x31 xc:yellow -geometry +50+30 "
                       "-composite -set delay 50 ) ( -clone 0 -size 26x26 xc:lime -geometry +5+40 -composite "
                       "-set delay 100 ) -layers Optimize",
                       dir / "optimized.gif")));
  std::vector<Picture> saved(4);
  looper.ctl({"se si 96x72;se na Anim;se out png"});
  for (const std::string name : {"paged.gif", "optimized.gif"}) {
    EXPECT_EQ(looper.ctl({"ld all " + dir / name}), "Loaded 4 frames from: " + dir / name + "\n");
    looper.ctl({"sa all " + dir / "f%i.png"});
    const std::string reference = coalesced(dir / name);
    for (int f = 0; f < 4; f++) {
      saved[f] = magick_decode(dir / ("f00" + std::to_string(f) + ".png"));
      EXPECT_EQ(misses(saved[f], reference, f), 0) << name << " frame " << f;
    }
  }

  EXPECT_EQ(
      looper.ctl({"se fi 0.3;se out agif;sa all " + dir / "loop.gif"}),
      "First frame pause set to: 0.3\nImage output type set to: agif\nSaved 4 frames in: " + dir / "loop.gif" + "\n");
  EXPECT_EQ(delays_of(dir / "loop.gif"), "50 35 50 100 ") << "the first-frame pause counts";
  const std::string exported = coalesced(dir / "loop.gif");
  for (int f = 0; f < 4; f++) EXPECT_EQ(misses(saved[f], exported, f, 0), 0) << "exactly what frame " << f << " holds";
  EXPECT_EQ(looper.ctl({"ld all " + dir / "loop.gif" + ";se fi 0;sa all " + dir / "again.gif"}),
            "Loaded 4 frames from: " + dir / "loop.gif" +
                "\nFirst frame pause set to: 0.0\nSaved 4 frames in: " + dir / "again.gif" + "\n");
  EXPECT_EQ(delays_of(dir / "again.gif"), "50 35 50 100 ");
  // Loading scales 8-bit channels down to 5 and 6 bits, a grab widens them by
  // shifting: at depth 16 each pass through the screen may lose one step.
  const int step = test_depth() == 16 ? 8 : 0;
  const std::string again = coalesced(dir / "again.gif");
  long off = again.size() == exported.size() ? 0 : -1;
  for (size_t i = 0; off >= 0 && i < again.size(); i++)
    off += std::abs(static_cast<unsigned char>(again[i]) - static_cast<unsigned char>(exported[i])) > step;
  EXPECT_EQ(off, 0) << "the same frames back";

  // On screen frame 0 stays for its delay and the pause, frame 1 for its delay.
  looper.ctl({"se de all 0.1;se fi 0.6;start"});
  const unsigned long window = window_of(looper);
  auto held = [&](const std::string &title) {
    eventually([&] { return window_title(window) != title; }, 3);
    eventually([&] { return window_title(window) == title; }, 3);
    const auto start = std::chrono::steady_clock::now();
    eventually([&] { return window_title(window) != title; }, 3);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  EXPECT_GT(held("Anim [0]"), 0.6);
  EXPECT_LT(held("Anim [1]"), 0.45);

  // Damaged and absurd files: a message, the frames as they were, a looper that answers.
  write_bytes(dir / "text.gif", "plain text");
  const std::string whole = read_bytes(dir / "optimized.gif");
  write_bytes(dir / "cut.gif", whole.substr(0, whole.size() / 4));  // inside the first image
  write_bytes(dir / "many.gif", many_images(2000));
  EXPECT_EQ(looper.ctl({"ld all " + dir / "text.gif;qu num"}), "Loaded 0 frames from: " + dir / "text.gif\n4\n");
  EXPECT_EQ(looper.ctl({"ld all " + dir / "cut.gif"}), "Loaded 1 frames from: " + dir / "cut.gif\n");
  EXPECT_EQ(looper.ctl({"ld all " + dir / "many.gif;qu num"}), "Loaded 128 frames from: " + dir / "many.gif\n128\n");
  for (const char *message : {"Image 0 ends early", "lies outside", "cut from 65535 to 6000"})
    EXPECT_NE(looper.errors().find(message), std::string::npos) << message;
}

}  // namespace
