// Window events: keys and mouse buttons that drive the loop, exposures,
// resizes, and the requests other programs send as client messages.
//
// Polled from the main loop (and from long drawing operations), never
// blocking. Served only for the window workstation with its object cache on.
//
// Keys (letters only with Alt, and only the lower-case keysyms):
//   Return (any modifiers), Alt-q  quit: gget_input_mode() then returns 0
//   Alt-d  delete the current frame          Alt-l  start or stop the loop
//   Alt-z  zoom in x2 about the pointer      Alt-u  undo the zoom
//   Alt-g  dump GIF files                    Alt-x  dump XWD files
//   Alt-m  print the drawing as a metafile   Alt-c  latitude/longitude readout
//          in the title while the pointer moves (on and off)
//   Alt-]  next frame, or faster while looping
//   Alt-[  previous frame, or slower while looping
// Buttons (without Alt): 1 previous frame / slower, 2 start or stop the
// loop, 3 next frame / faster.
#pragma once

union _XEvent;

// Client-message requests (first data byte, message type XA_NOTICE, format 8).
constexpr int GKS_REQUEST_NEW_FRAME = 2;
constexpr int GKS_REQUEST_QUIT = 9;

int ginit_event(int mode);                     // mode 0 also switches input off; returns 1
int gset_input_mode(int mode);                 // 1 enables keyboard input, anything else disables it
int gget_input_mode();                         // 1, or 0 once the user asked to quit
int gcheck_event();                            // serves pending events; the number of user events
int gprocess_x11_event(union _XEvent *event);  // serves one event; returns 0
int gis_mapped();                              // 1 while the window is mapped
