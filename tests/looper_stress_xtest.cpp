// Stress tests of the command language: thousands of random and malformed
// command lines must leave the looper answering, alive and with every frame
// it had. First inside this process through LOOP_process, with the frames'
// pixmaps read back after each batch; then end to end, the real zorazez fed
// random records over the System V queue and over TCP.
//
// The lines come from a fixed seed (ZYB_STRESS_SEED overrides it), so a
// failure names the seed and the line and reproduces.
#include "xvfb_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "app/loop.h"
#include "gks/gks.h"
#include "image/gif.h"
#include "image/img_tool.h"
#include "looper_util.h"
#include "mqueue/mqueue.h"
#include "util/mess.h"
#include "util/resrc.h"
#include "util/string.h"

namespace {

using zyb_test::read_file;
using zyb_test::TempDir;

constexpr uint32_t kDefaultSeed = 20240611u;
// The end-to-end loopers take the first free window of this range.
constexpr zyb_test::WindowRange kWindows{940, 949};

// A small window keeps 5000 commands (saves and clears of every frame
// among them) within seconds.
constexpr int kWidth = 160;
constexpr int kHeight = 128;
constexpr int kInProcessFrames = 4;
constexpr int kLooperFrames = 3;

uint32_t stress_seed() {
  const char *text = std::getenv("ZYB_STRESS_SEED");
  return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : kDefaultSeed;
}

// Control bytes and non-ASCII shown as \xNN, so a failing line can be typed again.
std::string printable(const std::string &line) {
  std::string out;
  for (unsigned char c : line) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Words as the looper splits them: at blanks of the C locale, keyword first.

std::vector<std::string> words_of(const std::string &line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) i++;
    const size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) i++;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool begins(const std::string &word, const char *prefix) {
  const size_t n = std::strlen(prefix);
  return word.size() >= n && strnicmp(word.c_str(), prefix, static_cast<int>(n)) == 0;
}

bool is_stream_name(const std::string &name) {
  return name.empty() || name == "-" || stricmp(name.c_str(), "std") == 0 ||
         stricmp(name.c_str(), "stdn") == 0;
}

// A word that, as a file name or a comma list of them, would run a command
// ("|"), read or write a standard stream, or leave the run's directory.
bool leaves_the_sandbox(const std::string &word) {
  if (word.find_first_of("|~/") != std::string::npos) return true;
  size_t start = 0;
  for (;;) {
    const size_t comma = word.find(',', start);
    if (is_stream_name(word.substr(start, comma - start))) return true;
    if (comma == std::string::npos) return false;
    start = comma + 1;
  }
}

enum class Channel { InProcess, Client };

// Why a generated line is not sent, or nullptr when it may be. Only the
// commands that change the frame list or end the looper by design are left
// out, and the ones whose file names would reach outside the test's own
// directory; everything else, however malformed, must be survived.
const char *excluded_because(const std::string &line, Channel channel) {
  const std::vector<std::string> w = words_of(line);
  if (w.empty()) return nullptr;
  const std::string &key = w[0];
  const size_t args = w.size() - 1;
  // Delete removes a frame whatever its words: no word or a word that names
  // no frame deletes the current one.
  if (begins(key, "de")) return "delete removes frames";
  if (begins(key, "cr")) return "create appends a frame";
  if (begins(key, "ki")) return "kill ends the looper";
  // Two words after "se": the size row, which resizes the window and
  // empties the frame table. With three words no row is named "si".
  if (begins(key, "se") && args == 2 && begins(w[1], "si")) return "set size resizes";
  // The metafile command without a file waits for a metafile streamed over
  // the queue and holds the main loop until its "end" record.
  if ((begins(key, "mf") || begins(key, "meta") || begins(key, "zybmeta")) && args == 0)
    return "streamed metafile waits";
  // Commands whose words may be file names (and set, whose title names
  // saved files and whose font row may read one).
  static const char *const kFileCommands[] = {"ld", "lo", "ov", "co", "mf", "me", "zy", "sa",
                                              "se", "op"};
  for (const char *prefix : kFileCommands)
    if (begins(key, prefix))
      for (size_t i = 1; i < w.size(); i++)
        if (leaves_the_sandbox(w[i])) return "file name outside the test directory";
  if (channel == Channel::InProcess) return nullptr;
  // Over the queue every piece must be answered exactly once: these are not.
  if (stricmp(key.c_str(), "quit") == 0) return "quit releases the client";
  if (begins(key, "qu") && args > 1 && begins(w[1], "la")) return "query last with more words";
  if (begins(key, "se") && args == 2 && begins(w[1], "do")) return "unknown domain unanswered";
  return nullptr;
}

// ---------------------------------------------------------------------------
// Random command lines.

class LineMaker {
 public:
  explicit LineMaker(uint32_t seed) : rng_(seed) {}

  // A line for LOOP_process: anything without a NUL.
  std::string line() {
    switch (pick(20)) {
      case 0: case 1: return random_bytes(pick(300));
      case 2: return random_text(pick(160));
      case 3: return std::string(1 + pick(12), ';') + (pick(2) ? " " + keyword() : "");
      case 4: case 5: case 6: return structured();
      default: return loose();
    }
  }

  // A piece of a queue record: no ";" (it would split the piece) and short
  // enough for a record of MQ_TEXT_MAX characters.
  std::string piece() {
    std::string p = line().substr(0, 8 + pick(64));
    std::replace(p.begin(), p.end(), ';', ',');
    return p;
  }

  int pick(int n) { return n <= 1 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(rng_); }

 private:
  template <size_t N>
  std::string any(const char *const (&list)[N]) {
    return list[pick(static_cast<int>(N))];
  }

  std::string random_bytes(int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += static_cast<char>(1 + pick(255));
    return s;
  }

  std::string random_text(int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += static_cast<char>(pick(6) == 0 ? ' ' : 0x21 + pick(0x5E));
    return s;
  }

  std::string mixed_case(std::string word) {
    if (pick(4) == 0)
      for (char &c : word)
        if (pick(2)) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
  }

  std::string keyword() {
    static const char *const kKeywords[] = {
        "op", "open", "cl", "clear", "ld", "load", "loads", "ov", "overlay", "sa", "save", "quit",
        "quitter", "up", "update", "stop", "start", "loop", "step", "steps", "go", "goto", "co",
        "colour", "se", "set", "setting", "qu", "query", "te", "text", "li", "line", "ma", "mark",
        "mf", "meta", "metafile", "zybmeta", "zybme", "he", "help", "x", "o", "s", "%s%n%s", "-",
        "--", "9", "\xE9t\xE9", "\x01\x02"};
    return mixed_case(any(kKeywords));
  }

  std::string number() {
    static const char *const kNumbers[] = {
        "0", "1", "2", "3", "-1", "-2", "-3", "-4", "-5", "127", "128", "129", "255", "256", "-129",
        "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967296",
        "99999999999999999999", "-99999999999999999999", "1e308", "-1e308", "1e-308", "1e999",
        "-1e999", "nan", "NaN", "inf", "-inf", "0x7fffffff", "0.0", "-0", "3.5", "0.05", "1e6",
        "1000001", "00000000000000000000000001", "+5", "5abc", "1.5.5", "."};
    if (pick(3) == 0) return std::to_string(pick(400) - 200);
    return any(kNumbers);
  }

  std::string name_word() {
    static const char *const kNames[] = {
        "wi", "win", "window", "la", "last", "lax", "all", "ALL", "na", "name", "si", "size", "di",
        "dir", "de", "delay", "pa", "pause", "out", "output", "dr", "draw", "tr", "vi", "do", "dom",
        "li", "ma", "te", "co", "color", "width", "st", "style", "ex", "he", "hi", "up", "al", "sp",
        "fo", "font", "fo", "forward", "ba", "back", "alt", "rock", "gif", "png", "xwd", "GIF",
        "pnt", "plus", "star", "crcl", "circle", "x", "sqr", "square", "tri", "dot", "itri", "solid",
        "dash", "doubledash", "Dash", "CB", "RT", "LL", "uu", "num", "pid", "pix", "pixel", "red",
        "blue", "white", "black", "nocolour", "us", "europe", "nowhere"};
    return any(kNames);
  }

  std::string file_word() {
    static const char *const kFiles[] = {
        "probe0.gif", "probe1.gif", "nothere.gif", "x.png", "x.xwd", "empty.gif", "trunc.gif",
        "junk.gif", "huge.gif", "junk.clr", "junk.mf", "saved.gif", "saved.png", "saved.xwd",
        "%Y%m%d_%h%n_%i.gif", "%p_%i.png", "%q%%%", "..", ".", "zyb.clr", "+appended.gif",
        "Saved_01.gif"};
    return any(kFiles);
  }

  std::string point() {
    static const char *const kOdd[] = {",", "1,", ",1", "1,,2", "1,2,3", "x,y", "nan,nan",
                                       "1e308,1e308", "-1e308,5", "inf,-inf"};
    if (pick(4) == 0) return any(kOdd);
    return number() + "," + number();
  }

  std::string long_word() {
    std::string s;
    const int n = 200 + pick(200);
    for (int i = 0; i < n; i++) s += static_cast<char>(pick(5) == 0 ? '0' + pick(10) : 'a' + pick(26));
    return s;
  }

  std::string word() {
    switch (pick(12)) {
      case 0: case 1: return number();
      case 2: case 3: return name_word();
      case 4: return file_word();
      case 5: return point();
      case 6: return long_word();
      case 7: return random_bytes(1 + pick(30));
      case 8: return any({"%s", "%n%n%n", "%d%d%d%d", "%999999d", "%.99999f", "%s%s%s%s%s%s"});
      case 9: return std::to_string(pick(2000)) + "x" + std::to_string(pick(2000) - 100);
      default: return mixed_case(any({"wi", "la", "0", "1", "2", "3", "-1", "all", "pix"}));
    }
  }

  std::string blank() { return any({" ", " ", " ", "  ", "\t", " \t ", "\r", "\v", "\f", "\n"}); }

  // A keyword and 0 to 6 words of every kind, with odd blanks between.
  std::string loose() {
    std::string s = pick(8) == 0 ? blank() : "";
    s += keyword();
    const int n = pick(7);
    for (int i = 0; i < n; i++) s += blank() + word();
    if (pick(8) == 0) s += blank();
    return s;
  }

  // The forms that reach deep into the rows: right keyword, wrong values.
  std::string structured() {
    const std::string f = mixed_case(any({"wi", "la", "0", "1", "2", "3", "4", "127", "128", "-1",
                                          "99999999999", "-3"}));
    switch (pick(18)) {
      case 0: return "se de " + number();
      case 1: return "se pa " + number();
      case 2: return "se de " + any({"la", "all", "0", "2", "-2", "-4", "127", "500"}) + " " + number();
      case 3: return "se " + any({"li", "ma", "te"}) + " " + name_word() + " " + (pick(2) ? number() : word());
      case 4: return "se te al " + any({"CB", "RT", "LL", "cu", "", "zz", "R"});
      case 5: return "se " + any({"vi", "wi"}) + " " + point() + " " + point();
      case 6: return "se tr " + number();
      case 7: return "se do " + word();
      case 8: return "te " + point() + " " + word() + " " + word();
      case 9: return "li " + point() + " " + point();
      case 10: return "ma " + point() + " " + word();
      case 11: return "ld " + f + " " + file_word() + " " + point();
      case 12: return "ov " + f + " " + file_word() + " " + point() + (pick(2) ? " " + name_word() : "");
      case 13: return "go " + number();
      case 14: return "sa " + f + (pick(2) ? " " + file_word() : "");
      case 15: return "cl " + f;
      case 16: return "se dr " + f;
      default: return "qu " + name_word() + (pick(3) == 0 ? " " + word() : "");
    }
  }

  std::mt19937 rng_;
};

// ---------------------------------------------------------------------------
// Files the random lines may name: probes of one colour, and broken images.

struct Colour {
  int r, g, b;
};
const Colour kProbeColours[kInProcessFrames] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};

bool write_probe(const std::string &path, Colour c) {
  ImageRecord img;
  IMG_init(&img);
  img.width = 16;
  img.height = 16;
  img.depth = 8;
  img.bits_per_pixel = 8;
  img.bytes_per_line = 16;
  img.color_type = 1;
  bool ok = IMG_alloc_pixels(&img) != nullptr && IMG_alloc_colors(&img, 2) != nullptr;
  if (ok) {
    img.colors[0] = {c.r / 255.0f, c.g / 255.0f, c.b / 255.0f};
    img.colors[1] = {0.5f, 0.5f, 0.5f};
    ok = GIF_write(path.c_str(), &img) == 1;
  }
  IMG_free(&img);
  return ok;
}

void write_bytes(const std::string &path, const std::string &bytes) {
  if (FILE *f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

// The first image descriptor of a GIF: after the header, the global colour
// table and any extension blocks. npos when the file is not that simple.
size_t image_descriptor(const std::string &gif) {
  if (gif.size() < 13) return std::string::npos;
  const unsigned char packed = static_cast<unsigned char>(gif[10]);
  size_t at = 13 + ((packed & 0x80) ? 3u * (1u << ((packed & 7) + 1)) : 0u);
  while (at + 1 < gif.size() && gif[at] == 0x21) {
    at += 2;
    while (at < gif.size() && gif[at] != 0) at += 1 + static_cast<unsigned char>(gif[at]);
    at++;
  }
  return at < gif.size() && gif[at] == 0x2C ? at : std::string::npos;
}

// Every file name of LineMaker, in dir: probes 0 to 3, the broken ones too.
// The checks load their own copies from check/, a directory that no
// generated line can name (a save may well overwrite probe0.gif).
bool write_test_files(const std::string &dir, std::mt19937 &rng) {
  if (mkdir((dir + "/check").c_str(), 0755) != 0) return false;
  for (int i = 0; i < kInProcessFrames; i++)
    for (const char *sub : {"/", "/check/"})
      if (!write_probe(dir + sub + "probe" + std::to_string(i) + ".gif", kProbeColours[i])) return false;
  const std::string probe = read_file(dir + "/probe0.gif");
  write_bytes(dir + "/trunc.gif", probe.substr(0, probe.size() / 2));
  write_bytes(dir + "/empty.gif", "");
  std::string junk = "GIF89a";
  for (int i = 0; i < 400; i++) junk += static_cast<char>(rng() & 0xFF);
  write_bytes(dir + "/junk.gif", junk);
  write_bytes(dir + "/junk.clr", junk.substr(6) + "\n0 0 0 black\n999 999 999\n");
  write_bytes(dir + "/junk.mf", "PL 99999999\n1,2 3,4\nFA -5\nVP 9 1e308 0 0 0\nTR 77\n" + junk);
  // A screen and an image of 65535 x 65535 over a few bytes of data.
  std::string huge = probe;
  const size_t desc = image_descriptor(huge);
  if (desc == std::string::npos || desc + 9 > huge.size()) return false;
  for (size_t at : {size_t{6}, size_t{8}, desc + 5, desc + 7}) huge[at] = huge[at + 1] = '\xFF';
  write_bytes(dir + "/huge.gif", huge);
  return true;
}

// ---------------------------------------------------------------------------
// A line that crashes or hangs the test process is reported before it goes.

char current_line[512];
uint32_t current_seed = 0;
std::atomic<long> current_index{-1};

void report_current_line(const char *what) {
  char text[700];
  const int n = std::snprintf(text, sizeof text, "\nstress: seed %u, line %ld %s: %s\n", current_seed,
                              current_index.load(), what, current_line);
  if (n > 0) (void)!write(2, text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1));
}

struct sigaction previous_actions[NSIG];

void on_fatal_signal(int sig) {
  report_current_line("crashed");
  // The previous handler (a sanitizer's, or the default) takes it from here.
  sigaction(sig, &previous_actions[sig], nullptr);
  raise(sig);
}

void on_watchdog(int) {
  report_current_line("did not return within 20 s");
  std::abort();
}

class CrashReporter {
 public:
  CrashReporter() {
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    for (int sig : kFatal) sigaction(sig, &action, &previous_actions[sig]);
    action.sa_handler = on_watchdog;
    sigaction(SIGALRM, &action, &previous_alarm_);
  }
  ~CrashReporter() {
    alarm(0);
    for (int sig : kFatal) sigaction(sig, &previous_actions[sig], nullptr);
    sigaction(SIGALRM, &previous_alarm_, nullptr);
  }
  CrashReporter(const CrashReporter &) = delete;
  CrashReporter &operator=(const CrashReporter &) = delete;

  void running(long index, const std::string &line) {
    std::snprintf(current_line, sizeof current_line, "%s", printable(line).c_str());
    current_index = index;
    alarm(20);
  }
  void done() { alarm(0); }

 private:
  static constexpr int kFatal[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
  struct sigaction previous_alarm_ {};
};

// ---------------------------------------------------------------------------
// Layer 1: the command language in this process, on its own window.

// A pixel of a drawable as red, green and blue of 0 to 255.
bool pixel_colour(unsigned long drawable, int x, int y, Colour *out) {
  Display *display = gget_display();
  XImage *image = XGetImage(display, drawable, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return false;
  XColor c{};
  c.pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  XQueryColor(display, gget_colormap(), &c);
  *out = {c.red >> 8, c.green >> 8, c.blue >> 8};
  return true;
}

bool near(Colour a, Colour b) {
  // An 8-bit colour map may only hold an approximation of the probe colour.
  const int tolerance = zyb_test::test_depth() == 8 ? 64 : 16;
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

class InProcessLooper : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    std::mt19937 rng(stress_seed());
    ASSERT_TRUE(write_test_files(dir_.path(), rng));
    // Saves under plain names land in the test's own directory.
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    // Nothing may wait on the terminal.
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    static char prog[] = "looper_stress_xtest";
    static char *argv[] = {prog, nullptr};
    static const int kKeyed[] = {48, 63, 27, 46, 102, 0};  // file, image paths; colours; device; title
    static const int kPositional[] = {0};
    RES_init(1, argv, kKeyed, kPositional);
    // Thousands of unreadable files and bad words are reported one by one.
    MESS_set_str("error");
    MQ_offset(zyb_test::kQueueOffset);
    LoopState &st = LOOP_state();
    st.qid = -1;
    st.running = LOOP_RUN;
    gset_rw_colors(0);
    CLR_read_table(nullptr);
  }
  void TearDown() override {
    if (LOOP_state().open) {
      gdelete_all_frames();
      gclose_ws(0);
      gclose_gks();
      LOOP_state().open = 0;
    }
    MESS_reset();
    if (chdir(old_cwd_) != 0) ADD_FAILURE() << "cannot return to " << old_cwd_;
  }

  void run(const std::string &line) { LOOP_process(-1, line.c_str()); }

  // Each frame keeps its pixmap, of the window's size, and still takes an
  // image: its probe is loaded and read back.
  std::string frames_intact(const std::vector<unsigned long> &ids) {
    if (gget_num_images() != kInProcessFrames)
      return "frame count " + std::to_string(gget_num_images());
    if (gget_window_width() != kWidth || gget_window_height() != kHeight)
      return "window size " + std::to_string(gget_window_width()) + "x" +
             std::to_string(gget_window_height());
    for (int i = 0; i < kInProcessFrames; i++) {
      if (gget_frame_id(i) != ids[static_cast<size_t>(i)])
        return "frame " + std::to_string(i) + " lost its pixmap";
      run("ld " + std::to_string(i) + " check/probe" + std::to_string(i) + ".gif 0,0");
      Colour got{};
      if (!pixel_colour(ids[static_cast<size_t>(i)], 3, 3, &got))
        return "frame " + std::to_string(i) + " cannot be read";
      if (!near(got, kProbeColours[i]))
        return "frame " + std::to_string(i) + " shows " + std::to_string(got.r) + "," +
               std::to_string(got.g) + "," + std::to_string(got.b) + " after its probe";
    }
    return "";
  }

 private:
  TempDir dir_;
  char old_cwd_[4096] = {};
};

TEST_F(InProcessLooper, FiveThousandRandomLinesLoseNoFrame) {
  const uint32_t seed = stress_seed();
  current_seed = seed;
  run("set size " + std::to_string(kWidth) + "x" + std::to_string(kHeight));
  run("open");
  ASSERT_EQ(LOOP_state().open, 1) << "the window did not open";
  run("set name Stress");
  for (int i = 0; i < kInProcessFrames; i++) run("create");
  ASSERT_EQ(gget_num_images(), kInProcessFrames);
  std::vector<unsigned long> ids;
  for (int i = 0; i < kInProcessFrames; i++) ids.push_back(gget_frame_id(i));
  ASSERT_EQ(frames_intact(ids), "") << "before any random line";

  LineMaker maker(seed);
  CrashReporter reporter;
  constexpr long kLines = 5000;
  // ZYB_STRESS_BATCH=1 checks the frames after every line, to find the one.
  const char *batch_text = std::getenv("ZYB_STRESS_BATCH");
  const long kBatch = batch_text ? std::max(1L, std::atol(batch_text)) : 250;
  long sent = 0, skipped = 0;
  std::string last_batch_line;
  while (sent < kLines) {
    const std::string line = maker.line();
    if (excluded_because(line, Channel::InProcess) != nullptr) {
      skipped++;
      continue;
    }
    reporter.running(sent, line);
    // Half the lines come "from a client": their replies are formatted too
    // (and go nowhere, as the looper has no queue here).
    LOOP_process(sent % 2 ? MQ_FIRST_CLIENT : -1, line.c_str());
    reporter.done();
    sent++;
    ASSERT_EQ(gget_num_images(), kInProcessFrames)
        << "seed " << seed << ", line " << sent - 1 << ": " << printable(line);
    ASSERT_EQ(LOOP_state().running, LOOP_RUN)
        << "seed " << seed << ", line " << sent - 1 << " stopped the looper: " << printable(line);
    if (sent % kBatch == 0) {
      ASSERT_EQ(frames_intact(ids), "")
          << "seed " << seed << ", after lines " << sent - kBatch << " to " << sent - 1
          << "; the last was: " << printable(line);
    }
  }
  EXPECT_LT(skipped, sent / 4) << "the exclusions took too many of the generated lines";
  EXPECT_EQ(gget_xerror(), 0) << "the commands provoked X protocol errors (seed " << seed << ")";
}

TEST(StressExclusions, OnlyFrameChangingEndingAndEscapingLinesAreLeftOut) {
  for (const char *line : {"de", "DELETE 2", "de wi", "cr pix", "kill", "se si 10x10", "SE SIZE 1x1",
                           "mf", " meta ", "zybmetafile", "ld 0 /etc/passwd", "co a,|date",
                           "sa wi ~/x.gif", "sa 0 -", "co a,,b", "se na a/b", "mf std"})
    EXPECT_NE(excluded_because(line, Channel::InProcess), nullptr) << line;
  for (const char *line : {"se si 10x10 extra", "se de 0.3", "cl 0", "go -5", "ld 0 probe0.gif",
                           "qu la x", "quit", "se do nowhere", "dx", "sa 0 ..", "te 1,1 a/b|c"})
    EXPECT_EQ(excluded_because(line, Channel::InProcess), nullptr) << line;
  for (const char *line : {"quit", "QUIT", "qu la x", "qu last 1 2", "se do nowhere"})
    EXPECT_NE(excluded_because(line, Channel::Client), nullptr) << line;
  for (const char *line : {"qu la", "quits", "se do a b"})
    EXPECT_EQ(excluded_because(line, Channel::Client), nullptr) << line;
}

// ---------------------------------------------------------------------------
// Layer 2: the real looper, fed random records by a client of this process.

void ignore_alarm(int) {}

// A registered client on window's channel; MQ_get gives up (returns -1 with
// an empty text) after the time-out instead of ending the process.
class StressClient {
 public:
  StressClient(int window, int type) {
    MQ_settype(type);
    MQ_offset(zyb_test::kQueueOffset);
    MQ_timeout(10);
    MQ_timeout_func(ignore_alarm);
    q_ = MQ_open(window);
    if (q_ >= 0) id_ = MQ_connect(q_);
  }
  ~StressClient() {
    MQ_close(q_);
    MQ_timeout_func(nullptr);
    MQ_settype(MQ_SYSV);
  }
  StressClient(const StressClient &) = delete;
  StressClient &operator=(const StressClient &) = delete;

  bool ready() const { return id_ >= MQ_FIRST_CLIENT; }
  bool send(const std::string &record) { return MQ_put(q_, id_, "%s", record.c_str()) >= 0; }
  int receive(std::string *text) {
    char buffer[MQ_TEXT_MAX + 3] = "";
    const int code = MQ_get(q_, id_, buffer);
    *text = buffer;
    return code;
  }

 private:
  int q_ = -1;
  int id_ = -1;
};

std::vector<std::string> pieces_of(const std::string &record) {
  int count = 0;
  char **items = nullptr;
  parse_string(record.c_str(), ';', &count, &items);
  std::vector<std::string> pieces(items, items + count);
  free_parsed_array(count, items);
  return pieces;
}

bool saves_all(const std::string &piece) {
  const std::vector<std::string> w = words_of(piece);
  return w.size() >= 2 && begins(w[0], "sa") && stricmp(w[1].c_str(), "all") == 0;
}

// Reads the answer to one piece: lines with code 1 until the final line.
// "sa all" may end a line per frame that failed with code 0 before its
// "Save done". Returns "" or what went wrong.
std::string read_answer(StressClient &client, const std::string &piece) {
  for (int lines = 0; lines < 200; lines++) {
    std::string text;
    const int code = client.receive(&text);
    if (code == MQ_MORE_LINES) continue;
    if (code == MQ_LAST_LINE) {
      if (saves_all(piece) && text != "Save done\n") continue;
      return "";
    }
    if (code == MQ_RELEASED && text.empty()) return "no answer within the time-out";
    return "answered with code " + std::to_string(code) + ": " + printable(text);
  }
  return "endless answer";
}

// Commands answered with many lines: one to a record keeps the client's
// queue far from full.
bool long_answer(const std::string &piece) {
  const std::vector<std::string> w = words_of(piece);
  return !w.empty() && (begins(w[0], "he") || begins(w[0], "sa"));
}

// Random records of several pieces; every piece answered, none lost.
void feed_random_records(zyb_test::Looper &looper, int type, uint32_t seed, int lines) {
  std::mt19937 rng(seed);
  ASSERT_TRUE(write_test_files(looper.dir().path(), rng));
  StressClient client(looper.window(), type);
  ASSERT_TRUE(client.ready()) << "cannot register on window " << looper.window();
  LineMaker maker(seed);
  int sent = 0;
  std::string pending;
  while (sent < lines) {
    std::string record;
    bool long_one = false;
    for (;;) {
      if (pending.empty()) {
        pending = maker.piece();
        if (excluded_because(pending, Channel::Client) != nullptr) {
          pending.clear();
          continue;
        }
      }
      const bool is_long = long_answer(pending);
      const size_t size = record.empty() ? pending.size() : record.size() + 1 + pending.size();
      if (size > static_cast<size_t>(MQ_TEXT_MAX) || (is_long && long_one) || sent >= lines) break;
      record += (record.empty() ? "" : ";") + pending;
      long_one = long_one || is_long;
      pending.clear();
      sent++;
    }
    if (record.empty()) {
      pending.clear();  // a piece of nothing but ";" leftovers; try another
      continue;
    }
    const std::vector<std::string> pieces = pieces_of(record);
    for (const std::string &p : pieces)
      ASSERT_EQ(excluded_because(p, Channel::Client), nullptr)
          << "seed " << seed << ": the record joins into an unanswered piece: " << printable(record);
    ASSERT_TRUE(client.send(record)) << printable(record);
    for (size_t i = 0; i < pieces.size(); i++) {
      const std::string problem = read_answer(client, pieces[i]);
      ASSERT_EQ(problem, "") << "seed " << seed << ", piece " << i << " \"" << printable(pieces[i])
                             << "\" of record \"" << printable(record) << "\"\n"
                             << looper.errors().substr(0, 2000);
    }
  }
  ASSERT_TRUE(client.send("qu num"));
  std::string text;
  EXPECT_EQ(client.receive(&text), MQ_LAST_LINE);
  EXPECT_EQ(text, std::to_string(kLooperFrames) + "\n") << "seed " << seed;
  EXPECT_TRUE(looper.process().running()) << looper.errors().substr(0, 2000);
}

// A looper with a small window, its three frames looping quickly: a loop
// pass reads the queue, so records are served long before the 0.2 s slice.
std::vector<std::string> looper_options() {
  return {"-wn", "%W", "-cd",
          "se si " + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
              ";op;se na Stress;cr;cr;cr;se de 0.02;se pa 0.02"};
}

TEST(LooperStressEndToEnd, RandomRecordsOverTheSystemVQueueAreAllAnswered) {
  zyb_test::Looper looper(kWindows, looper_options());
  ASSERT_TRUE(looper.ready()) << "no free window in 940-949";
  feed_random_records(looper, MQ_SYSV, stress_seed() + 1, 300);
}

TEST(LooperStressEndToEnd, RandomRecordsOverTcpAreAllAnswered) {
  zyb_test::Looper looper(kWindows, looper_options(), true);
  ASSERT_TRUE(looper.ready()) << "no free window in 940-949";
  feed_random_records(looper, MQ_TCP, stress_seed() + 2, 300);
}

}  // namespace
