// Frame images: loading image files into the draw window (whole or with a
// transparent colour), and grabbing the draw window into an image file.
#pragma once

struct ImageRecord;
typedef struct _XImage XImage;

int gread_image_file(const char *name, ImageRecord *img);    // 1 ok, 0 failure
void gquery_image_file(const char *name, ImageRecord *img);  // header fields only

// Maps a colour-mapped record's pixels onto window colour cells, in place,
// on windows of depth 8 or less. transparent_pixel -1: none.
int gsetup_image_colors(ImageRecord *img, int transparent_pixel);
// Describes img in the window's pixel format, converting into a new buffer
// (ximage->data, to be freed with std::free when it differs from
// img->data) where needed. 1 ok, 0 when no buffer could be had.
int gset_ximage_params(ImageRecord *img, XImage *ximage);

// x, y: position in the viewport; a negative value counts back from its
// right or bottom edge.
int gload_image(ImageRecord *img, int x, int y);
// The X kinds' image entry: puts img into the draw window.
int gimg_put_x11(ImageRecord *img, int x, int y);
int gload_image_file(const char *name, int x, int y);  // 1 ok, 0 failure
// colour names the transparent colour; empty: the background colour.
int goverlay_image(ImageRecord *img, const char *colour, int x, int y);
int goverlay_image_file(const char *name, const char *colour, int x, int y);  // 0

int gset_save_image_type(int type);  // 56 GIF, 58 PNG, 59 GIF (animated for all frames), else XWD
int gget_save_image_type();

int gget_image(ImageRecord *img);                // grabs the draw window; 1 ok, 0 failure
int gsave_image_file(const char *name);          // the writer's result, 0 when the grab fails
int gsave_image_as(const char *name, int type);  // the same with an IMG_OUT_* type
// The draw window as a GIF or XWD file: 1 ok, 0 failure.
int GIF_dump(const char *name);
int XWD_dump(const char *name);
