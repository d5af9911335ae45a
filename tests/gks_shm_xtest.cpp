// Images through the server's shared-memory extension, spoken by our own
// client: the requests checked against a real Xvfb, and whole loads through
// shared memory compared pixel for pixel with the same loads on servers
// that will not share memory, where they take the socket.
#include <gtest/gtest.h>

#include "xvfb_env.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <memory>
#include <string>
#include <vector>

#include "gks/gks.h"
#include "gks/gks_shm.h"
#include "image/gif.h"
#include "image_util.h"

namespace zyb_test {
namespace {

// A System V segment of our own, gone when the test leaves.
struct TestSegment {
  ShmSegment seg;
  explicit TestSegment(size_t size) {
    seg.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    void *addr = seg.shmid < 0 ? nullptr : shmat(seg.shmid, nullptr, 0);
    if (addr == nullptr || addr == reinterpret_cast<void *>(-1)) return;
    seg.address = static_cast<char *>(addr);
    seg.size = size;
  }
  ~TestSegment() {
    if (seg.address != nullptr) shmdt(seg.address);
    if (seg.shmid >= 0) shmctl(seg.shmid, IPC_RMID, nullptr);
  }
};

int x_errors = 0;

TEST(ShmProtocolTest, RectangleFromASegmentDrawsLikeXPutImage) {
  Display *d = XOpenDisplay(nullptr);
  ASSERT_NE(d, nullptr);
  const int depth = DefaultDepth(d, 0);
  GC gc = XCreateGC(d, DefaultRootWindow(d), 0, nullptr);
  ShmExtension ext;
  ASSERT_EQ(gshm_query(d, &ext), 1);
  EXPECT_GE(ext.opcode, 128) << "extensions get the upper half of the opcodes";
  auto previous = XSetErrorHandler([](Display *, XErrorEvent *) { return ++x_errors, 0; });
  TestSegment segment(64 * 1024);
  ASSERT_NE(segment.seg.address, nullptr);
  // The pixels start 256 bytes in: the offset must reach the server.
  std::unique_ptr<XImage, void (*)(XImage *)> xi(
      XCreateImage(d, DefaultVisual(d, 0), depth, ZPixmap, 0, segment.seg.address + 256, 40, 30, 32, 0),
      [](XImage *x) { x->data = nullptr, XDestroyImage(x); });
  for (int y = 0; y < 30; y++)
    for (int x = 0; x < 40; x++) XPutPixel(xi.get(), x, y, (x * 0x010307ul + y * 0x0D0B05ul) | 1);
  ASSERT_EQ(gshm_attach(ext, &segment.seg), 1);
  Pixmap pixmaps[2];
  for (Pixmap &p : pixmaps) {
    p = XCreatePixmap(d, DefaultRootWindow(d), 64, 48, depth);
    XFillRectangle(d, p, gc, 0, 0, 64, 48);  // the fresh GC draws 0
  }
  const unsigned long before = gshm_put_count();
  // A clip origin left in Xlib's GC cache must reach the server first.
  XRectangle clip{0, 0, 30, 12};
  XSetClipRectangles(d, gc, 0, 0, &clip, 1, Unsorted);
  XSetClipOrigin(d, gc, 4, 3);
  // 70 x 10 from (3, 2) is cut to the image's 37 columns.
  EXPECT_EQ(gshm_put_image(ext, segment.seg, pixmaps[0], gc, *xi, 3, 2, 5, 7, 70, 10), 1);
  XPutImage(d, pixmaps[1], gc, xi.get(), 3, 2, 5, 7, 70, 10);
  EXPECT_EQ(gshm_put_count(), before + 1);
  XImage *got = XGetImage(d, pixmaps[0], 0, 0, 64, 48, AllPlanes, ZPixmap);
  XImage *want = XGetImage(d, pixmaps[1], 0, 0, 64, 48, AllPlanes, ZPixmap);
  ASSERT_TRUE(got && want);
  int wrong = 0, drawn = 0;
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++)
      wrong += XGetPixel(got, x, y) != XGetPixel(want, x, y), drawn += XGetPixel(got, x, y) != 0;
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(drawn, 29 * 8) << "the clip keeps x 5 .. 33 and y 7 .. 14";
  XDestroyImage(got);
  XDestroyImage(want);
  gshm_detach(ext, &segment.seg);
  XSync(d, False);
  EXPECT_EQ(x_errors, 0);
  XSetErrorHandler(previous);
  XFreeGC(d, gc);
  XCloseDisplay(d);
}

// A GIF loaded into a frame: the window afterwards, and the shared puts.
struct LoadRun {
  Picture window;
  unsigned long shared_puts = 0;
  long changed = 0;
};

LoadRun load_pictures(const std::string &display, const std::string &gif) {
  LoadRun run;
  EXPECT_EQ(gopen_gks(nullptr, 10000), 0);
  EXPECT_EQ(gopen_ws(0, display.c_str(), GKS_WIN), 0) << "no window on " << display;
  gset_rw_colors(0);
  gselect_frame(gcreate_frame(-1));
  auto grab = [] {
    Record img;
    EXPECT_EQ(gget_image(&img), 1);
    return img.data != nullptr ? record_picture(img) : Picture{};
  };
  const Picture blank = grab();
  const unsigned long before = gshm_put_count();
  EXPECT_EQ(gload_image_file(gif.c_str(), 10, 10), 1);
  run.shared_puts = gshm_put_count() - before;
  run.window = grab();
  run.changed = count_differences(blank, run.window);
  gclose_ws(0);
  gclose_gks();
  return run;
}

}  // namespace

// Loads on a second server that will not share memory with us, then on the
// test's own server, which does: the kernel moves from one connection to the
// other and must offer shared memory anew. In an IPC namespace of its own a
// server has the extension, but our segments do not exist there.
TEST(ShmLoadTest, ServersThatWillNotShareMemoryShowTheSamePixelsThroughTheSocket) {
  TempDir dir;
  const std::string gif = dir / "radar.gif";
  Record img;
  make_indexed(&img, 240, 180, radar_levels(240, 180, 3), 13);
  ASSERT_EQ(GIF_write(gif.c_str(), &img), 1);
  const XvfbOptions servers[] = {{"1280x1024", {"-extension", "MIT-SHM"}, {}}, {"1280x1024", {}, {"unshare", "--ipc"}}};
  for (const XvfbOptions &options : servers) {
    PrivateXvfb scratch(test_depth(), options);
    if (scratch.display().empty() && !options.launcher.empty()) continue;  // no IPC namespaces here
    ASSERT_FALSE(scratch.display().empty());
    ::testing::internal::CaptureStderr();
    LoadRun socket = load_pictures(scratch.display(), gif);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "the refusal is expected: nothing of it may show";
    LoadRun shared = load_pictures("", gif);
    EXPECT_EQ((std::vector<unsigned long>{socket.shared_puts, shared.shared_puts}), (std::vector<unsigned long>{0, 1}));
    EXPECT_GT(shared.changed, 240 * 180 / 2);
    EXPECT_EQ(count_differences(shared.window, socket.window), 0);
  }
}

}  // namespace zyb_test
