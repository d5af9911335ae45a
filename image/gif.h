// GIF files: the first image of a file into an image record, and an image
// record out as a GIF89a file with our own LZW encoder.
#pragma once

#include "image/img_tool.h"

int GIF_read(const char *name, ImageRecord *img, int query);  // 1 ok, 0 failure
// Writes img as GIF89a. The record's pixels are replaced by their palette
// entry numbers on the way. 1 ok, 0 failure.
int GIF_write(const char *name, ImageRecord *img);

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
