// The real looper and real clients over both transports: how fast calls
// are answered, bursts, clients that die in the middle of a conversation,
// lie about their process, flood the channel or stop reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client_util.h"
#include "looper_util.h"

namespace {

using namespace zyb_test;
using Clock = std::chrono::steady_clock;

constexpr WindowRange kWindows{960, 979};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

class Clients : public ::testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() { unsetenv("DISPLAY"); }
  void SetUp() override {
    MQ_settype(tcp() ? MQ_TCP : MQ_SYSV);
    MQ_offset(kQueueOffset);
    MQ_timeout(10);
    MQ_timeout_func(nullptr);
  }
  void TearDown() override { MQ_settype(MQ_SYSV); }
  bool tcp() const { return GetParam(); }
  // One animctl call with a short time-out: the exit status and what it printed.
  std::pair<int, std::string> animctl(const Looper &looper, const std::vector<std::string> &words) const {
    std::vector<std::string> argv = {bin("animctl"), "-wn", std::to_string(looper.window()), "-pa",
                                     tcp() ? "qtype=sock,to=5" : "qtype=mqueue,to=5"};
    argv.insert(argv.end(), words.begin(), words.end());
    return call(argv);
  }
  std::unique_ptr<Looper> start_looper() const {
    auto looper = std::make_unique<Looper>(kWindows, std::vector<std::string>{"-wn", "%W"}, tcp());
    EXPECT_TRUE(looper->ready()) << "no free window in 960-979";
    return looper;
  }
};

// The seconds a call of "animctl -h" takes: starting the program alone.
double start_time() {
  const auto start = Clock::now();
  call({bin("animctl"), "-h"});
  return seconds_since(start);
}

// CPU seconds a process has used, from its scheduler statistics.
double cpu_seconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  double ns = 0;
  in >> ns;
  return ns / 1e9;
}

TEST_P(Clients, SequentialCallsAndABurstOfNineteenAreAllAnsweredAndAnIdleLooperSleeps) {
  auto looper = start_looper();
  ASSERT_TRUE(looper->ready());
  std::vector<double> times;
  // Twice as many calls as slots: a call that kept its slot starves the last ones.
  for (int i = 0; i < 2 * MQ_MAX_CLIENTS + 2; ++i) {
    const auto start = Clock::now();
    ASSERT_EQ(animctl(*looper, {"qu", "num"}), std::make_pair(0, std::string("0\n"))) << "call " << i;
    times.push_back(seconds_since(start));
  }
  // What the looper adds to starting the process: a looper that polled in
  // slices of 0.2 s added 0.4 s and more.
  std::vector<double> starts;
  for (int i = 0; i < 9; ++i) starts.push_back(start_time());
  EXPECT_LT(median(times) - median(starts), 0.1);

  std::vector<std::pair<int, std::string>> burst(MQ_MAX_CLIENTS);
  std::vector<std::thread> threads;
  for (auto &result : burst) threads.emplace_back([&] { result = animctl(*looper, {"qu", "num"}); });
  for (auto &t : threads) t.join();
  for (const auto &result : burst) EXPECT_EQ(result, std::make_pair(0, std::string("0\n")));

  const double before = cpu_seconds(looper->process().pid());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(cpu_seconds(looper->process().pid()) - before, 0.05) << "an idle looper spins";

  // Every call gave its slot back as it ended, so a newcomer gets the first
  // one; a call that left without "quit" would leave its slot taken.
  RawClient next(tcp(), looper->window());
  EXPECT_EQ(next.register_as("0 " + std::to_string(getpid()), MQ_PID_ADDRESS + getpid()), MQ_FIRST_CLIENT);
}

// Eighteen clients wait in the middle of their conversations while a
// nineteenth is killed in the middle of its own: a twentieth gets its slot.
TEST_P(Clients, AClientKilledMidConversationFreesItsSlotAndNoLiveOneLosesIt) {
  auto looper = start_looper();
  ASSERT_TRUE(looper->ready());
  const int window = looper->window();
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> holders;
  for (int i = 0; i < MQ_MAX_CLIENTS - 1; ++i)
    holders.push_back(spawn([&] {
      close(go[1]);
      const int q = MQ_open(window), id = MQ_connect(q);
      char text[MQ_TEXT_MAX + 3], mark = 0;
      if (id < MQ_FIRST_CLIENT || write(ready[1], "r", 1) != 1 || read(go[0], &mark, 1) < 0) return 2;
      MQ_put(q, id, "qu num");
      return MQ_get(q, id, text) == MQ_LAST_LINE && std::string(text) == "0\n" ? 0 : 1;
    }));
  const pid_t victim = spawn([&] {
    const int q = MQ_open(window), id = MQ_connect(q);
    if (id < MQ_FIRST_CLIENT || write(ready[1], "r", 1) != 1) return 2;
    MQ_put(q, id, "qu num");
    pause();
    return 0;
  });
  close(ready[1]);
  close(go[0]);
  char mark;
  for (int i = 0; i < MQ_MAX_CLIENTS; ++i) {
    pollfd p{ready[0], POLLIN, 0};
    ASSERT_TRUE(poll(&p, 1, 10000) == 1 && read(ready[0], &mark, 1) == 1) << "client " << i << " did not register";
  }
  kill(victim, SIGKILL);
  EXPECT_EQ(reap(victim, 5), 128 + SIGKILL);
  EXPECT_EQ(animctl(*looper, {"qu", "num"}), std::make_pair(0, std::string("0\n"))) << "the twentieth client";
  close(go[1]);
  for (pid_t holder : holders) EXPECT_EQ(reap(holder, 10), 0) << "a live client lost its slot";
  close(ready[0]);
}

// Seventeen registrations name a process that has ended, one a process id
// that is no number, one a live process of another user (when the test can
// make one): the sweep frees only the seventeen.
TEST_P(Clients, OnlySlotsOfEndedProcessesAreFreedWhenAllAreTaken) {
  auto looper = start_looper();
  ASSERT_TRUE(looper->ready());
  const int dead = dead_pid();
  pid_t other = 1;
  if (getuid() == 0) other = spawn([] { return setuid(65534) == 0 ? (sleep(60), 0) : 1; });
  std::vector<std::unique_ptr<RawClient>> clients;
  auto registered = [&](const std::string &text, long address) {
    clients.push_back(std::make_unique<RawClient>(tcp(), looper->window()));
    return clients.back()->register_as(text, address);
  };
  for (int i = 0; i < MQ_MAX_CLIENTS - 2; ++i)
    ASSERT_GE(registered("0 " + std::to_string(dead), MQ_PID_ADDRESS + dead), MQ_FIRST_CLIENT);
  const int no_number = registered("0 12ab", 2),
            foreign = registered("0 " + std::to_string(other), MQ_PID_ADDRESS + other);
  ASSERT_GE(no_number, MQ_FIRST_CLIENT);
  ASSERT_GE(foreign, MQ_FIRST_CLIENT);
  EXPECT_EQ(animctl(*looper, {"qu", "num"}), std::make_pair(0, std::string("0\n"))) << "the twentieth client";
  EXPECT_EQ(clients[MQ_MAX_CLIENTS - 2]->ask(no_number, "qu num"), "0\n");
  EXPECT_EQ(clients[MQ_MAX_CLIENTS - 1]->ask(foreign, "qu num"), "0\n");
  if (other != 1) {
    kill(other, SIGKILL);
    reap(other, 5);
  }
}

// While one client floods the channel with commands and does not read the
// answers, another floods it with records of nobody, and (over TCP) a third
// stalls half-way through a record, the others are answered at once; the
// flooder keeps its slot and is answered once it reads again.
TEST_P(Clients, FloodersNonReadersAndStallersHoldNobody) {
  auto looper = start_looper();
  ASSERT_TRUE(looper->ready());
  const int window = looper->window();
  constexpr double kFloodSeconds = 1.5;
  const pid_t flooder = spawn([&] {
    lowest_priority();
    const int q = MQ_open(window), id = MQ_connect(q);
    if (id < MQ_FIRST_CLIENT) return 2;
    for (const auto start = Clock::now(); seconds_since(start) < kFloodSeconds;) MQ_put(q, id, "qu num;qu la");
    // What was kept for it, until a second of silence; then one more command.
    MQ_timeout(1);
    MQ_timeout_func(+[](int) {});
    char text[MQ_TEXT_MAX + 3];
    while (MQ_get(q, id, text) >= 0) {
    }
    MQ_put(q, id, "se na Marker");
    for (int code = 0; code >= 0;)
      if ((code = MQ_get(q, id, text)) >= 0 && std::string(text) == "Window name set to: Marker\n") return 0;
    return 1;
  });
  const pid_t nobody = spawn([&] {
    lowest_priority();
    RawClient raw(tcp(), window);
    for (const auto start = Clock::now(); seconds_since(start) < kFloodSeconds;) raw.send('Z', "from nobody");
    return 0;
  });
  RawClient staller(tcp(), window);
  if (tcp()) {
    const int id = staller.register_as("0 1", 0);
    ASSERT_GE(id, MQ_FIRST_CLIENT);
    ASSERT_TRUE(staller.send_raw(std::string(1, '\x14') + static_cast<char>('0' + id) + "half"));
  }
  std::vector<double> times;
  std::vector<double> starts;
  for (const auto start = Clock::now(); seconds_since(start) < kFloodSeconds;) {
    starts.push_back(start_time());
    const auto call_start = Clock::now();
    ASSERT_EQ(animctl(*looper, {"qu", "num"}), std::make_pair(0, std::string("0\n")));
    times.push_back(seconds_since(call_start));
  }
  EXPECT_LT(median(times) - median(starts), 0.2);
  EXPECT_EQ(reap(nobody, 10), 0);
  EXPECT_EQ(reap(flooder, 15), 0) << "the flooder lost its slot or its stream";
  EXPECT_EQ(animctl(*looper, {"qu", "num"}), std::make_pair(0, std::string("0\n")));
  EXPECT_TRUE(looper->process().running());
}

INSTANTIATE_TEST_SUITE_P(Transports, Clients, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Tcp" : "SystemV"; });

}  // namespace
