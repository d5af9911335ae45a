// How the main loop waits between its passes (the looper's own sources):
// on the queue's descriptors, the X connection and the descriptors other
// modules watch (LOOP_watch_fd), up to a time limit.
#pragma once

// Returns when a pass has work (queue records, X events, a watched
// descriptor ready) or after at most seconds; a negative limit leaves only
// the queue's own polling interval, if any.
void LOOP_wait(double seconds);

// Runs the handlers of the watched descriptors the last wait found ready.
void LOOP_serve_watches();
