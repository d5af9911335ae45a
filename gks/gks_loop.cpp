// Frames and looping. Frames are pixmaps in the X server; showing one is a
// server-side copy into the base window and one copy to the screen, so no
// pixel data passes through this process.
#include "gks/gks_loop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gks/gks_colr.h"
#include "gks/gks_obj.h"
#include "gks/gks_state.h"
#include "gks/gks_x11.h"
#include "gks/gks_zoom.h"
#include "util/mess.h"

namespace {

constexpr unsigned int kFrameLog = 0x0F000000u;  // out4
constexpr unsigned int kLoopDebug = 0x40000000u;
constexpr int kNoSlot = -99;
constexpr int kTitleExtraMax = 30;

GksState &st() { return gks_state(); }

// Loop settings that only this area reads.
struct LoopSettings {
  float first_pause = 0.0f;  // extra time on frame 0 in each pass
};
LoopSettings settings;

// Nearly everything needs a connection and a drawable.
bool display_ready() { return st().display && st().draw_window; }

bool is_slot(int n) { return n >= 0 && n < GKS_MAX_FRAMES; }

// -1 and -2 become slot numbers; -3 stays the window; anything that then
// names no slot becomes kNoSlot.
int resolve(int n) {
  if (n == GKS_FRAME_LAST)
    n = st().num_images - 1;
  else if (n == GKS_FRAME_CURRENT)
    n = st().cur_image;
  else if (n == GKS_FRAME_WINDOW)
    return GKS_FRAME_WINDOW;
  return is_slot(n) ? n : kNoSlot;
}

Pixmap pixmap_of(int resolved) {
  if (resolved == GKS_FRAME_WINDOW) return st().base_window;
  return is_slot(resolved) ? st().images[resolved].pixmap : 0;
}

void free_pixmap(GksFrame &frame) {
  if (frame.pixmap && st().display) XFreePixmap(st().display, frame.pixmap);
  frame.pixmap = 0;
}

unsigned long background_pixel() {
  int pixel = gget_color_ind(-1);
  return pixel >= 0 ? static_cast<unsigned long>(pixel) : st().back_colr;
}

// Delays come from commands and keys; a negative or non-finite one would
// make the main loop's wait meaningless.
float sane_delay(float seconds) { return (std::isfinite(seconds) && seconds > 0.0f) ? seconds : 0.0f; }

// The slot that receives a new frame, or kNoSlot when there is no room.
int slot_for_create(int n) {
  if (n < 0) n = st().num_images;
  if (!is_slot(n)) {
    gerr_printf("gcreate_frame", "no room for frame %d: the table holds %d frames\n", n, GKS_MAX_FRAMES);
    return kNoSlot;
  }
  return n;
}

bool make_pixmap(GksFrame &frame) {
  GksState &s = st();
  if (frame.pixmap) return true;
  if (s.win_width <= 0 || s.win_height <= 0 || !s.root_window) return false;
  s.Xerror = 0;
  frame.pixmap = XCreatePixmap(s.display, s.root_window, static_cast<unsigned>(s.win_width),
                               static_cast<unsigned>(s.win_height), static_cast<unsigned>(s.depth));
  XSync(s.display, False);
  if (s.Xerror) {
    // The server refused (out of memory): the id names nothing.
    frame.pixmap = 0;
    gerr_printf("gcreate_frame", "unable to create a frame pixmap\n");
    return false;
  }
  return true;
}

void show_number_in_title(int n) {
  if (!st().loop_title || st().num_images <= 0) return;
  char extra[kTitleExtraMax + 1];
  std::snprintf(extra, sizeof extra, "[%d]", n);
  gset_win_title_extra(extra);
}

}  // namespace

int ginit_loop() {
  GksState &s = st();
  for (GksFrame &frame : s.images) {
    free_pixmap(frame);
    frame = GksFrame{};
  }
  s.num_images = 0;
  s.cur_image = -1;
  return 0;
}

int gget_num_images() { return st().num_images; }

int gcreate_frame(int n) {
  if (!display_ready()) return 0;
  GksState &s = st();
  int slot = slot_for_create(n);
  // A full table keeps every frame: the caller gets the window to draw on.
  if (slot == kNoSlot) return GKS_FRAME_WINDOW;
  if (!make_pixmap(s.images[slot])) return GKS_FRAME_WINDOW;
  gclear_frame(slot);

  int count = s.num_images;
  if (slot > 0) s.images[slot - 1].delay = s.loop_delay;
  if (count < GKS_MAX_FRAMES) s.images[count].delay = GKS_END_PAUSE;
  XSync(s.display, False);
  MESS_print(kFrameLog, "Created frame: %d-%ld\n", count,
             count < GKS_MAX_FRAMES ? static_cast<long>(s.images[count].pixmap) : 0L);
  if (slot == count) s.num_images = slot + 1;
  return slot;
}

int gselect_frame(int n) {
  gset_redraw(0);
  int r = resolve(n);
  if (r == GKS_FRAME_WINDOW || r == kNoSlot)
    gset_draw_window(0);
  else
    gset_draw_window(st().images[r].pixmap);
  MESS_print(kFrameLog, "Selected frame: %d\n", r == kNoSlot ? n : r);
  return 0;
}

int gclear_frame(int n) {
  if (!display_ready()) return 0;
  GksState &s = st();
  Pixmap target = pixmap_of(resolve(n));
  if (!target || !s.root_gc) return 0;
  XSetForeground(s.display, s.root_gc, background_pixel());
  XFillRectangle(s.display, target, s.root_gc, 0, 0, static_cast<unsigned>(s.win_width),
                 static_cast<unsigned>(s.win_height));
  return 0;
}

int gcopy_frame(int dst, int src) {
  if (!display_ready()) return 0;
  GksState &s = st();
  int rd = resolve(dst), rs = resolve(src);
  Pixmap to = pixmap_of(rd), from = pixmap_of(rs);
  if (!to || !from || !s.root_gc) return 0;
  XCopyArea(s.display, from, to, s.root_gc, s.win_x, s.win_y, static_cast<unsigned>(s.win_width),
            static_cast<unsigned>(s.win_height), s.win_x, s.win_y);
  MESS_print(kLoopDebug, "Copy frame: %d->%d\n", rs, rd);
  return 0;
}

int gswitch_frame(int a, int b) {
  GksState &s = st();
  int ra = resolve(a), rb = resolve(b);
  if (ra == kNoSlot || rb == kNoSlot || ra == rb) return 0;
  Pixmap pa = pixmap_of(ra), pb = pixmap_of(rb);
  // The window must keep a backing pixmap.
  if ((ra == GKS_FRAME_WINDOW && !pb) || (rb == GKS_FRAME_WINDOW && !pa)) return 0;
  auto store = [&s](int ref, Pixmap id) {
    if (ref == GKS_FRAME_WINDOW)
      gset_base_window(id);
    else
      s.images[ref].pixmap = id;
  };
  store(ra, pb);
  store(rb, pa);
  if (s.draw_window == pa)
    s.draw_window = pb;
  else if (s.draw_window == pb)
    s.draw_window = pa;
  return 0;
}

int gswap_frame(int a, int b) { return gswitch_frame(a, b); }

int gdisplay_frame(int n) {
  if (!display_ready()) return 0;
  GksState &s = st();
  if (s.cur_image < 0) s.cur_image = 0;
  if (n < 0) n = s.cur_image;
  if (!is_slot(n)) return 0;

  if (gget_zoom() < 2)
    gcopy_frame(GKS_FRAME_WINDOW, n);
  else
    gzoom(n, -1, -1, -1, 1);
  gupdate_window();

  show_number_in_title(n);
  MESS_print(kLoopDebug, "Display frame: %d\n", n);
  s.cur_image = n;
  return 0;
}

int gdelete_frame(int n) {
  if (!display_ready()) return 0;
  GksState &s = st();
  int r = resolve(n);
  if (!is_slot(r)) return 0;

  if (r >= s.num_images && r != 0) {
    // Beyond the loop: nothing moves.
    free_pixmap(s.images[r]);
    return 1;
  }
  if (s.num_images > 0) {
    int old_count = s.num_images;
    free_pixmap(s.images[r]);
    // Whole records move down, so delays and attached data follow their pixmaps.
    std::move(s.images.begin() + r + 1, s.images.begin() + old_count, s.images.begin() + r);
    s.images[old_count - 1].pixmap = 0;
    s.num_images = old_count - 1;
    if (r == old_count - 1 && s.num_images > 0) {
      s.images[s.num_images - 1].delay = GKS_END_PAUSE;
      s.images[s.num_images].delay = s.loop_delay;
    }
  }
  if (s.num_images == 0) {
    if (s.root_window) XClearWindow(s.display, s.root_window);
    if (s.cur_image == 0) s.cur_image = -1;
    return 1;
  }
  if (s.cur_image == s.num_images) --s.cur_image;
  if (s.cur_image == r) gdisplay_frame(r);
  return 1;
}

int gappend_frame() {
  // gcreate_frame answers 0 without a display, which names a frame.
  if (!display_ready()) return GKS_FRAME_WINDOW;
  GksState &s = st();
  const int count = s.num_images;
  const float end_pause = count > 0 ? s.images[count - 1].delay : GKS_END_PAUSE;
  const int slot = gcreate_frame(-1);
  if (!is_slot(slot)) return GKS_FRAME_WINDOW;
  s.images[slot].delay = end_pause;
  return slot;
}

int gremove_frame(int n) {
  if (!display_ready()) return 0;
  GksState &s = st();
  const int r = resolve(n);
  if (!is_slot(r) || r >= s.num_images) return 0;

  const int old_count = s.num_images;
  const Pixmap gone = s.images[r].pixmap;
  const float gone_delay = s.images[r].delay;
  free_pixmap(s.images[r]);
  std::move(s.images.begin() + r + 1, s.images.begin() + old_count, s.images.begin() + r);
  s.images[old_count - 1] = GksFrame{};
  s.images[old_count - 1].delay = s.loop_delay;
  s.num_images = old_count - 1;
  if (r == old_count - 1 && s.num_images > 0) s.images[s.num_images - 1].delay = gone_delay;

  // Drawing into a pixmap that no longer exists would only raise X errors.
  if (gone && s.draw_window == gone) s.draw_window = s.base_window;
  // The picture on show stays. If it was this one, the current index goes
  // to the frame before, so that the one that followed it comes next (from
  // -1, "nothing shown yet", that is frame 0); otherwise the index follows
  // the picture and the title shows its new number.
  const bool shown_removed = s.cur_image == r;
  if (s.cur_image >= r) s.cur_image--;
  if (s.num_images == 0) s.cur_image = -1;
  if (!shown_removed && s.cur_image >= r) show_number_in_title(s.cur_image);
  MESS_print(kLoopDebug, "Removed frame: %d\n", r);
  return 1;
}

int groll_frame() {
  if (!display_ready()) return GKS_FRAME_WINDOW;
  GksState &s = st();
  // A slot without a pixmap has nothing to hand on.
  if (s.num_images < 1 || !s.images[0].pixmap) return gappend_frame();
  // The oldest picture goes, with whatever pointed at it; its pixmap stays
  // to hold the newest, which spares the server a new one.
  const Pixmap reused = s.images[0].pixmap;
  const float end_pause = s.images[s.num_images - 1].delay;
  s.images[0].pixmap = 0;
  if (s.draw_window == reused) s.draw_window = s.base_window;
  gremove_frame(0);
  const int slot = s.num_images;
  if (slot > 0) s.images[slot - 1].delay = s.loop_delay;
  s.images[slot].pixmap = reused;
  s.images[slot].delay = end_pause;
  s.num_images = slot + 1;
  return slot;
}

int gdelete_all_frames() {
  GksState &s = st();
  for (int i = 0; i < s.num_images && i < GKS_MAX_FRAMES; ++i) free_pixmap(s.images[i]);
  return 0;
}

// ---------------------------------------------------------------- loop state

int gset_looping(int on) {
  st().looping = on;
  if (on == 1) {
    gset_cursor(GKS_CURSOR_LOOP);
    MESS_print(kFrameLog, "Looping initiated\n");
  } else {
    gset_cursor(GKS_CURSOR_STOP);
    MESS_print(kFrameLog, "Looping stopped\n");
  }
  return 0;
}

int gtoggle_loop(int mode) {
  if (mode == 1)
    gset_looping(1);
  else if (mode == 0)
    gset_looping(0);
  else
    gset_looping(st().looping != 1 ? 1 : 0);
  gsync();
  return 0;
}

int gget_looping() { return st().looping; }

int gset_loop_direct(int direction) {
  st().loop_direct = direction;
  return 0;
}

int gget_loop_direct() { return st().loop_direct; }

int gset_loop_delay(int n, float seconds) {
  GksState &s = st();
  float delay = sane_delay(seconds);
  if (n == GKS_FRAME_ALL) {
    for (int i = 0; i < s.num_images - 1; ++i) s.images[i].delay = delay;
    return 0;
  }
  int r = resolve(n);
  if (is_slot(r)) s.images[r].delay = delay;
  return 0;
}

int ginc_loop_delay(float delta) {
  GksState &s = st();
  if (!std::isfinite(delta)) return 0;
  s.loop_delay = std::max(0.0f, s.loop_delay + delta);
  for (int i = 0; i < s.num_images - 1; ++i) s.images[i].delay = s.loop_delay;
  if (delta > 0)
    MESS_print(kFrameLog, "Loop delay incremented to: %2.2f\n", s.loop_delay);
  else
    MESS_print(kFrameLog, "Loop delay decremented to: %2.2f\n", s.loop_delay);
  return 0;
}

float gget_loop_delay() { return st().loop_delay; }

float gget_frame_delay(int n) {
  int r = resolve(n);
  if (!is_slot(r)) return 0.0f;
  const float pause = (n == GKS_FRAME_CURRENT && r == 0) ? settings.first_pause : 0.0f;
  return st().images[r].delay + pause;
}

int gset_first_pause(float seconds) {
  settings.first_pause = sane_delay(seconds);
  return 0;
}

float gget_first_pause() { return settings.first_pause; }

int ginc_frame(int step) {
  GksState &s = st();
  int count = s.num_images;
  if (count <= 0) return -1;
  if (s.cur_image == -1) return 0;
  // With one frame even the alternating turns can only name frame 0.
  if (count == 1) return 0;

  int direction = s.loop_direct;
  int candidate = s.cur_image + step;
  if (step == 0) candidate = (direction & 1) ? s.cur_image + 1 : s.cur_image - 1;
  MESS_print(kLoopDebug, "INC: %d-%d %d-%d\n", step, direction, s.cur_image, candidate);

  bool alternating = direction >= GKS_LOOP_ALT_BACK;
  int last = count - 1;
  if (candidate > last) {
    if (!alternating) return 0;
    s.loop_direct = GKS_LOOP_ALT_BACK;
    return count - 2;
  }
  if (candidate < 0) {
    if (!alternating) return last;
    s.loop_direct = GKS_LOOP_ALT_FORWARD;
    return 1;
  }
  return candidate;
}

int gget_cur_frame() { return st().cur_image; }

unsigned long gget_frame_id(int n) {
  int r = resolve(n);
  if (r == GKS_FRAME_WINDOW) return st().base_window;
  return is_slot(r) ? st().images[r].pixmap : 0;
}

int gset_frame_id(int n, unsigned long pixmap) {
  int r = resolve(n);
  if (!is_slot(r)) return -1;
  st().images[r].pixmap = pixmap;
  return 0;
}

int gset_image_data(int n, const void *data, int len) {
  int r = resolve(n);
  if (!is_slot(r)) return -1;
  GksFrame &frame = st().images[r];
  int kept = std::clamp(len, 0, GKS_FRAME_DATA_MAX);
  if (!data) kept = 0;
  if (kept > 0) std::memcpy(frame.data, data, static_cast<size_t>(kept));
  frame.data_len = kept;
  return kept;
}

int gget_image_data(int n, void *out) {
  int r = resolve(n);
  if (!is_slot(r) || !out) return 0;
  const GksFrame &frame = st().images[r];
  if (frame.data_len > 0) std::memcpy(out, frame.data, static_cast<size_t>(frame.data_len));
  return frame.data_len;
}

int gset_loop_title(int on) {
  st().loop_title = on;
  return 1;
}

int gget_loop_title() { return st().loop_title; }
