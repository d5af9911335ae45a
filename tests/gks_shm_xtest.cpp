// Images through the server's shared-memory extension, spoken by our own
// client: the requests checked one by one against a real Xvfb, and whole
// loads through shared memory compared pixel for pixel with the same loads
// on servers that will not share memory (no extension; a segment the
// server cannot attach), where they take the socket.
#include <gtest/gtest.h>

#include "xvfb_env.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gks/gks.h"
#include "gks/gks_shm.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "image_util.h"

using namespace zyb_test;

namespace {

// A second server of the run's depth that will not share memory with us:
// either it lacks the extension, as a remote display does, or it runs in an
// IPC namespace of its own, where our segments do not exist and every
// Attach fails. -displayfd picks a free display number.
class ScratchXvfb {
 public:
  enum Kind { kWithoutExtension, kOwnIpcNamespace };

  explicit ScratchXvfb(Kind kind) {
    int fds[2];
    if (pipe(fds) != 0) return;
    std::string screen = "1280x1024x" + std::to_string(test_depth());
    std::string fd = std::to_string(fds[1]);
    std::vector<const char *> argv;
    // unshare execs the server in its own place: the PID stays the server's.
    if (kind == kOwnIpcNamespace) argv = {"unshare", "--ipc"};
    for (const char *arg : {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
                            "-noreset", "-ac"}) {
      argv.push_back(arg);
    }
    if (kind == kWithoutExtension) argv.insert(argv.end(), {"-extension", "MIT-SHM"});
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 1);
      dup2(devnull, 2);
      execvp(argv[0], const_cast<char *const *>(argv.data()));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (pid_ > 0 && poll(&p, 1, 10000) > 0) {
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~ScratchXvfb() { stop_xvfb(pid_); }
  ScratchXvfb(const ScratchXvfb &) = delete;
  ScratchXvfb &operator=(const ScratchXvfb &) = delete;

  const std::string &display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// A System V segment of our own, gone when the test leaves.
struct TestSegment {
  ShmSegment seg;
  explicit TestSegment(size_t size) {
    seg.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (seg.shmid < 0) return;
    void *addr = shmat(seg.shmid, nullptr, 0);
    if (addr == reinterpret_cast<void *>(-1)) return;
    seg.address = static_cast<char *>(addr);
    seg.size = size;
  }
  ~TestSegment() {
    if (seg.address != nullptr) shmdt(seg.address);
    if (seg.shmid >= 0) shmctl(seg.shmid, IPC_RMID, nullptr);
  }
};

struct XError {
  int code, request;
};

std::vector<XError> &trapped() {
  static std::vector<XError> errors;
  return errors;
}

// Collects the X errors of the requests sent while it lives.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display *display) : display_(display) {
    XSync(display_, False);
    trapped().clear();
    previous_ = XSetErrorHandler([](Display *, XErrorEvent *e) {
      trapped().push_back({e->error_code, e->request_code});
      return 0;
    });
  }
  ~ErrorTrap() { XSetErrorHandler(previous_); }
  std::vector<XError> errors() {
    XSync(display_, False);
    return trapped();
  }

 private:
  Display *display_;
  int (*previous_)(Display *, XErrorEvent *) = nullptr;
};

// A connection of the test's own, next to the kernel's.
class ShmProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = XOpenDisplay(nullptr);
    ASSERT_NE(display_, nullptr);
    depth_ = DefaultDepth(display_, DefaultScreen(display_));
    ASSERT_EQ(gshm_query(display_, &ext_), 1);
    gc_ = XCreateGC(display_, DefaultRootWindow(display_), 0, nullptr);
  }
  void TearDown() override {
    if (display_ == nullptr) return;
    XFreeGC(display_, gc_);
    XCloseDisplay(display_);
  }

  Pixmap blank_pixmap(int w, int h) {
    Pixmap p = XCreatePixmap(display_, DefaultRootWindow(display_), w, h, depth_);
    XSetForeground(display_, gc_, 0);
    XFillRectangle(display_, p, gc_, 0, 0, w, h);
    return p;
  }

  // An image of the screen's format whose pixels start offset bytes into
  // the segment; the caller sets data to nullptr before destroying it.
  XImage *image_in(const ShmSegment &seg, size_t offset, int w, int h) {
    XImage *xi = XCreateImage(display_, DefaultVisual(display_, DefaultScreen(display_)), depth_, ZPixmap, 0, nullptr,
                              w, h, 32, 0);
    xi->data = seg.address + offset;
    return xi;
  }

  unsigned long pattern(int x, int y) const {
    unsigned long all = depth_ >= 24 ? 0xFFFFFFul : (1ul << depth_) - 1;
    return (static_cast<unsigned long>(x) * 0x010307 + static_cast<unsigned long>(y) * 0x0D0B05 + 1) & all;
  }

  Display *display_ = nullptr;
  int depth_ = 0;
  ShmExtension ext_;
  GC gc_ = nullptr;
};

void destroy_without_data(XImage *xi) {
  xi->data = nullptr;
  XDestroyImage(xi);
}

}  // namespace

TEST_F(ShmProtocolTest, VersionQueryDescribesTheExtension) {
  EXPECT_EQ(ext_.display, display_);
  EXPECT_GE(ext_.opcode, 128);  // extensions get the upper half of the opcodes
  EXPECT_GT(ext_.error_base, 0);
  EXPECT_EQ(ext_.major_version, 1);
  EXPECT_GE(ext_.minor_version, 1);
}

TEST_F(ShmProtocolTest, RectangleFromASegmentDrawsLikeXPutImage) {
  const int w = 40, h = 30;
  TestSegment segment(64 * 1024);
  ASSERT_NE(segment.seg.address, nullptr);
  // Not at the segment's start: the offset must reach the server too.
  XImage *xi = image_in(segment.seg, 256, w, h);
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) XPutPixel(xi, x, y, pattern(x, y));
  }
  ErrorTrap trap(display_);
  ASSERT_EQ(gshm_attach(ext_, &segment.seg), 1);
  EXPECT_NE(segment.seg.id, 0u);

  Pixmap shared = blank_pixmap(64, 48), plain = blank_pixmap(64, 48);
  unsigned long before = gshm_put_count();
  // A clip origin left in Xlib's GC cache must reach the server first:
  // the clip then covers x 4 .. 33 and y 3 .. 14.
  XRectangle clip{0, 0, 30, 12};
  XSetClipRectangles(display_, gc_, 0, 0, &clip, 1, Unsorted);
  XSetClipOrigin(display_, gc_, 4, 3);
  EXPECT_EQ(gshm_put_image(ext_, segment.seg, shared, gc_, *xi, 3, 2, 5, 7, 70, 10), 1);
  XPutImage(display_, plain, gc_, xi, 3, 2, 5, 7, 70, 10);
  XSetClipMask(display_, gc_, None);
  XSetClipOrigin(display_, gc_, 0, 0);
  EXPECT_EQ(gshm_put_count(), before + 1);
  EXPECT_TRUE(trap.errors().empty());

  XImage *got = XGetImage(display_, shared, 0, 0, 64, 48, AllPlanes, ZPixmap);
  XImage *want = XGetImage(display_, plain, 0, 0, 64, 48, AllPlanes, ZPixmap);
  ASSERT_NE(got, nullptr);
  ASSERT_NE(want, nullptr);
  long wrong = 0, drawn = 0;
  for (int y = 0; y < 48; y++) {
    for (int x = 0; x < 64; x++) {
      unsigned long v = XGetPixel(got, x, y);
      wrong += v != XGetPixel(want, x, y);
      // The source's 37 columns from x 3 land at 5 .. 41, 10 rows at 7 ..
      // 16; the clip keeps x 5 .. 33 and y 7 .. 14 of them.
      bool inside = x >= 5 && x < 34 && y >= 7 && y < 15;
      wrong += v != (inside ? pattern(x - 5 + 3, y - 7 + 2) : 0);
      drawn += inside;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(drawn, 29 * 8);
  XDestroyImage(got);
  XDestroyImage(want);
  XFreePixmap(display_, shared);
  XFreePixmap(display_, plain);
  gshm_detach(ext_, &segment.seg);
  EXPECT_TRUE(trap.errors().empty());
  destroy_without_data(xi);
}

TEST_F(ShmProtocolTest, DetachedSegmentIsUnknownToTheServer) {
  TestSegment segment(16 * 1024);
  ASSERT_NE(segment.seg.address, nullptr);
  XImage *xi = image_in(segment.seg, 0, 16, 16);
  Pixmap target = blank_pixmap(16, 16);
  ErrorTrap trap(display_);
  ASSERT_EQ(gshm_attach(ext_, &segment.seg), 1);
  ShmSegment stale = segment.seg;
  gshm_detach(ext_, &segment.seg);
  EXPECT_EQ(segment.seg.id, 0u);
  EXPECT_TRUE(trap.errors().empty());
  // Our own segment without an id is refused here, before the server.
  EXPECT_EQ(gshm_put_image(ext_, segment.seg, target, gc_, *xi, 0, 0, 0, 0, 16, 16), 0);
  EXPECT_EQ(gshm_put_image(ext_, stale, target, gc_, *xi, 0, 0, 0, 0, 16, 16), 1);
  std::vector<XError> errors = trap.errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].code, ext_.error_base + BadShmSeg);
  EXPECT_EQ(errors[0].request, ext_.opcode);
  XFreePixmap(display_, target);
  destroy_without_data(xi);
}

TEST_F(ShmProtocolTest, AttachOfAVanishedSegmentRaisesAnError) {
  ShmSegment gone;
  {
    TestSegment segment(4096);
    ASSERT_GE(segment.seg.shmid, 0);
    gone.shmid = segment.seg.shmid;
  }
  ErrorTrap trap(display_);
  ASSERT_EQ(gshm_attach(ext_, &gone), 1);
  std::vector<XError> errors = trap.errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].request, ext_.opcode);
}

TEST_F(ShmProtocolTest, ImagesNotWhollyInTheSegmentAreNotSent) {
  TestSegment segment(4096);
  ASSERT_NE(segment.seg.address, nullptr);
  Pixmap target = blank_pixmap(64, 64);
  ErrorTrap trap(display_);
  ASSERT_EQ(gshm_attach(ext_, &segment.seg), 1);
  unsigned long before = gshm_put_count();
  // 64 rows of at least 64 bytes cannot fit in 4096 bytes after an offset.
  XImage *overrun = image_in(segment.seg, 64, 64, 64);
  EXPECT_EQ(gshm_put_image(ext_, segment.seg, target, gc_, *overrun, 0, 0, 0, 0, 64, 64), 0);
  std::vector<char> elsewhere(64 * 64 * 4);
  XImage *outside = image_in(segment.seg, 0, 8, 8);
  outside->data = elsewhere.data();
  EXPECT_EQ(gshm_put_image(ext_, segment.seg, target, gc_, *outside, 0, 0, 0, 0, 8, 8), 0);
  EXPECT_EQ(gshm_put_count(), before);
  gshm_detach(ext_, &segment.seg);
  EXPECT_TRUE(trap.errors().empty());
  destroy_without_data(overrun);
  destroy_without_data(outside);
  XFreePixmap(display_, target);
}

namespace {

// What a loader draws: an indexed GIF, a true-colour record and an
// overlay whose see-through colour must leave the pictures beneath.
struct LoadRun {
  Picture window;
  unsigned long shared_puts = 0;
  long changed = 0;  // pixels the loads changed
};

void make_true_colour(ImageRecord *img, int w, int h) {
  IMG_init(img);
  img->width = w;
  img->height = h;
  img->depth = 24;
  img->bits_per_pixel = 32;
  img->bytes_per_line = 4 * w;
  img->color_type = 0;
  img->red_mask = 0xFF0000;
  img->green_mask = 0x00FF00;
  img->blue_mask = 0x0000FF;
  IMG_alloc_pixels(img);
  // Few colours: on colour-mapped windows each becomes a colour cell.
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      Rgb c = palette_color((x / 10 + y / 10 * 4) & 15);
      uint32_t v = (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
      std::memcpy(img->data + static_cast<size_t>(y) * img->bytes_per_line + 4 * x, &v, 4);
    }
  }
}

LoadRun load_pictures(const std::string &display, const std::string &gif) {
  LoadRun run;
  EXPECT_EQ(gopen_gks(nullptr, 10000), 0);
  EXPECT_EQ(gopen_ws(0, display.c_str(), GKS_WIN), 0) << "no window on " << display;
  gset_rw_colors(0);
  gselect_frame(gcreate_frame(-1));
  auto grab = [] {
    ImageRecord img;
    RecordGuard guard{&img};
    EXPECT_EQ(gget_image(&img), 1);
    return img.data != nullptr ? record_picture(img) : Picture{};
  };
  Picture blank = grab();
  unsigned long before = gshm_put_count();

  EXPECT_EQ(gload_image_file(gif.c_str(), 10, 10), 1);
  ImageRecord colour;
  RecordGuard colour_guard{&colour};
  make_true_colour(&colour, 120, 80);
  gload_image(&colour, 300, 40);
  ImageRecord over;
  RecordGuard over_guard{&over};
  std::vector<unsigned char> levels(200 * 100, 0);
  for (int y = 30; y < 70; y++) std::fill(levels.begin() + y * 200 + 20, levels.begin() + y * 200 + 180, 1);
  make_indexed(&over, 200, 100, levels, 2);
  float r = 0, g = 0, b = 0;
  gget_color_rgb(-1, &r, &g, &b);
  over.colors[0] = {r, g, b};
  over.colors[1] = {1.0f, 1.0f, 0.0f};
  goverlay_image(&over, "", 200, 20);

  run.shared_puts = gshm_put_count() - before;
  run.window = grab();
  run.changed = count_differences(blank, run.window);
  gclose_ws(0);
  gclose_gks();
  return run;
}

// Loads on the scratch server, then the same loads on the test's own
// server, which shares memory: the kernel moves from one connection to the
// other and must offer shared memory anew.
void expect_same_pixels_as_shared(const ScratchXvfb &scratch) {
  TempDir dir;
  std::string gif = dir / "radar.gif";
  {
    ImageRecord img;
    RecordGuard guard{&img};
    make_indexed(&img, 240, 180, radar_levels(240, 180, 3), 13);
    ASSERT_EQ(GIF_write(gif.c_str(), &img), 1);
  }
  // The refusal is expected: nothing of it may reach the user.
  ::testing::internal::CaptureStderr();
  LoadRun socket = load_pictures(scratch.display(), gif);
  std::string complaints = ::testing::internal::GetCapturedStderr();
  LoadRun shared = load_pictures("", gif);

  EXPECT_EQ(complaints, "");
  EXPECT_EQ(socket.shared_puts, 0u);
  EXPECT_EQ(shared.shared_puts, 3u);
  EXPECT_GT(shared.changed, 240 * 180 / 2);
  ASSERT_EQ(shared.window.width, socket.window.width);
  ASSERT_EQ(shared.window.height, socket.window.height);
  EXPECT_EQ(count_differences(shared.window, socket.window), 0);
}

}  // namespace

TEST(ShmLoadTest, LoadsThroughSharedMemoryAndWithoutTheExtensionShowTheSamePixels) {
  ScratchXvfb plain(ScratchXvfb::kWithoutExtension);
  ASSERT_FALSE(plain.display().empty());
  expect_same_pixels_as_shared(plain);
}

TEST(ShmLoadTest, SegmentTheServerCannotAttachFallsBackToTheSocket) {
  ScratchXvfb apart(ScratchXvfb::kOwnIpcNamespace);
  if (apart.display().empty()) GTEST_SKIP() << "no IPC namespace of its own for a server here";
  {
    // The server does have the extension; only our segments are out of its reach.
    Display *probe = XOpenDisplay(apart.display().c_str());
    ASSERT_NE(probe, nullptr);
    ShmExtension ext;
    EXPECT_EQ(gshm_query(probe, &ext), 1);
    XCloseDisplay(probe);
  }
  expect_same_pixels_as_shared(apart);
}
