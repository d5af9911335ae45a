// Live loops: a watched directory whose new images join the loop as they
// arrive, the oldest frame leaving when there are more than the watch keeps.
//
// The main loop's part: LOOP_dir_watch_service() reads what happened in the
// directory and loads the files that are complete; it is cheap when nothing
// happened and may be called as often as convenient. It is due when
// LOOP_dir_watch_fd() is readable (the inotify descriptor; -1 without a watch
// or while polling) and when LOOP_dir_watch_timeout_ms() has run out (-1: no
// time-out needed). Both can change with every command, so they are read
// afresh before each wait.
#pragma once

#include <string>

// What a watch keeps at most: the frame table's size.
constexpr int LOOP_WATCH_KEEP_MAX = 128;

// The pattern that stands when none is given.
constexpr const char *LOOP_WATCH_DEFAULT_PATTERN = "*.gif *.png *.xwd *.zyb";

// Watches dir for files matching pattern (shell globs separated by blanks;
// nullptr or "" for the default), keeping the newest keep frames (1 to
// LOOP_WATCH_KEEP_MAX); the newest keep matching files there now are
// loaded at once, in name order. untrusted: the files are read under a
// client's rules. Replaces the watch in force. 1 ok; 0 when dir cannot be
// watched (a message says why, and the watch in force stays).
int LOOP_watch_start(const char *dir, const char *pattern, int keep, int untrusted);

// Ends the watch in force, if any. Returns 1 when there was one.
int LOOP_watch_stop();

// The watch in force: 1 with its directory (as given), pattern and number
// of frames kept; 0 when there is none.
int LOOP_watch_info(std::string *dir, std::string *pattern, int *keep);

int LOOP_dir_watch_fd();
int LOOP_dir_watch_timeout_ms();
void LOOP_dir_watch_service();
