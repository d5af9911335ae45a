// Text: the text attributes, the font list and the loaded font (a stroke
// font, or an X server font named "#name"), the text primitive, and the
// drop shadow that text and markers share.
#pragma once

#include "gks/gks_font.h"

typedef struct _XGC *GC;

// What is loaded (gget_font_type).
constexpr int GKS_FONT_NONE = 0;
constexpr int GKS_FONT_STROKE = 1;
constexpr int GKS_FONT_X = 2;

constexpr int GKS_FONT_LIST_TEXT_MAX = 80;  // of gset_font_list
constexpr int GKS_FONT_DROP_MAX = 20;       // deeper drop shadows are refused
// Refused beyond these (and below 0, or when not a number).
constexpr float GKS_TEXT_HEIGHT_MAX = 1.0e6f;  // world units
constexpr float GKS_TEXT_EXPAN_MAX = 100.0f;
constexpr float GKS_TEXT_SPACE_MAX = 100.0f;  // in either direction

int greset_text();
int ginit_text(int mode);  // a GKS_PLOT_* mode

// Builds the font list and loads the current font; called when a
// workstation opens.
int gsetup_fonts();
// Loads one font: a stroke font file found along "file_path", or "#name",
// an X server font. 0, or -1 (the glyph tables are then empty).
int read_font(const char *name);
// Releases an X font while its connection is still open (workstation close).
int gfree_text_font();
// A font list text that gsetup_fonts then prefers; at most
// GKS_FONT_LIST_TEXT_MAX characters are kept. Returns 1.
int gset_font_list(const char *list);
// The font number of a name or a decimal number; 1 when nothing matches.
int gget_font_index(const char *name);

// Text at a world position (x, y). 0, or -1.
int gtext(const float pos[2], const char *string);

int gset_text_colr_ind(int ci);
int gset_expan(float f);
int gset_text_width(float w);
int gset_char_ht(float h);
int gset_char_up_vec(const float v[2]);
int gset_text_align(const int a[2]);  // horizontal 0..3, vertical 0..5
int gset_space(float s);
int gset_char_space(float s);
int gset_fontprec(const int fp[2]);  // font number, precision
int gset_text_path(int path);        // does nothing

int ginq_text_align(int *err, int out[2]);
int ginq_text_fontprec(int *err, int out[2]);
int gget_text_colr();
float gget_text_width();
GC gget_text_gc();
int gget_font_type();
// The attributes that shape stroke text (height, expansion, spacing,
// alignment, up vector).
const TextAttributes &gget_text_attributes();

// Drop shadow of text and markers, in pixels (0 none). 0, or -1 beyond
// 0 .. GKS_FONT_DROP_MAX.
int gset_font_drop(int d);
int gget_font_drop();
int gset_font_drop_color(int ci);  // does nothing

// Where a driver's stroke text goes: the strokes (StrokeSink), and when
// each copy of the string starts and the shadow's copies begin and end.
class TextSink : public StrokeSink {
 public:
  // A copy of the string is laid out from world (x, y).
  virtual void string_begin(float x, float y) {}
  // The copies of the drop shadow begin (true) and end (false).
  virtual void shadow(bool on) {}
};

// Lays a string out in the loaded stroke font at world pos: the drop
// shadow's copies i = 0 .. drop - 1 pixels right and down, then the
// string. -1 when no stroke font is loaded.
int gtext_strokes(const float pos[2], const char *string, TextSink *sink);
