// Magnifying the window by whole-number factors about a chosen point.
//
// The zoom works on pixels, not on the drawing: it reads the picture back
// from the X server, replicates every pixel into a factor x factor block in
// client memory and writes the result into the base window. Frame pixmaps are
// never changed; while zoomed, every frame shown is magnified again from its
// own pixmap with the stored factor and centre.
#pragma once

// The largest magnification.
constexpr int ZOOM_MAX_FACTOR = 1024;

// Current magnification; 1 when not zoomed.
int gget_zoom();

// Zooms the window. frame: the frame to magnify (-2 the current one) when
// frames exist; x, y: the new centre in window pixels, or -1 to keep the
// stored one; factor: -1 keeps the factor, below -1 multiplies it by its
// magnitude, 0 or more sets it; again: 1 when a frame being displayed is
// re-zoomed, 0 for a user's request. Returns 1 when a zoomed picture was
// drawn, else 0.
int gzoom(int frame, int x, int y, int factor, int again);

// Back to factor 1, redrawing the unzoomed picture. Returns 0.
int gunzoom();

// Forgets the zoom without redrawing (the window was resized). Returns 0.
int greset_zoom();

// Window pixel coordinate -> coordinate in the unzoomed picture.
int xZ_p(int x);
int yZ_p(int y);

// The arithmetic of a zoom, free of any display, so that it can be checked
// on its own.

// New factor and the replication applied to the source picture.
struct ZoomFactor {
  int zoom;       // the factor in force afterwards
  int replicate;  // how many times each source pixel is repeated
};

// factor as for gzoom; source_is_frame tells whether the source picture is an
// unzoomed frame (replicate by the whole new factor) or the base window that
// already shows the old factor (replicate by the increase only).
ZoomFactor gzoom_factor(int factor, int zoom, bool source_is_frame);

struct ZoomPoint {
  int x;
  int y;
};

// Centre of the next view in source picture pixels. x, y are window pixels
// (-1: keep the stored centre); with frames present and a zoom in force, the
// window point is turned back into unzoomed frame coordinates.
ZoomPoint gzoom_centre(int x, int y, int width, int height, int zoom, ZoomPoint stored, bool frames_exist);

// The part of the source shown at a given replication about a centre.
struct ZoomView {
  int x0;            // left edge in the source
  int y0;            // top edge in the source
  int width;         // source columns shown (width / factor)
  int height;        // source rows shown
  ZoomPoint centre;  // the centre to remember for the next zoom
};

ZoomView gzoom_view(ZoomPoint centre, int width, int height, int factor);

// A raster of raw pixel bytes as X lays them out in a Z-format image.
struct ZoomRaster {
  unsigned char *data;
  int width;
  int height;
  int bytes_per_line;
  int bits_per_pixel;
  bool lsb_first;  // sub-byte pixels: first pixel in the low bits (default: high bits)
};

// Source pixels a view needs: columns x0 .. x0 + (width - 1) / factor and
// the rows likewise, cut at the picture's edge.
struct ZoomArea {
  int x, y, width, height;
};
ZoomArea gzoom_source_area(const ZoomView &view, int width, int height, int factor);

// Fills dest from source: destination pixel (c, r) takes source pixel
// (x0 + c / factor, y0 + r / factor), kept inside the source. Both rasters
// have the same pixel layout; 32, 24, 16, 8, 4 and 1 bits per pixel are
// handled. Returns 1, or 0 (dest unchanged) for any other pixel size,
// differing layouts or a bad argument.
int gzoom_replicate(const ZoomRaster &source, const ZoomRaster &dest, int x0, int y0, int factor);
