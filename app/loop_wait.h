// How the main loop waits between its passes (the looper's own sources):
// on the queue's descriptors, the X connection and the descriptors other
// modules watch (LOOP_watch_fd), up to a time limit.
#pragma once

// Returns when a pass has work (queue records, X events, a watched
// descriptor ready) or after at most seconds; a negative limit leaves only
// the queue's own polling interval, if any. x_talked: the looper talked to
// the X server since it last served events, so Xlib may hold events that
// the connection's descriptor does not show. True when X events wait.
bool LOOP_wait(double seconds, bool x_talked);

// Runs the handlers of the watched descriptors the last wait found ready;
// true when one ran (it may have talked to the X server).
bool LOOP_serve_watches();
