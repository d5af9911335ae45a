// How quickly the real looper answers and how evenly it loops.
//
// BM_AnimctlRoundTrip: one "qu num" through a fresh animctl process (start,
// registration, command, answer, exit), against a looper with its window
// open. Reports the median of the calls and its ratio to 0.25 s.
//
// BM_QueueRoundTrip: one command from a client of this process that has
// registered once, send to final answer, over the System V queue (0) and
// over TCP (1). The looper reads its queue at least every 0.2 s, so the
// median should stay within one such slice: ratio_to_0.2s under 1.
//
// BM_LoopFrameIntervals: 128 frames of 640 x 512, each with its own colour,
// looping at 0.05 s a frame. The window title carries "[n]" for the frame
// on screen, so every WM_NAME change of the looper's top-level window is one
// frame change; its server time stamps give the intervals. Reports the mean
// and the worst interval and their ratios to 0.05 s (within 10 %: ratio
// under 1.1), and how many frames the loop skipped.
//
// Starts its own Xvfb (depth from ZYB_BENCH_DEPTH, 24 by default) and its
// own loopers on the first free windows of 950-959. ZYB_BENCH_CALLS (50)
// and ZYB_BENCH_LOOP_SECONDS (5) shorten or lengthen the runs.
#include <benchmark/benchmark.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/gif.h"
#include "image/img_tool.h"
#include "mqueue/mqueue.h"
#include "tests/proc_util.h"
#include "tests/xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;
using zyb_test::Process;
using zyb_test::TempDir;

constexpr int kQueueOffset = 6496;
constexpr int kFirstWindow = 950;
constexpr int kLastWindow = 959;
constexpr double kAnimctlTarget = 0.25;
constexpr double kPollSlice = 0.2;
constexpr double kFrameDelay = 0.05;
constexpr int kLoopFrames = 128;

int env_int(const char *name, int fallback) {
  const char *text = std::getenv(name);
  const int value = text ? std::atoi(text) : 0;
  return value > 0 ? value : fallback;
}

int bench_depth() { return env_int("ZYB_BENCH_DEPTH", 24); }
int call_count() { return env_int("ZYB_BENCH_CALLS", 50); }
int loop_seconds() { return env_int("ZYB_BENCH_LOOP_SECONDS", 5); }

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// One server for every benchmark of the run.
const std::string &display_name() {
  static zyb_test::PrivateXvfb xvfb(bench_depth());
  return xvfb.display();
}

// ---------------------------------------------------------------------------
// Loopers of this benchmark.

bool port_taken(int window) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(kQueueOffset + window));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool taken = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return taken;
}

bool queue_taken(int window) { return msgget(kQueueOffset + window, 0) >= 0; }

void remove_queue(int window) {
  const int id = msgget(kQueueOffset + window, 0);
  if (id >= 0) msgctl(id, IPC_RMID, nullptr);
}

// A zorazez on the first free window of the range, in a directory of its
// own, killed by PID (and its queue removed) when the object goes.
class BenchLooper {
 public:
  BenchLooper(const std::vector<std::string> &extra, bool sock) : sock_(sock) {
    for (int w = kFirstWindow; w <= kLastWindow && !up_; w++) {
      if (queue_taken(w) || port_taken(w)) continue;
      window_ = w;
      std::vector<std::string> argv = {zyb_test::bin("zorazez"), "-wn", "W" + std::to_string(w), "-fp", dir_.path()};
      if (sock_) argv.insert(argv.end(), {"-pa", "qtype=sock"});
      argv.insert(argv.end(), extra.begin(), extra.end());
      process_ = std::make_unique<Process>(argv, dir_ / "looper.out", dir_ / "looper.err",
                                           std::vector<std::string>{"DISPLAY=" + display_name()}, dir_.path());
      const Clock::time_point start = Clock::now();
      while (seconds_since(start) < 10 && !up_ && process_->running()) {
        up_ = sock_ ? port_taken(w) : queue_taken(w);
        if (!up_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      // Another program may have taken the window meanwhile: ours then ends.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      up_ = up_ && process_->running();
      if (!up_) process_->kill_now();
    }
  }
  ~BenchLooper() {
    if (process_) process_->kill_now();
    if (up_ && !sock_) remove_queue(window_);
  }
  BenchLooper(const BenchLooper &) = delete;
  BenchLooper &operator=(const BenchLooper &) = delete;

  bool ready() const { return up_; }
  int window() const { return window_; }
  const TempDir &dir() const { return dir_; }
  // The window information line the looper wrote for "W<n>".
  std::string info_line() const { return zyb_test::read_file(dir_ / ("zorazez." + std::to_string(window_))); }

 private:
  bool sock_;
  bool up_ = false;
  int window_ = -1;
  TempDir dir_;
  std::unique_ptr<Process> process_;
};

void ignore_alarm(int) {}

// A client of this process, registered once.
class Client {
 public:
  Client(int window, int type) {
    MQ_settype(type);
    MQ_offset(kQueueOffset);
    MQ_timeout(20);
    MQ_timeout_func(ignore_alarm);
    q_ = MQ_open(window);
    if (q_ >= 0) id_ = MQ_connect(q_);
  }
  ~Client() {
    MQ_close(q_);
    MQ_timeout_func(nullptr);
    MQ_settype(MQ_SYSV);
  }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  bool ready() const { return id_ >= MQ_FIRST_CLIENT; }

  // Sends a record and reads the answers of its commands (one final line
  // each); the text of the last line, or "" when an answer did not come.
  std::string ask(const std::string &record, int commands = 1) {
    if (MQ_put(q_, id_, "%s", record.c_str()) < 0) return "";
    char text[MQ_TEXT_MAX + 3] = "";
    for (int done = 0; done < commands;) {
      const int code = MQ_get(q_, id_, text);
      if (code == MQ_LAST_LINE)
        done++;
      else if (code != MQ_MORE_LINES)
        return "";
    }
    return text;
  }

 private:
  int q_ = -1;
  int id_ = -1;
};

// ---------------------------------------------------------------------------
// (i) Round trips.

// Runs animctl to its end; the seconds it took, or -1 when it failed.
// *answered: the seconds until its answer was printed (after that it still
// gives its client slot back with a "quit" of its own).
double timed_animctl(int window, std::string *out, double *answered) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const std::string bin = zyb_test::bin("animctl");
  const std::string win = std::to_string(window);
  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    dup2(fds[1], 1);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 2);
    close(fds[0]);
    execl(bin.c_str(), bin.c_str(), "-wn", win.c_str(), "qu num", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  out->clear();
  char buffer[256];
  ssize_t n;
  *answered = -1;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
    if (*answered < 0) *answered = seconds_since(start);
    out->append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  const double seconds = seconds_since(start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// A call made right after the previous answer would meet the looper at the
// same point of its polling cycle every time; real requests come at any
// point of it. A pause of a random part of the slice before each call (not
// timed) spreads them over the cycle.
void random_phase() {
  static std::mt19937 rng(6496);
  std::uniform_real_distribution<double> part(0.0, kPollSlice);
  std::this_thread::sleep_for(std::chrono::duration<double>(part(rng)));
}

void report_median(benchmark::State &state, const char *what, const std::vector<double> &times, double target,
                   const char *ratio_name) {
  const double m = median(times);
  state.counters["median_s"] = m;
  state.counters["worst_s"] = times.empty() ? 0.0 : *std::max_element(times.begin(), times.end());
  state.counters[ratio_name] = m / target;
  std::printf("%s: median %.3f s over %zu calls, %s = %.2f\n", what, m, times.size(), ratio_name, m / target);
}

void BM_AnimctlRoundTrip(benchmark::State &state) {
  if (display_name().empty()) return state.SkipWithError("no Xvfb display");
  BenchLooper looper({"-cd", "op"}, false);
  if (!looper.ready()) return state.SkipWithError("no free window in 950-959");
  std::vector<double> times, answers;
  for (auto _ : state) {
    random_phase();
    std::string out;
    double answered = 0.0;
    const double seconds = timed_animctl(looper.window(), &out, &answered);
    if (seconds < 0 || out != "0\n") return state.SkipWithError(("animctl answered: " + out).c_str());
    times.push_back(seconds);
    answers.push_back(answered);
    state.SetIterationTime(seconds);
  }
  report_median(state, "animctl round trip", times, kAnimctlTarget, "ratio_to_0.25s");
  state.counters["answer_median_s"] = median(answers);
  std::printf("animctl answer printed after: median %.3f s\n", median(answers));
}
BENCHMARK(BM_AnimctlRoundTrip)->Iterations(call_count())->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_QueueRoundTrip(benchmark::State &state) {
  if (display_name().empty()) return state.SkipWithError("no Xvfb display");
  const int type = state.range(0) ? MQ_TCP : MQ_SYSV;
  BenchLooper looper({"-cd", "op"}, type == MQ_TCP);
  if (!looper.ready()) return state.SkipWithError("no free window in 950-959");
  Client client(looper.window(), type);
  if (!client.ready()) return state.SkipWithError("cannot register");
  std::vector<double> times;
  for (auto _ : state) {
    random_phase();
    const Clock::time_point start = Clock::now();
    const std::string answer = client.ask("qu num");
    const double seconds = seconds_since(start);
    if (answer != "0\n") return state.SkipWithError(("answer: " + answer).c_str());
    times.push_back(seconds);
    state.SetIterationTime(seconds);
  }
  report_median(state,
                type == MQ_TCP ? "registered client round trip (TCP)" : "registered client round trip (System V)",
                times, kPollSlice, "ratio_to_0.2s");
}
BENCHMARK(BM_QueueRoundTrip)->Arg(0)->Arg(1)->Iterations(call_count())->UseManualTime()->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// (ii) Frame timing.

// A 16 x 16 GIF of one colour; each frame gets its own.
bool write_colour_gif(const std::string &path, int index) {
  ImageRecord img;
  IMG_init(&img);
  img.width = img.height = img.bytes_per_line = 16;
  img.depth = img.bits_per_pixel = 8;
  img.color_type = 1;
  bool ok = IMG_alloc_pixels(&img) != nullptr && IMG_alloc_colors(&img, 2) != nullptr;
  if (ok) {
    img.colors[0] = {(index * 37 % 256) / 255.0f, (index * 91 % 256) / 255.0f, (255 - index) / 255.0f};
    img.colors[1] = img.colors[0];
    ok = GIF_write(path.c_str(), &img) == 1;
  }
  IMG_free(&img);
  return ok;
}

// Sends commands, as many to a record as fit; false when one went unanswered.
bool send_all(Client &client, const std::vector<std::string> &commands) {
  size_t next = 0;
  while (next < commands.size()) {
    std::string record = commands[next];
    int count = 1;
    while (next + count < commands.size() &&
           record.size() + 1 + commands[next + count].size() <= static_cast<size_t>(MQ_TEXT_MAX))
      record += ";" + commands[next + count++];
    if (client.ask(record, count).empty()) return false;
    next += static_cast<size_t>(count);
  }
  return true;
}

// The frame number in a title "name [n]", or -1.
int frame_in_title(Display *display, Window window) {
  char *name = nullptr;
  int frame = -1;
  if (XFetchName(display, window, &name) && name) {
    if (const char *open = std::strrchr(name, '[')) frame = std::atoi(open + 1);
  }
  if (name) XFree(name);
  return frame;
}

struct FrameChange {
  Time server_ms;
  int frame;
};

// WM_NAME changes of window for the given time, each with the frame it names.
std::vector<FrameChange> watch_frames(Display *display, Window window, double seconds) {
  std::vector<FrameChange> changes;
  const int fd = ConnectionNumber(display);
  const Clock::time_point start = Clock::now();
  while (seconds_since(start) < seconds) {
    if (XPending(display) == 0) {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 10);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type != PropertyNotify || event.xproperty.atom != XA_WM_NAME || event.xproperty.state != PropertyNewValue)
      continue;
    changes.push_back({event.xproperty.time, frame_in_title(display, window)});
  }
  return changes;
}

void BM_LoopFrameIntervals(benchmark::State &state) {
  if (display_name().empty()) return state.SkipWithError("no Xvfb display");
  BenchLooper looper({"-cd", "se na Timing;op"}, false);
  if (!looper.ready()) return state.SkipWithError("no free window in 950-959");
  Client client(looper.window(), MQ_SYSV);
  if (!client.ready()) return state.SkipWithError("cannot register");

  std::vector<std::string> setup(kLoopFrames, "cr");
  setup.push_back("stop");
  for (int i = 0; i < kLoopFrames; i++) {
    const std::string name = "c" + std::to_string(i) + ".gif";
    if (!write_colour_gif(looper.dir() / name, i)) return state.SkipWithError("cannot write a GIF");
    setup.push_back("ld " + std::to_string(i) + " " + name);
  }
  if (!send_all(client, setup)) return state.SkipWithError("setting up the frames failed");

  unsigned long root = 0, drawable = 0;
  if (std::sscanf(looper.info_line().c_str(), "+%lu:%lu", &root, &drawable) != 2)
    return state.SkipWithError("no window information file");
  Display *display = XOpenDisplay(display_name().c_str());
  if (display == nullptr) return state.SkipWithError("cannot open the display");
  XSelectInput(display, root, PropertyChangeMask);
  XSync(display, False);

  const std::string delay = std::to_string(kFrameDelay);
  if (client.ask("se de " + delay + ";se pa " + delay + ";start", 3).empty()) {
    XCloseDisplay(display);
    return state.SkipWithError("the loop did not start");
  }
  // The first changes still carry the start-up: leave them out.
  watch_frames(display, root, 0.5);

  std::vector<double> intervals;
  int skipped = 0;
  for (auto _ : state) {
    const std::vector<FrameChange> changes = watch_frames(display, root, loop_seconds());
    for (size_t i = 1; i < changes.size(); i++) {
      intervals.push_back(static_cast<double>(changes[i].server_ms - changes[i - 1].server_ms) / 1000.0);
      if (changes[i].frame != (changes[i - 1].frame + 1) % kLoopFrames) skipped++;
    }
    state.SetIterationTime(loop_seconds());
  }
  XCloseDisplay(display);
  if (intervals.empty()) return state.SkipWithError("no frame changes seen");

  double sum = 0.0, worst = 0.0;
  int within = 0;
  for (double s : intervals) {
    sum += s;
    worst = std::max(worst, s);
    if (std::abs(s - kFrameDelay) <= 0.1 * kFrameDelay) within++;
  }
  const double mean = sum / static_cast<double>(intervals.size());
  state.counters["intervals"] = static_cast<double>(intervals.size());
  state.counters["mean_s"] = mean;
  state.counters["worst_s"] = worst;
  state.counters["mean_ratio_to_0.05s"] = mean / kFrameDelay;
  state.counters["worst_ratio_to_0.05s"] = worst / kFrameDelay;
  state.counters["share_within_10pct"] = static_cast<double>(within) / static_cast<double>(intervals.size());
  state.counters["skipped_frames"] = skipped;
  std::printf(
      "frame intervals at %.2f s: %zu intervals, mean %.4f s (ratio %.3f), worst %.4f s (ratio %.3f), "
      "%.0f %% within 10 %%, %d skipped\n",
      kFrameDelay, intervals.size(), mean, mean / kFrameDelay, worst, worst / kFrameDelay,
      100.0 * within / static_cast<double>(intervals.size()), skipped);
}
BENCHMARK(BM_LoopFrameIntervals)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
