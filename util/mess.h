// Diagnostic and informative output, filtered by message class.
//
// Every message carries a 32-bit class mask; it is shown only when one of
// its bits is enabled in the current message level. Each class owns four
// bits so that a message can pick one of four sub-levels (a to d).
#pragma once

#include <cstdarg>

// Class masks.
constexpr unsigned int MESS_PRINT = 0x0000000Fu;
constexpr unsigned int MESS_ERROR = 0x00000030u;
constexpr unsigned int MESS_WARN = 0x000000C0u;
constexpr unsigned int MESS_MESS = 0x00000F00u;
constexpr unsigned int MESS_OUT1 = 0x0000F000u;
constexpr unsigned int MESS_OUT2 = 0x000F0000u;
constexpr unsigned int MESS_OUT3 = 0x00F00000u;
constexpr unsigned int MESS_OUT4 = 0x0F000000u;
constexpr unsigned int MESS_DEBUG = 0xF0000000u;
// Single sub-levels (a is the lowest bit of a class, d the highest) that
// some messages use so that they can be had without the rest of the class.
constexpr unsigned int MESS_PRINT_D = 0x00000008u;
constexpr unsigned int MESS_MESS_D = 0x00000800u;
constexpr unsigned int MESS_DEBUG_A = 0x10000000u;
constexpr unsigned int MESS_DEBUG_D = 0x80000000u;

// The level a fresh process starts with: print, error, warn, mess, out1, out2.
constexpr unsigned int MESS_DEFAULT_LEVEL = 0x000FFFFFu;

// Destination modes for MESS_set_out.
constexpr int MESS_OUT_FILE_ONLY = 0;
constexpr int MESS_OUT_TERMINAL = 1;
constexpr int MESS_OUT_DATED = -1;
constexpr int MESS_OUT_PER_MESSAGE = 2;

// Returns 1 when the message was enabled (and printed), 0 otherwise.
int MESS_print(unsigned int mask, const char *format, ...) __attribute__((format(printf, 2, 3)));
int MESS_vprint(unsigned int mask, const char *format, va_list args);

// The banner "      <title> (Ver <version>)" at the mess class.
int MESS_print_prog(const char *name);

// Applies a comma-separated message specification ("mess", "+debug",
// "-warn", "out4b", "fi=log", "@fi=log", "+fi=log", "-fi=log", "dfi=log",
// "page", "nopage", "line=30"). Counts as an explicit setting. Returns 0.
int MESS_set_str(const char *spec);

// Numeric form used by the resource layer: the last decimal digit of code
// selects set (0), add (1) or remove (9 or -1). Returns 0.
int MESS_set(int code, unsigned int bits);

int MESS_check(unsigned int mask);  // 1 when any bit of mask is enabled
int MESS_check_set();               // number of explicit settings so far
unsigned int MESS_get();            // the current level
int MESS_get_max_lines();
int MESS_get_out();
int MESS_get_page();

int MESS_set_out(int mode);
int MESS_set_page(int page);

// A second, extra copy of every enabled message goes to this file.
int MESS_file(const char *name, const char *mode);  // 0 ok, -1 failure
int MESS_file_close();

// The page pause: prompt and wait for one character on standard input.
int MESS_hold(unsigned int mask, const char *prompt);

// Back to the start-up state (level, mode, paging, files closed). For
// programs that reinitialise and for tests.
void MESS_reset();
