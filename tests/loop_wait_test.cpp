// The main loop's waiting, in a child process that runs the real loop: a
// descriptor another module watches wakes it at once, though the looper
// has no queue and no window that would ever wake it otherwise.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "app/loop.h"
#include "client_util.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Pipes {
  int watched[2];
  int seen[2];
};

// Reads one byte from the watched pipe and reports it; the second one ends
// the loop, and the descriptor is unwatched.
void on_readable(int fd, short, void *data) {
  auto *pipes = static_cast<Pipes *>(data);
  char byte = 0;
  if (read(fd, &byte, 1) != 1) return;
  if (byte == 'q') {
    LOOP_unwatch_fd(fd);
    LOOP_state().running = LOOP_STOP_KEEP_QUEUE;
  }
  (void)!write(pipes->seen[1], &byte, 1);
}

// The byte the loop reported within the time, or 0.
char seen_within(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  char byte = 0;
  return poll(&p, 1, ms) == 1 && read(fd, &byte, 1) == 1 ? byte : 0;
}

TEST(LoopWait, AWatchedDescriptorWakesTheLoopAndItsHandlerRunsInThePass) {
  unsetenv("DISPLAY");
  Pipes pipes;
  ASSERT_EQ(pipe(pipes.watched), 0);
  ASSERT_EQ(pipe(pipes.seen), 0);
  EXPECT_EQ(LOOP_watch_fd(-1, on_readable, nullptr), -1);
  EXPECT_EQ(LOOP_watch_fd(pipes.watched[0], nullptr, nullptr), -1);
  EXPECT_EQ(LOOP_unwatch_fd(pipes.watched[0]), -1) << "not watched yet";
  const pid_t looper = zyb_test::spawn([&] {
    LOOP_state().qid = -1;
    if (LOOP_watch_fd(pipes.watched[0], on_readable, &pipes) != 0) return 2;
    LOOP_message();
  });
  for (char byte : {'a', 'b'}) {
    const auto start = Clock::now();
    ASSERT_EQ(write(pipes.watched[1], &byte, 1), 1);
    EXPECT_EQ(seen_within(pipes.seen[0], 2000), byte);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 0.1);
  }
  ASSERT_EQ(write(pipes.watched[1], "q", 1), 1);
  EXPECT_EQ(seen_within(pipes.seen[0], 2000), 'q');
  EXPECT_EQ(zyb_test::reap(looper, 5), 0) << "the handler's stop ends the loop";
}

}  // namespace
