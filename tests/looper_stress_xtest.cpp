// Stress tests of the command language: thousands of random and malformed
// command lines must leave the looper answering, alive and with every frame
// it had. First inside this process through LOOP_process; then end to end,
// the real zorazez fed random records over the System V queue and over TCP.
// The lines come from a fixed seed (ZYB_STRESS_SEED overrides it), so a
// failure names the seed and the line and reproduces.
#include "xvfb_env.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "app/loop.h"
#include "gks/gks.h"
#include "image/gif.h"
#include "image_util.h"
#include "looper_util.h"
#include "util/mess.h"
#include "util/resrc.h"

namespace {

using namespace zyb_test;

constexpr int kFrames = 4;  // of 160 x 128: thousands of saves and clears take seconds

uint32_t stress_seed() {
  const char *text = std::getenv("ZYB_STRESS_SEED");
  return text ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 20240611u;
}

// Quoted, with control bytes and non-ASCII escaped, so a failing line can be typed again.
std::string printable(const std::string &line) { return ::testing::PrintToString(line); }

// Words as the looper splits them: at blanks of the C locale, keyword first.
std::vector<std::string> words_of(const std::string &line) {
  std::vector<std::string> words;
  for (size_t i = 0, start; i < line.size();) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) i++;
    for (start = i; i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]));) i++;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool begins(const std::string &word, const char *prefix) {
  const size_t n = std::strlen(prefix);
  return word.size() >= n && strnicmp(word.c_str(), prefix, static_cast<int>(n)) == 0;
}

// A word that, as a file name or a comma list of them, would run a command
// ("|"), read or write a standard stream, or leave the run's directory.
bool leaves_the_sandbox(const std::string &word) {
  if (word.find_first_of("|~/") != std::string::npos) return true;
  for (size_t start = 0, comma;; start = comma + 1) {
    const std::string name = word.substr(start, (comma = word.find(',', start)) - start);
    if (name.empty() || name == "-" || stricmp(name.c_str(), "std") == 0 || stricmp(name.c_str(), "stdn") == 0)
      return true;
    if (comma == std::string::npos) return false;
  }
}

// Whether a generated line is left out. Only the commands that change the
// frame list or end the looper by design, and file names that reach outside
// the test's own directory; everything else, however malformed, must be
// survived. Over the queue every piece must also be answered exactly once.
bool excluded(const std::string &line, bool over_queue) {
  const std::vector<std::string> w = words_of(line);
  if (w.empty()) return false;
  const std::string &key = w[0];
  const size_t args = w.size() - 1;
  if (begins(key, "de") || begins(key, "cr") || begins(key, "ki")) return true;
  if (begins(key, "se") && args == 2 && begins(w[1], "si")) return true;  // resizing empties the frame table
  // Without a file the metafile command waits for one streamed over the queue.
  if ((begins(key, "mf") || begins(key, "meta") || begins(key, "zybmeta")) && args == 0) return true;
  for (const char *prefix : {"ld", "lo", "ov", "co", "mf", "me", "zy", "sa", "se", "op"})
    if (begins(key, prefix) && std::any_of(w.begin() + 1, w.end(), leaves_the_sandbox)) return true;
  // quit releases the client; the last is not answered at all.
  return over_queue && (stricmp(key.c_str(), "quit") == 0 || (begins(key, "qu") && args > 1 && begins(w[1], "la")));
}

// Keywords alone and with the row word that leads deep into a command.
const char *const kKeywords[] = {
    "op",      "OPEN",   "cl",       "cl la",   "ld",    "loads",    "ld 0",      "LoAd 3",  "ov",
    "overlay", "ov 1",   "ov wi",    "sa",      "save",  "sa 2",     "sa la",     "sa wi",   "quit",
    "quitter", "up",     "stop",     "start",   "loop",  "step",     "steps",     "go",      "goto",
    "co",      "colour", "se",       "setting", "se de", "SE DE LA", "se de all", "se pa",   "se li",
    "se ma",   "se te",  "se te al", "se vi",   "se wi", "se tr",    "se do",     "se dr",   "se na",
    "se out",  "se di",  "qu",       "query",   "te",    "li",       "ma",        "mf",      "metafile",
    "zybmeta", "he",     "x",        "%s%n%s",  "-",     "9",        "\xE9t\xE9", "\x01\x02"};
// The other word lists, blank-separated.
const std::vector<std::string> kNumbers = words_of(
    "0 1 2 3 -1 -2 -4 127 128 255 256 2147483647 2147483648 -2147483649 4294967296 99999999999999999999 1e308 "
    "-1e308 1e-308 1e999 nan inf -inf 0x7fffffff -0 3.5 0.05 1e6 00000000000000000000000001 +5 5abc 1.5.5 .");
const std::vector<std::string> kNames = words_of(
    "wi la lax all ALL na si di de pa out dr tr vi do li ma te co width st ex he hi up al sp fo forward back alt "
    "rock gif png xwd plus circle dot solid doubledash CB RT LL cu num pid pix red nocolour us nowhere");
const std::vector<std::string> kFiles = words_of(
    "probe0.gif probe1.gif nothere.gif x.png x.xwd empty.gif trunc.gif junk.gif huge.gif junk.clr junk.mf "
    "saved.gif saved.png saved.xwd %Y%m%d_%h%n_%i.gif %p_%i.png %q%%% .. . zyb.clr +appended.gif");
const std::vector<std::string> kOdd = words_of(
    "%s %n%n%n %999999d %.99999f %s%s%s%s%s%s , 1, ,1 1,,2 1,2,3 nan,nan 1e308,1e308 inf,-inf 99999x99999 1x-5 "
    "0x0 640x512");
const char *const kBlanks[] = {" ", " ", " ", "  ", "\t", " \t ", "\r", "\v", "\f", "\n"};

// Random command lines: raw bytes, runs of ";", and keywords followed by
// words of every kind with odd blanks between.
class LineMaker {
 public:
  explicit LineMaker(uint32_t seed) : rng_(seed) {}
  // A line for LOOP_process: anything without a NUL.
  std::string line() {
    if (pick(10) == 0) return bytes(pick(300));
    std::string s = pick(10) == 0 ? std::string(1 + pick(12), ';') + " " : "";
    for (s += any(kKeywords); pick(4) != 0;) s += any(kBlanks) + word();
    return s;
  }
  // A piece of a queue record: no ";" (it would split the piece), and short
  // enough for three to a record.
  std::string piece() {
    std::string p = line().substr(0, 8 + pick(30));
    std::replace(p.begin(), p.end(), ';', ',');
    return p;
  }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

 private:
  template <size_t N>
  std::string any(const char *const (&list)[N]) {
    return list[pick(N)];
  }
  std::string any(const std::vector<std::string> &list) { return list[pick(static_cast<int>(list.size()))]; }
  std::string bytes(int n) {
    std::string s;
    while (n-- > 0) s += static_cast<char>(1 + pick(255));
    return s;
  }
  std::string number() { return pick(3) == 0 ? std::to_string(pick(400) - 200) : any(kNumbers); }
  std::string word() {
    switch (pick(9)) {
      case 0:
      case 1: return number();
      case 2: return number() + "," + number();
      case 3:
      case 4: return any(kNames);
      case 5: return any(kFiles);
      case 6: return std::string(200 + pick(200), static_cast<char>('a' + pick(26)));
      case 7: return bytes(1 + pick(30));
      default: return any(kOdd);
    }
  }
  std::mt19937 rng_;
};

// The files LineMaker names: a probe, and broken ones.
bool write_test_files(const std::string &dir) {
  Record img;
  make_indexed(&img, 16, 16, std::vector<unsigned char>(256, 0), 1);
  if (GIF_write((dir + "/probe0.gif").c_str(), &img) != 1) return false;
  const std::string probe = read_bytes(dir + "/probe0.gif");
  std::string junk = "GIF89a", huge = probe;
  for (int i = 0; i < 400; i++) junk += static_cast<char>((i * 7919) >> 3);
  // A screen and an image of 65535 x 65535 over a few bytes of data; a
  // one-colour GIF has a 2-entry table, so its image descriptor is at 19.
  for (size_t at : {6, 8, 19 + 5, 19 + 7}) huge.replace(at, 2, "\xFF\xFF");
  const std::pair<const char *, std::string> files[] = {
      {"probe1.gif", probe},
      {"trunc.gif", probe.substr(0, probe.size() / 2)},
      {"empty.gif", ""},
      {"junk.gif", junk},
      {"huge.gif", huge},
      {"junk.clr", junk.substr(6) + "\n0 0 0 black\n999 999 999\n"},
      {"junk.mf", "PL 99999999\n1,2 3,4\nFA -5\nVP 9 1e308 0 0 0\nTR 77\n" + junk}};
  for (const auto &[name, bytes] : files) write_bytes(dir + "/" + name, bytes);
  return probe[19] == ',';
}

// A line that crashes or hangs (SIGALRM) the test process is named before
// the signal's previous handler (a sanitizer's, or the default) runs.
char current_line[512];
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGALRM};
struct sigaction previous_actions[NSIG];

void report_and_go_on(int sig) {
  char text[700];
  const int n = std::snprintf(text, sizeof text, "\nstress: %s %s\n", current_line,
                              sig == SIGALRM ? "did not return within 20 s" : "crashed");
  if (n > 0) (void)!write(2, text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1));
  sigaction(sig, &previous_actions[sig], nullptr);
  raise(sig);
}

// Each frame keeps its pixmap, alive on the server and of the window's size.
std::string frames_intact(const std::vector<unsigned long> &ids) {
  if (gget_num_images() != kFrames) return "frame count " + std::to_string(gget_num_images());
  for (int i = 0; i < kFrames; i++) {
    Window root;
    int x, y;
    unsigned w = 0, h = 0, border, depth;
    if (gget_frame_id(i) != ids[i] || !XGetGeometry(gget_display(), ids[i], &root, &x, &y, &w, &h, &border, &depth) ||
        w != 160 || h != 128)
      return "frame " + std::to_string(i) + " lost its pixmap of 160 x 128";
  }
  return "";
}

// The looper's command loop inside this process, with a window of kFrames
// frames, run in a directory of the test's broken files.
TEST(InProcessLooper, FourThousandRandomLinesLoseNoFrame) {
  TempDir dir;
  ASSERT_TRUE(write_test_files(dir.path()));
  ASSERT_EQ(chdir(dir.path().c_str()), 0);                    // saves under plain names land here
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);  // nothing may wait on the terminal
  static char prog[] = "looper_stress_xtest";
  static char *argv[] = {prog, nullptr};
  static const int kKeyed[] = {48, 63, 27, 46, 102, 0};  // file, image paths; colours; device; title
  static const int kPositional[] = {0};
  RES_init(1, argv, kKeyed, kPositional);
  MESS_set_str("error");  // thousands of unreadable files and bad words are reported one by one
  MQ_offset(kQueueOffset);
  LOOP_state().qid = -1;
  gset_rw_colors(0);
  CLR_read_table(nullptr);
  for (const char *line : {"set size 160x128", "open", "set name Stress", "create", "create", "create", "create"})
    LOOP_process(-1, line);
  ASSERT_EQ(LOOP_state().open, 1) << "the window did not open";
  std::vector<unsigned long> ids;
  for (int i = 0; i < gget_num_images(); i++) ids.push_back(gget_frame_id(i));
  ASSERT_EQ(frames_intact(ids), "") << "before any random line";
  struct sigaction action {};
  action.sa_handler = report_and_go_on;
  for (int sig : kFatalSignals) sigaction(sig, &action, &previous_actions[sig]);
  const uint32_t seed = stress_seed();
  LineMaker maker(seed);
  long sent = 0, skipped = 0;
  while (sent < 4000) {
    const std::string line = maker.line();
    if (excluded(line, false)) {
      skipped++;
      continue;
    }
    std::snprintf(current_line, sizeof current_line, "seed %u, line %ld %s", seed, sent, printable(line).c_str());
    alarm(20);
    // Half the lines come "from a client": their replies are formatted too
    // (and go nowhere, as the looper has no queue here).
    LOOP_process(sent++ % 2 ? MQ_FIRST_CLIENT : -1, line.c_str());
    alarm(0);
    ASSERT_EQ(frames_intact(ids), "") << current_line;
    ASSERT_EQ(LOOP_state().running, LOOP_RUN) << current_line;
  }
  for (int sig : kFatalSignals) sigaction(sig, &previous_actions[sig], nullptr);
  EXPECT_LT(skipped, sent / 4) << "the exclusions took too many of the generated lines";
  EXPECT_EQ(gget_xerror(), 0) << "the commands provoked X protocol errors (seed " << seed << ")";
  gdelete_all_frames();
  gclose_ws(0);
  gclose_gks();
  MESS_reset();
}

// Reads the answer to one piece: lines with code 1 until the final line.
// "sa all" may end a line per frame that failed with code 0 before its
// "Save done". Returns "" or what went wrong.
std::string read_answer(int q, int id, const std::string &piece) {
  const std::vector<std::string> w = words_of(piece);
  const bool saves_all = w.size() >= 2 && begins(w[0], "sa") && stricmp(w[1].c_str(), "all") == 0;
  char text[MQ_TEXT_MAX + 3];
  for (int lines = 0; lines < 200; lines++) {
    const int code = MQ_get(q, id, text);
    if (code == MQ_MORE_LINES || (code == MQ_LAST_LINE && saves_all && std::strcmp(text, "Save done\n") != 0)) continue;
    if (code == MQ_LAST_LINE) return "";
    if (code == MQ_RELEASED && text[0] == '\0') return "no answer within the time-out";
    return "code " + std::to_string(code) + ": " + printable(text);
  }
  return "endless answer";
}

void ignore_alarm(int) {}

// Random records of one to three pieces: every piece answered, none lost.
// At most one piece of a record is answered with many lines (help, saves),
// which keeps the client's queue far from full.
void feed_random_records(const Looper &looper, int type, uint32_t seed) {
  ASSERT_TRUE(write_test_files(looper.dir().path()));
  MQ_settype(type);
  MQ_offset(kQueueOffset);
  MQ_timeout(10);
  MQ_timeout_func(ignore_alarm);  // MQ_get gives up with -1 instead of ending the process
  const int q = MQ_open(looper.window()), id = MQ_connect(q);
  ASSERT_GE(id, MQ_FIRST_CLIENT) << "cannot register on window " << looper.window();
  auto long_answer = [](const std::string &piece) {
    const std::vector<std::string> w = words_of(piece);
    return !w.empty() && (begins(w[0], "he") || begins(w[0], "sa"));
  };
  LineMaker maker(seed);
  for (int records = 0; records < 40;) {
    std::string record = maker.piece();
    for (int more = maker.pick(3); more > 0; more--) record += ";" + maker.piece();
    int count = 0;
    char **items = nullptr;
    parse_string(record.c_str(), ';', &count, &items);
    const std::vector<std::string> pieces(items, items + count);
    free_parsed_array(count, items);
    if (pieces.empty() || std::count_if(pieces.begin(), pieces.end(), long_answer) > 1 ||
        std::any_of(pieces.begin(), pieces.end(), [](const std::string &p) { return excluded(p, true); }))
      continue;
    ASSERT_GE(MQ_put(q, id, "%s", record.c_str()), 0) << printable(record);
    records++;
    for (const std::string &p : pieces)
      ASSERT_EQ(read_answer(q, id, p), "")
          << "seed " << seed << ", piece " << printable(p) << " of " << printable(record) << "\n"
          << looper.errors().substr(0, 2000);
  }
  ASSERT_GE(MQ_put(q, id, "qu num"), 0);
  char text[MQ_TEXT_MAX + 3];
  EXPECT_EQ(MQ_get(q, id, text), MQ_LAST_LINE);
  EXPECT_EQ(std::string(text), "3\n") << "seed " << seed;
  MQ_close(q);
  MQ_timeout_func(nullptr);
  MQ_settype(MQ_SYSV);
}

class LooperStressEndToEnd : public ::testing::TestWithParam<int> {};

// A looper with a small window, its three frames looping quickly: a loop
// pass reads the queue, so records are served as they come.
TEST_P(LooperStressEndToEnd, RandomRecordsAreAllAnswered) {
  // Each depth has its own three windows, so that the three runs never race for one.
  const int first = 940 + (24 - test_depth()) / 8 * 3;
  Looper looper({first, first + 2}, {"-wn", "%W", "-cd", "se si 160x128;op;se na Stress;cr;cr;cr;se de 0.02;se pa 0.02"},
                GetParam() == MQ_TCP);
  ASSERT_TRUE(looper.ready()) << "no free window in " << first << "-" << first + 2;
  feed_random_records(looper, GetParam(), stress_seed() + 1 + GetParam());
  EXPECT_TRUE(looper.process().running()) << looper.errors().substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(Transports, LooperStressEndToEnd, ::testing::Values(MQ_SYSV, MQ_TCP), transport_name);

}  // namespace
