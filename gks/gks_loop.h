// Frames and the animation loop: a table of 128 window-sized pixmaps, the
// loop's direction, delays and on/off state.
#pragma once

constexpr int GKS_MAX_FRAMES = 128;
constexpr int GKS_FRAME_DATA_MAX = 52;

// Frame references besides 0 .. 127.
constexpr int GKS_FRAME_LAST = -1;     // the last frame of the loop
constexpr int GKS_FRAME_CURRENT = -2;  // the frame last displayed
constexpr int GKS_FRAME_WINDOW = -3;   // the base window itself
constexpr int GKS_FRAME_ALL = -4;      // all frames (delays only)

// Loop directions.
constexpr int GKS_LOOP_BACKWARD = 0;
constexpr int GKS_LOOP_FORWARD = 1;
constexpr int GKS_LOOP_ALT_BACK = 2;
constexpr int GKS_LOOP_ALT_FORWARD = 3;

constexpr float GKS_DEFAULT_DELAY = 0.5f;
constexpr float GKS_END_PAUSE = 1.0f;

int ginit_loop();
int gget_num_images();
int gcreate_frame(int n);  // n < 0 appends; returns the index used, -1 when none
int gselect_frame(int n);
int gclear_frame(int n);
int gcopy_frame(int dst, int src);
int gswitch_frame(int a, int b);
int gswap_frame(int a, int b);  // same as gswitch_frame
int gdisplay_frame(int n);      // n < 0: the current frame
int gdelete_frame(int n);       // 1 done, 0 refused
int gdelete_all_frames();
// Live loops. gappend_frame adds a frame at the end of the loop and hands
// it the end pause (the previous last frame gets the loop delay); returns
// its index, or -3 (the window) when no frame could be made.
// gremove_frame takes frame n out of the loop without redrawing anything:
// later frames move down with their delays and data, the end pause stays
// at the end, the draw target and the current index follow their pictures.
// When n is the frame on show, the window goes on showing it until the
// next frame is displayed, which is the one that followed it. 1 done, 0 refused.
// groll_frame is gremove_frame(0) and gappend_frame in one, the new frame
// taking the old one's pixmap as it is (not cleared: the caller draws over
// it).
int gappend_frame();
int gremove_frame(int n);
int groll_frame();

int gset_looping(int on);
int gtoggle_loop(int mode);  // 0 stop, 1 start, other toggle
int gget_looping();
int gset_loop_direct(int direction);
int gget_loop_direct();
int gset_loop_delay(int n, float seconds);
int ginc_loop_delay(float delta);
float gget_loop_delay();
// The frame's delay. For the frame on show (-2) it is the time that frame
// stays on screen in the loop: frame 0 adds the first-frame pause.
float gget_frame_delay(int n);
// An extra pause on frame 0, the first frame of each pass; 0 by default.
int gset_first_pause(float seconds);
float gget_first_pause();
int ginc_frame(int step);  // the frame to show next, -1 without frames
int gget_cur_frame();
unsigned long gget_frame_id(int n);
int gset_frame_id(int n, unsigned long pixmap);
int gset_image_data(int n, const void *data, int len);
int gget_image_data(int n, void *out);  // out holds GKS_FRAME_DATA_MAX bytes; returns the length
int gset_loop_title(int on);
int gget_loop_title();
