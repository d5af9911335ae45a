// The plot domain on the window: the domain fills the window through
// transformation 2 and stays there through resizes; window pixels back to
// latitude and longitude; and the pointer readout in the window title
// (Alt-c) with the nearest station.
#pragma once

#include "domain/region.h"

// Makes domain the one in force with its limits spread over the whole
// window (the viewport of transformation 2 becomes the display space) and
// selects transformation 2. nullptr drops the domain. 0, or -1 when the
// domain gives no usable window (the one in force then stays).
int gset_map_domain(const DomainRecord *domain);

// After the window was opened again or resized (which resets every
// transformation), installs the domain in force again. 1 when it did
// (transformation 2 is then selected), else 0.
int gfollow_map_domain();

// Latitude and longitude of a picture pixel (x right, y down from the
// top-left corner) under the domain in force: 1, 0 when the pixel is off
// the map, -1 when no domain is set or its projection has no inverse.
// The selected transformation stays as it was.
int gp_latlon(float px, float py, double *lat, double *lon);

// The readout: while on, the window asks for pointer motion and its title
// shows the latitude, longitude and nearest station under the pointer.
// Toggling it on shows the point x, y (window pixels) at once; toggling it
// off gives the title back what it showed before. Returns the new state.
int gtoggle_latlon_readout(int x, int y);
int gget_latlon_readout();
int gshow_latlon_readout(int x, int y);  // the pointer at window pixel x, y
int greset_latlon_readout();             // a new window: off, nothing asked
