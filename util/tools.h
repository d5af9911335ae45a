// Line reading and byte-order helpers.
#pragma once

#include <cstdio>

constexpr int TOOLS_LINE_MAX = 160;  // fgetline reads at most this many characters

// All three stop at a line feed (left in the stream); a line feed at the
// current position is skipped first. They return EOF at the end of input.
int fgetline(FILE *stream, char *buffer);           // buffer >= 161 bytes; the length
int fgetnline(FILE *stream, char *buffer, int n);   // buffer >= n+1; characters consumed
int fgetstring(FILE *stream, char *buffer, int n);  // buffer >= n+1; 1 when a string was read

// order: 1 data are big-endian, 2 little-endian, -1 never swap.
int swap_setup(int order);
int swap_long(void *four_bytes);  // -1 when swapping is off, else 0
int swap_longs(void *array, int count);
int swap_shorts(void *array, int count);
int swap_active();  // 1 when the swap routines act
