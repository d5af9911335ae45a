#include "gks/gks_shm.h"

// Xlib's request machinery and the extension's wire layouts. Xlibint.h
// defines min and max as macros, which would break every later use of
// std::min and std::max in this file.
#include <X11/Xlibint.h>
#include <X11/extensions/shmproto.h>
#undef min
#undef max

#include <algorithm>
#include <cstdint>

namespace {

struct ShmClientState {
  unsigned long puts = 0;
};

ShmClientState &state() {
  static ShmClientState s;
  return s;
}

// A request of the extension in the display's output buffer, its header
// filled in. The caller holds the display lock.
template <typename Request>
Request *begin_request(Display *dpy, int opcode, int minor, size_t size) {
  auto *req = static_cast<Request *>(_XGetRequest(dpy, static_cast<CARD8>(opcode), size));
  req->reqType = static_cast<CARD8>(opcode);
  req->shmReqType = static_cast<CARD8>(minor);
  return req;
}

bool query_version(Display *dpy, int opcode, xShmQueryVersionReply *reply) {
  LockDisplay(dpy);
  begin_request<xShmQueryVersionReq>(dpy, opcode, X_ShmQueryVersion, sz_xShmQueryVersionReq);
  bool answered = _XReply(dpy, reinterpret_cast<xReply *>(reply), 0, xTrue) != 0;
  UnlockDisplay(dpy);
  SyncHandle();
  return answered;
}

bool usable(const ShmExtension &ext) { return ext.display != nullptr && ext.opcode != 0; }

// The part of the source rectangle that lies within the image; what is
// cut off at the left or top moves the destination along with it.
struct Rect {
  int src_x, src_y, dst_x, dst_y;
  int w, h;
};

Rect clip_to_image(const XImage &image, Rect r) {
  if (r.src_x < 0) {
    r.w += r.src_x;
    r.dst_x -= r.src_x;
    r.src_x = 0;
  }
  if (r.src_y < 0) {
    r.h += r.src_y;
    r.dst_y -= r.src_y;
    r.src_y = 0;
  }
  r.w = std::min(r.w, image.width - r.src_x);
  r.h = std::min(r.h, image.height - r.src_y);
  return r;
}

// The offset of the image's pixels in the segment, or -1 when any of them
// lies outside it: the server would refuse the request with an error.
long offset_in_segment(const ShmSegment &segment, const XImage &image) {
  if (image.data == nullptr || segment.address == nullptr || image.bytes_per_line <= 0 || image.height <= 0) {
    return -1;
  }
  uintptr_t start = reinterpret_cast<uintptr_t>(segment.address);
  uintptr_t data = reinterpret_cast<uintptr_t>(image.data);
  if (data < start || data - start > segment.size) return -1;
  size_t offset = data - start;
  size_t bytes = static_cast<size_t>(image.bytes_per_line) * static_cast<size_t>(image.height);
  if (bytes > segment.size - offset || offset > UINT32_MAX) return -1;
  return static_cast<long>(offset);
}

}  // namespace

int gshm_query(Display *display, ShmExtension *ext) {
  *ext = ShmExtension{};
  if (display == nullptr) return 0;
  int opcode = 0, event_base = 0, error_base = 0;
  if (!XQueryExtension(display, SHMNAME, &opcode, &event_base, &error_base)) return 0;
  xShmQueryVersionReply reply{};
  if (!query_version(display, opcode, &reply)) return 0;
  ext->display = display;
  ext->opcode = opcode;
  ext->event_base = event_base;
  ext->error_base = error_base;
  ext->major_version = reply.majorVersion;
  ext->minor_version = reply.minorVersion;
  ext->shared_pixmaps = reply.sharedPixmaps != 0;
  return 1;
}

int gshm_attach(const ShmExtension &ext, ShmSegment *segment) {
  if (!usable(ext) || segment->shmid < 0) return 0;
  Display *dpy = ext.display;
  LockDisplay(dpy);
  auto *req = begin_request<xShmAttachReq>(dpy, ext.opcode, X_ShmAttach, sz_xShmAttachReq);
  segment->id = XAllocID(dpy);
  req->shmseg = static_cast<CARD32>(segment->id);
  req->shmid = static_cast<CARD32>(segment->shmid);
  req->readOnly = segment->read_only ? xTrue : xFalse;
  UnlockDisplay(dpy);
  SyncHandle();
  return 1;
}

void gshm_detach(const ShmExtension &ext, ShmSegment *segment) {
  if (!usable(ext) || segment->id == 0) return;
  Display *dpy = ext.display;
  LockDisplay(dpy);
  auto *req = begin_request<xShmDetachReq>(dpy, ext.opcode, X_ShmDetach, sz_xShmDetachReq);
  req->shmseg = static_cast<CARD32>(segment->id);
  UnlockDisplay(dpy);
  SyncHandle();
  segment->id = 0;
}

int gshm_put_image(const ShmExtension &ext, const ShmSegment &segment, Drawable target, GC gc, const XImage &image,
                   int src_x, int src_y, int dst_x, int dst_y, unsigned w, unsigned h) {
  if (!usable(ext) || segment.id == 0 || gc == nullptr) return 0;
  long offset = offset_in_segment(segment, image);
  if (offset < 0) return 0;
  Rect r = clip_to_image(image, {src_x, src_y, dst_x, dst_y, static_cast<int>(std::min(w, 0x7FFFu)),
                                 static_cast<int>(std::min(h, 0x7FFFu))});
  if (r.w <= 0 || r.h <= 0) return 1;
  Display *dpy = ext.display;
  LockDisplay(dpy);
  // The server takes the GC as it stands; Xlib may still hold changes to it.
  FlushGC(dpy, gc);
  auto *req = begin_request<xShmPutImageReq>(dpy, ext.opcode, X_ShmPutImage, sz_xShmPutImageReq);
  req->drawable = static_cast<CARD32>(target);
  req->gc = static_cast<CARD32>(XGContextFromGC(gc));
  req->totalWidth = static_cast<CARD16>(image.width);
  req->totalHeight = static_cast<CARD16>(image.height);
  req->srcX = static_cast<CARD16>(r.src_x);
  req->srcY = static_cast<CARD16>(r.src_y);
  req->srcWidth = static_cast<CARD16>(r.w);
  req->srcHeight = static_cast<CARD16>(r.h);
  req->dstX = static_cast<INT16>(r.dst_x);
  req->dstY = static_cast<INT16>(r.dst_y);
  // A bitmap goes as one plane that the GC's colours paint.
  bool bitmap = image.format == XYBitmap;
  req->depth = static_cast<CARD8>(bitmap ? 1 : image.depth);
  req->format = static_cast<CARD8>(bitmap ? XYPixmap : image.format);
  req->sendEvent = xFalse;
  req->shmseg = static_cast<CARD32>(segment.id);
  req->offset = static_cast<CARD32>(offset);
  UnlockDisplay(dpy);
  SyncHandle();
  state().puts++;
  return 1;
}

unsigned long gshm_put_count() { return state().puts; }
