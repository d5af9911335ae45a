// The process-wide flag store filled by the resource database.
#pragma once

constexpr int FLAG_SLOTS = 30;
constexpr int FLAG_DEVICE = 2;  // output device class (type-17 options)
constexpr int FLAG_DOMAIN = 5;  // result of the last domain decode
constexpr int FLAG_BATCH = 19;
constexpr int FLAG_HELP = 20;
constexpr int FLAG_PLOT_SLOTS = 13;

int FLAG_set(int slot, long long value);  // 0, or -1 for a slot outside 0..29
long long FLAG_get(int slot);             // 0 for a slot outside 0..29
int FLAG_reset(long long value);
int FLAG_batch();
int FLAG_help();

int FLAG_setplot(int index, int value);  // 0, or -1 for an index outside 0..12
int FLAG_getplot(int index);
int FLAG_resetplot(int value);
