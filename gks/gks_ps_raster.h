// A picture of the window as a PostScript raster, for gks_ps only: where
// its pixels lie on the page, and the image operator with its samples.
#pragma once

#include <cstdio>

struct ImageRecord;

// The rectangle the picture covers on the page, in PostScript units.
struct GpsRasterPlace {
  float left = 0, bottom = 0, width = 0, height = 0;
};

// Window pixel (x + c, y + r) of a window of the picture's size that
// shows the workstation window ws_win (xmin, xmax, ymin, ymax) over its
// whole area, as the window rows map NDC to pixels, carried to the page
// through the current PostScript conversions. A pixel covers the half
// unit around its centre, as a line through it does on the window.
GpsRasterPlace gps_raster_place(const ImageRecord &img, int x, int y, const float ws_win[4]);

enum class GpsRasterKind { colour, grey };

// Writes the raster of img over place (gsave .. grestore, its own clip):
// indexed RGB with at most 256 colours, else RGB; grey levels for kind
// grey ((0.9 r + g + 0.8 b) / 2.7, reversed with reverse). Samples are
// run-length coded in ASCII85. 0, or -1 for a record without pixels.
int gps_write_raster(FILE *out, const ImageRecord &img, const GpsRasterPlace &place, GpsRasterKind kind, bool reverse);
