// The X server's shared-memory extension ("MIT-SHM"), spoken through Xlib
// alone: the program needs nothing beyond libX11 at run time. Only what the
// image loads use: the version query, attaching and detaching a System V
// segment, and drawing an image that lies in one.
//
// The requests go out asynchronously like any Xlib request: an Attach the
// server refuses (a remote server, another IPC namespace) shows up as an X
// error at the next XSync, through whatever error handler is installed.
#pragma once

#include <X11/Xlib.h>

#include <cstddef>

// The extension as one connection has it.
struct ShmExtension {
  Display *display = nullptr;
  int opcode = 0;      // major opcode of its requests
  int event_base = 0;  // its completion event's type
  int error_base = 0;  // its BadShmSeg error's code
  int major_version = 0;
  int minor_version = 0;
  bool shared_pixmaps = false;
};

// A segment mapped into this process and known to the server by id.
struct ShmSegment {
  XID id = 0;  // the server's name for it; 0 while not attached
  int shmid = -1;
  char *address = nullptr;
  size_t size = 0;
  bool read_only = true;  // the server may only read it
};

// Fills *ext when the server has the extension and answers its version
// query. 1 ok, 0 when memory cannot be shared with this server.
int gshm_query(Display *display, ShmExtension *ext);

// Sends the Attach of segment->shmid under a new id, stored in segment->id.
// 1 sent, 0 when ext or the segment is unusable.
int gshm_attach(const ShmExtension &ext, ShmSegment *segment);

// Sends the Detach of segment->id and clears the id; the mapping stays.
void gshm_detach(const ShmExtension &ext, ShmSegment *segment);

// Draws the w x h rectangle at (src_x, src_y) of image, whose data lies in
// the segment, at (dst_x, dst_y) of target, as XPutImage would (clipped to
// the image). No completion event is asked for: Xlib would drop it unread;
// the server is done with the segment once an XSync returns. 1 sent, 0 when
// the image does not lie wholly within the segment (nothing is sent then).
int gshm_put_image(const ShmExtension &ext, const ShmSegment &segment, Drawable target, GC gc, const XImage &image,
                   int src_x, int src_y, int dst_x, int dst_y, unsigned w, unsigned h);

// The number of images this process has drawn through shared memory.
unsigned long gshm_put_count();
