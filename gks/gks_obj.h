// The object cache: a display list of the kernel's transformation,
// attribute and primitive calls, so that a plot can be replayed (into a
// metafile, or after the window is re-created). gnew_obj also counts the
// kernel's output calls and serves pending window events every 500 of them,
// so that a long plot keeps the window responsive.
#pragma once

// Object codes, the type argument of gnew_obj.
constexpr int GOBJ_MESSAGE = 5;
constexpr int GOBJ_WS_VP = 10;
constexpr int GOBJ_WS_WIN = 11;
constexpr int GOBJ_SEL_TRAN = 15;
constexpr int GOBJ_VP = 16;
constexpr int GOBJ_WIN = 17;
constexpr int GOBJ_COLR_REP = 20;
constexpr int GOBJ_CLEAR_REGION = 25;
constexpr int GOBJ_POLYLINE = 30;
constexpr int GOBJ_LINE_TYPE = 33;
constexpr int GOBJ_LINE_WIDTH = 34;
constexpr int GOBJ_LINE_COLR = 35;
constexpr int GOBJ_LINE_BOLD = 36;
constexpr int GOBJ_POLYMARKER = 40;
constexpr int GOBJ_MARK_TYPE = 43;
constexpr int GOBJ_MARK_SIZE = 44;
constexpr int GOBJ_MARK_COLR = 45;
constexpr int GOBJ_MARK_WIDTH = 46;
constexpr int GOBJ_TEXT = 50;
constexpr int GOBJ_TEXT_SPACE = 53;
constexpr int GOBJ_TEXT_CHAR_SPACE = 54;
constexpr int GOBJ_TEXT_EXPAN = 55;
constexpr int GOBJ_TEXT_COLR = 56;
constexpr int GOBJ_TEXT_HEIGHT = 57;
constexpr int GOBJ_TEXT_UP = 58;
constexpr int GOBJ_TEXT_FONT = 59;
constexpr int GOBJ_TEXT_ALIGN = 60;
constexpr int GOBJ_TEXT_WIDTH = 61;
constexpr int GOBJ_FILL_AREA = 70;
constexpr int GOBJ_FILL_STYLE = 73;
constexpr int GOBJ_FILL_INDEX = 74;
constexpr int GOBJ_FILL_COLR = 75;
constexpr int GOBJ_FILL_SOLID = 76;
constexpr int GOBJ_FUNC = 999;

int ginit_objs();          // count from 0, append after the head; "zybredraw=no" stops recording
int gset_cache(int flag);  // event processing on or off
int gget_cache();
// Recording on or off; returns the previous flag. Switching it on records
// the transformations and attributes in force first, so that a replay
// starts from them.
int gset_redraw(int flag);
int gget_redraw();
int gget_num_objects();  // calls counted since ginit_objs

// Appends a record (while recording) and returns its data buffer of size
// bytes, filled from data when data is given; nullptr when nothing was
// recorded or size is 0.
void *gnew_obj(int type, int value, int size, const void *data);
// While recording, a record that calls function(argument) on replay; the
// argument (from malloc) then belongs to the cache.
int gset_redraw_func(int (*function)(void *), void *argument);
int gclear_objs();
int gget_obj_count();  // records held

// Replays one record by its code: the record's kernel call. 0, or -1 for a
// record that cannot be replayed.
int gobj_redraw_funcs(int type, int value, const void *data);

// Replays the whole cache into a file of a workstation type (GKS_META in
// the kind gmeta_get_type gives, GKS_PS or GKS_HPGL); name nullptr takes
// the kind's default. A metafile starts with the kernel's transformations
// and attributes as they are, so that it draws the same wherever it is
// played. With image_tran >= 0 the draw target's picture goes first, as an
// image filling the viewport of that transformation, on kinds that take
// images. The workstation type, window size, transformations, attributes
// and recording are as before afterwards. 0, or -1 when the kind is not
// built, a print is already running, or the file could not be written.
int gobj_print_file(int type, const char *name, int image_tran);
// Into the metafile named by "METAOUT" (or "zyb.meta").
int gobj_print_meta();
// Into the PostScript file the PostScript workstation would write, on a
// page of 757 x 577 points.
int gobj_print_plot();
// Draws the cache again on the window after a re-set-up of the plot state
// (ginit_plot), serving events every 200 records; a metafile print started
// from an event ends it early. Recording and event processing are on
// afterwards. 0, or -1 during a print.
int gobj_redraw();
