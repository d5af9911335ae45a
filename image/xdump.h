// X window dump (XWD) files, version 7, all integers big-endian.
#pragma once

#include "image/img_tool.h"

// Reads the whole file also in query mode. img->depth must hold the
// greatest pixmap depth accepted (IMG_read sets it). 1 ok, 0 failure.
int XWD_read(const char *name, ImageRecord *img, int query);
int XWD_write(const char *name, const ImageRecord *img);  // 1 ok, 0 failure
