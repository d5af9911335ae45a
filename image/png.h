// PNG files through libpng: any PNG into an image record, and an image
// record out as an 8-bit palette PNG.
#pragma once

#include "image/img_tool.h"

int PNG_read(const char *name, ImageRecord *img, int query);  // 1 ok, 0 failure
int PNG_write(const char *name, ImageRecord *img);            // 1 ok, 0 failure
