// Metafiles end to end: a drawing printed with "pr" plays back with "mf" to
// the same pixels; the same metafile streamed over either transport draws
// the same frame; a streaming client that vanishes holds the looper only
// for the queue's time-out; and, in the kernel, Alt-m's print and the
// redraw of the window reproduce what was drawn.
#include "evnt_window.h"
#include "image_util.h"
#include "looper_util.h"

#include <chrono>
#include <csignal>
#include <thread>

#include "gks/gks_meta.h"
#include "mqueue/mqueue.h"

namespace zyb_test {
namespace {

// Each depth has its own ten windows (from 760, 770, 780).
WindowRange depth_windows() {
  const int first = 760 + (24 - test_depth()) / 8 * 10;
  return {first, first + 9};
}

std::string lines(const std::vector<std::string> &replies) {
  std::string all;
  for (const std::string &r : replies) all += r + "\n";
  return all;
}

Picture frame(const Looper &looper, int n) {
  const std::string path = looper.dir() / ("frame" + std::to_string(n) + ".png");
  looper.ctl({"se out png;sa " + std::to_string(n) + " " + path});
  return magick_decode(path);
}

long lit_pixels(const Picture &p) {
  return std::count_if(p.pixels.begin(), p.pixels.end(), [](Rgb c) { return c != Rgb{0, 0, 0}; });
}

TEST(MetaLooper, APrintedDrawingPlaysBackToTheSamePixels) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  const std::string meta = looper.dir() / "drawing.meta";
  // Attributes set before the recording starts must come out all the same.
  ASSERT_EQ(looper.ctl({"cr;se dr 0;se li co yellow;se te he 16;se re on;li 10,10 300,200;se li co red;se li wi 4"}),
            lines({"Created pixmap", "Draw window set to 0", "Line color set to: yellow", "Text height set to: 16",
                   "Redraw recording on", "Line plotted at: 10,10 300,200", "Line color set to: red",
                   "Line width set to: 4"}));
  ASSERT_EQ(looper.ctl({"li 10,200 300,10;se li st dash;se li wi 1;li 20,400 600,420;se ma co green;se ma st circle"}),
            lines({"Line plotted at: 10,200 300,10", "Line style set to: dash", "Line width set to: 1",
                   "Line plotted at: 20,400 600,420", "Marker color set to: green", "Marker style set to: circle"}));
  ASSERT_EQ(looper.ctl({"ma 400,300 x;se te co cyan;se te al LB;te 100,480 Printed and played;pr " + meta}),
            lines({"Marker plotted at: 400,300", "Text color set to: cyan", "Text alignment set to: LB",
                   "Text plotted at: 100,480 Printed and played", "Printed: " + meta}));
  // Another frame, other attributes in force: the metafile brings its own.
  EXPECT_EQ(looper.ctl({"cr;se dr 1;se li co blue;se li st solid;se ma si 3;se te he 40;se tr 1;mf " + meta}),
            lines({"Created pixmap", "Draw window set to 1", "Line color set to: blue", "Line style set to: solid",
                   "Marker size set to: 3", "Text height set to: 40", "Transformation set to 1",
                   "Metafile plotted: " + meta}));
  const Picture drawn = frame(looper, 0), played = frame(looper, 1);
  ASSERT_GT(lit_pixels(drawn), 1000);
  EXPECT_EQ(count_differences(drawn, played), 0);
}

TEST(MetaLooper, RepliesAndRefusals) {
  Looper looper(depth_windows());
  ASSERT_TRUE(looper.ready());
  const std::string out = looper.dir() / "x.meta";
  EXPECT_EQ(looper.ctl({"cr;pr " + out + ";se re maybe;se re on;mf a b;mf |cat;mf -;pr;pr |cat;pr -;pr +|cat;pr +-"}),
            lines({"Created pixmap", "Unable to print: " + out, "Invalid set command: se re maybe",
                   "Redraw recording on", "Invalid metafile command: mf a b", "Invalid metafile command: mf |cat",
                   "Invalid metafile command: mf -", "Invalid print command: pr", "Unable to print: |cat",
                   "Unable to print: -", "Unable to print: +|cat", "Unable to print: +-"}));
  const std::string ps = looper.dir() / "x.ps", hpgl = looper.dir() / "x.hpgl", cgm = looper.dir() / "x.cgm";
  EXPECT_EQ(looper.ctl({"li 1,1 100,100;pr " + cgm + ";pr " + ps + ";pr " + hpgl + ";se re off;qu num"}),
            lines({"Line plotted at: 1,1 100,100", "Printed: " + cgm, "Printed: " + ps, "Printed: " + hpgl,
                   "Redraw recording off", "1"}));
  EXPECT_EQ(read_file(cgm).substr(0, 2), std::string("\x00\x20", 2)) << "BEGIN METAFILE";
  std::string said;
  EXPECT_EQ(run({"/usr/bin/gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=nullpage", ps}, &said, &said), 0);
  EXPECT_EQ(said, "");
  EXPECT_NE(read_file(hpgl).find("PD"), std::string::npos) << "the line reached the plotter file";
}

// A client of the queue, in this process.
class Client {
 public:
  Client(int window, int transport) {
    MQ_settype(transport);
    MQ_offset(kQueueOffset);
    MQ_timeout(10);
    MQ_timeout_func([](int) {});  // a missing answer is a test failure, not an exit
    q_ = MQ_open(window);
    id_ = q_ == -1 ? -1 : MQ_connect(q_);
  }
  ~Client() {
    if (id_ >= 0) MQ_put(q_, id_, "quit");
    vanish();
  }
  bool ok() const { return id_ >= 0; }
  void send(const std::string &text) { MQ_put(q_, id_, "%s", text.c_str()); }
  // The next n answers, in order.
  std::string answers(int n = 1) {
    std::string all;
    for (int i = 0; i < n; ++i) {
      char text[MQ_TEXT_MAX + 3] = "";
      all += MQ_get(q_, id_, text) < 0 ? "(no answer)\n" : text;
    }
    return all;
  }
  // Gone without a word.
  void vanish() {
    if (id_ >= 0) MQ_close(q_);
    id_ = -1;
  }

 private:
  int q_ = -1, id_ = -1;
};

// Top-level records, each answered "Meta OK"; the first polyline's points
// go on in the two records after its own, the last one's are cut short by
// the record after it.
const std::vector<std::string> kStream = {
    "WIN 2 0 0 10 10", "VP 2 0.1 0.1 0.7 0.7", "TR 2",           "PL 6 1,1 9,1", "   9,9 1,9",
    "1,1 5,5",         "FA 4 2,2 4,2 4,4 2,4", "PL 2 0,10 10,0", "PL 3 1,5 9,5", "TR 0"};
constexpr int kStreamRecords = 8;

class Streamed : public ::testing::TestWithParam<int> {};

TEST_P(Streamed, TheSameFrameAsFromTheFile) {
  const bool tcp = GetParam() == MQ_TCP;
  Looper looper(depth_windows(), {"-wn", "%W"}, tcp);
  ASSERT_TRUE(looper.ready());
  const std::string meta = looper.dir() / "lines.meta";
  std::string text = "ZYBMETA\n";
  for (const std::string &r : kStream) text += r + "\n";
  FILE *f = std::fopen(meta.c_str(), "w");
  std::fputs(text.c_str(), f);
  std::fclose(f);
  ASSERT_EQ(looper.ctl({"cr;cr;se dr 0;mf " + meta}),
            lines({"Created pixmap", "Created pixmap", "Draw window set to 0", "Metafile plotted: " + meta}));
  {
    Client client(looper.window(), GetParam());
    ASSERT_TRUE(client.ok());
    client.send("se dr 1;mf");
    EXPECT_EQ(client.answers(2), lines({"Draw window set to 1", "Waiting for metafile data..."}));
    for (const std::string &r : kStream) client.send(r);
    std::string expected;
    for (int i = 0; i < kStreamRecords; ++i) expected += "Meta OK\n";
    EXPECT_EQ(client.answers(kStreamRecords), expected);
    if (!tcp) {
      // Another client's record while the stream is open is a record of it.
      Client other(looper.window(), GetParam());
      ASSERT_TRUE(other.ok());
      other.send("TR 0");
      EXPECT_EQ(other.answers(), "Meta OK\n");
    }
    client.send("end");
    EXPECT_EQ(client.answers(2), lines({"Meta Done", "Metafile plotted"}));
  }
  const Picture from_file = frame(looper, 0), streamed = frame(looper, 1);
  EXPECT_GT(lit_pixels(from_file), 500);
  EXPECT_EQ(count_differences(from_file, streamed), 0);
}

TEST_P(Streamed, AClientThatVanishesHoldsTheLooperOnlyForTheTimeOut) {
  const bool tcp = GetParam() == MQ_TCP;
  Looper looper(depth_windows(), {"-wn", "%W", "-pa", tcp ? "qtype=sock,to=1" : "to=1"}, tcp);
  ASSERT_TRUE(looper.ready());
  {
    Client client(looper.window(), GetParam());
    ASSERT_TRUE(client.ok()) << looper.errors();
    client.send("cr;se dr 0;mf");
    EXPECT_EQ(client.answers(3), lines({"Created pixmap", "Draw window set to 0", "Waiting for metafile data..."}));
    client.send("PL 3 10,10 20,20");
    client.vanish();
  }
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(eventually(
      [&] { return looper.errors().find("LOOP_metafile: no metafile record for 1 seconds") != std::string::npos; }));
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(waited, 0.5);
  EXPECT_LT(waited, 3.0);
  EXPECT_NE(looper.errors().find("streamed PL record ends after 2 of 3 points"), std::string::npos);
  EXPECT_EQ(looper.ctl({"qu num"}), "1\n") << looper.errors();
}

INSTANTIATE_TEST_SUITE_P(Transports, Streamed, ::testing::Values(MQ_SYSV, MQ_TCP), transport_name);

// ---------------------------------------------------------------- kernel

using Cache = KernelWindow;

// A drawing whose set-up precedes the recording.
void draw_recorded() {
  const float red[3] = {1, 0, 0}, green[3] = {0, 1, 0};
  gset_colr_rep(1, 2, red);
  gset_colr_rep(1, 3, green);
  const float win[4] = {0, 100, 0, 100}, vp[4] = {0.1f, 0.9f, 0.1f, 0.7f};
  gset_win(2, win);
  gset_vp(2, vp);
  gsel_norm_tran(2);
  gset_line_colr_ind(2);
  gset_linewidth(3);
  gset_char_ht(8);
  gset_redraw(1);
  const float line[6] = {0, 0, 100, 100, 100, 0}, area[6] = {10, 60, 40, 60, 25, 90};
  gpolyline(3, line);
  gset_fill_colr_ind(3);
  gfill_area(3, area);
  gset_marker_type(GKS_MARK_STAR);
  gpolymarker(2, area);
  const float at[2] = {50, 20};
  gtext(at, "KEPT");
}

TEST_F(Cache, AltMPrintsTheCacheIntoAMetafileThatPlaysBackAlike) {
  TempDir dir;
  setenv("METAOUT", (dir / "alt.meta").c_str(), 1);
  draw_recorded();
  const PixelAt drawn = grab(gget_base_window());
  // The print serves the window's events itself before it returns.
  send_key(XK_m, Mod1Mask);
  serve_until([&](int) { return !read_file(dir / "alt.meta").empty(); });
  unsetenv("METAOUT");
  const std::string text = read_file(dir / "alt.meta");
  EXPECT_EQ(text.substr(0, 8), "ZYBMETA\n");
  EXPECT_NE(text.find("TE 50.000000,20.000000 KEPT\n"), std::string::npos);
  const unsigned long target = gget_frame_id(gcreate_frame(-1));
  gselect_frame(0);
  gset_line_colr_ind(3);
  gset_char_ht(20);
  gsel_norm_tran(0);
  gread_metafile((dir / "alt.meta").c_str());
  EXPECT_EQ(mismatches(target, drawn), 0) << first_miss_;
}

TEST_F(Cache, RedrawAfterTheResetDrawsTheSamePixels) {
  draw_recorded();
  const PixelAt drawn = grab(gget_base_window());
  gclear_frame(GKS_FRAME_WINDOW);
  ASSERT_NE(mismatches(gget_base_window(), drawn), 0);
  EXPECT_EQ(gobj_redraw(), 0);
  EXPECT_EQ(mismatches(gget_base_window(), drawn), 0) << first_miss_;
  EXPECT_EQ(gget_redraw(), 1);
}

}  // namespace
}  // namespace zyb_test
