#include "util/flag.h"

#include <array>

namespace {

struct FlagState {
  std::array<long long, FLAG_SLOTS> flags{};
  // Element 12 is the sum of 0..11 and element 0 the sum of 1..6, so a
  // caller can ask "anything selected?" or "any surface plot?" in one read.
  std::array<int, FLAG_PLOT_SLOTS> plot_it{};
};

FlagState &state() {
  static FlagState s;
  return s;
}

bool valid_slot(int slot) { return slot >= 0 && slot < FLAG_SLOTS; }

}  // namespace

int FLAG_set(int slot, long long value) {
  if (!valid_slot(slot)) return -1;
  state().flags[slot] = value;
  return 0;
}

long long FLAG_get(int slot) { return valid_slot(slot) ? state().flags[slot] : 0; }

int FLAG_reset(long long value) {
  state().flags.fill(value);
  return 0;
}

int FLAG_batch() { return state().flags[FLAG_BATCH] > 0; }

int FLAG_help() { return state().flags[FLAG_HELP] > 0; }

int FLAG_setplot(int index, int value) {
  if (index < 0 || index >= FLAG_PLOT_SLOTS) return -1;
  auto &plot = state().plot_it;
  plot[index] = value;
  if (index == 12)
    for (int i = 0; i < 12; i++) plot[i] = value;
  if (index == 0)
    for (int i = 1; i <= 6; i++) plot[i] = value;
  int surface = 0;
  for (int i = 1; i <= 6; i++) surface += plot[i];
  plot[0] = surface;
  int all = 0;
  for (int i = 0; i < 12; i++) all += plot[i];
  plot[12] = all;
  return 0;
}

int FLAG_getplot(int index) {
  if (index < 0 || index >= FLAG_PLOT_SLOTS) return 0;
  return state().plot_it[index];
}

int FLAG_resetplot(int value) {
  state().plot_it.fill(value);
  return 0;
}
