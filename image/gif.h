// GIF files: the first image of a file into an image record, and an image
// record out as a GIF89a file with our own LZW encoder.
#pragma once

#include "image/img_tool.h"

int GIF_read(const char *name, ImageRecord *img, int query);  // 1 ok, 0 failure
// Writes img as GIF89a. The record's pixels are replaced by their palette
// entry numbers on the way. 1 ok, 0 failure.
int GIF_write(const char *name, ImageRecord *img);

// ---- Animations ----

// Receives one composed frame of an animation: the record is the
// reader's, freed after the call; the sink may change its pixels (drawing
// maps colours in place) or take its arrays by setting data and colors to
// nullptr. delay_cs is the frame's delay in hundredths of a second. A
// non-zero return stops the reading.
using GifFrameSink = int (*)(ImageRecord *frame, int delay_cs, void *user);

// Reads every image of a GIF as a browser shows it: each composed onto
// the logical screen (its offset, transparency, local or global table,
// disposal of the image before), one full-screen frame per image, with
// the image's delay; the loop count is ignored. Of a file with more than
// max_frames images the last max_frames are delivered. Frames are
// colour-mapped records (depth 8, the global table) when every image uses
// the global table, else true colour (depth 24, 3 bytes red, green, blue).
// Screen pixels no image has covered, and those restored to background,
// have the background entry's colour (black without a global table).
// Returns the number of frames delivered; 0 on failure. A file that ends
// inside an image delivers the frames before it and that image as far as
// it was decoded.
int GIF_read_frames(const char *name, int max_frames, GifFrameSink sink, void *user);

// Writes frames (all of one size; records as a grab or a reader gives
// them) as one GIF89a animation that loops for ever, frame i shown for
// delays_cs[i] hundredths of a second. Frames after the first store only
// the rectangle that changed, with pixels that did not change made
// transparent; one global colour table serves when all colours fit, else
// each frame has its own, and a frame of more than 256 colours is
// reduced to 256. 1 ok, 0 failure.
int GIF_write_frames(const char *name, const ImageRecord *frames, const int *delays_cs, int count);

// Supplies frame index of an animation being written: fills img (an
// initialised record that the writer frees after use, e.g. by gget_image)
// and *delay_cs; 1 ok, 0 when the frame cannot be had (the writing then
// fails). Each frame is asked for twice, for its colours and to write it,
// so that no more than one frame is held at a time.
using GifFrameSource = int (*)(int index, ImageRecord *img, int *delay_cs, void *user);

// GIF_write_frames for count frames from a source.
int GIF_write_frame_source(const char *name, int count, GifFrameSource source, void *user);

int GIF_interlace(int on);    // "gif_inter" / "gif_norm"
int GIF_transparent(int on);  // "gif_trans": the record's back_pixel becomes transparent

// Palette reduction shared by the GIF and PNG writers: pixel values get
// entry numbers in order of first appearance; once 256 entries are taken,
// further values share entry 0. Each entry has an 8-bit colour.
struct GifPalette {
  int num_color = 0;
  unsigned long color_ind[256] = {};  // pixel value of each entry
  unsigned char red[256] = {}, grn[256] = {}, blu[256] = {};
};

// Reduces a record that passes IMG_check_layout. With entries nullptr the
// entry numbers replace the pixels in place (in the first byte of each
// pixel, the low byte of a 16-bit pixel, the other bytes cleared; records
// of 8 or more bits per pixel only); otherwise they go to entries, rows of
// width bytes. Returns the number of entries used.
int GIF_reduce_palette(ImageRecord *img, unsigned char *entries, GifPalette *pal);

// The pixel value at column x of a stored row, by bits per pixel and byte
// order: the rule shared by palette reduction and overlay masks.
unsigned long GIF_pixel_value(const ImageRecord *img, const unsigned char *row, int x);
