// Polymarkers: the marker attributes, the primitive, and the nine marker
// shapes as device-coordinate polylines that every output kind can draw.
#pragma once

typedef struct _XGC *GC;

// Marker types.
constexpr int GKS_MARK_DOT = 1;  // a closed unit square
constexpr int GKS_MARK_PLUS = 2;
constexpr int GKS_MARK_STAR = 3;    // asterisk
constexpr int GKS_MARK_CIRCLE = 4;  // a closed 12-gon
constexpr int GKS_MARK_CROSS = 5;   // diagonal cross
constexpr int GKS_MARK_SQUARE = 6;
constexpr int GKS_MARK_TRI = 7;    // apex at cy - h: up on the screen
constexpr int GKS_MARK_POINT = 8;  // one point
constexpr int GKS_MARK_ITRI = 9;   // apex at cy + h

constexpr float GKS_MARK_SIZE_MAX = 100.0f;  // larger sizes are refused
constexpr float GKS_MARK_UNIT = 10.0f;       // device units (pixels) per unit of marker size

int greset_marker();
int ginit_marker(int mode);  // a GKS_PLOT_* mode

// count x, y pairs in world coordinates. 0, or -1.
int gpolymarker(int count, const float *pts);

int gset_marker_colr_ind(int ci);
int gset_marker_size(float s);
int gset_marker_type(int t);
int gset_marker_width(float w);

int gget_marker_colr();
float gget_marker_size();
int gget_marker_type();
float gget_marker_width();
GC gget_marker_gc();

// One marker: at most four polylines of device points. Lines of one point
// are a point.
struct GksMarkPoint {
  float x, y;
};
struct GksMarkShape {
  static constexpr int kLines = 4, kVertices = 13;
  int lines = 0;
  int count[kLines] = {};
  GksMarkPoint v[kLines][kVertices];
};

// The shape of a marker type centred on (cx, cy) in device coordinates;
// h, half its size, is size * 0.5 truncated. Returns the number of lines,
// 0 for a type without a shape.
int gmark_shape(int type, float cx, float cy, float size, GksMarkShape *shape);

// Where a driver's marker drawing goes.
class MarkerSink {
 public:
  virtual ~MarkerSink() = default;
  // The device centre of a marker at world (x, y).
  virtual void centre(float x, float y, float *cx, float *cy) = 0;
  // The copies of the drop shadow begin (true) and end (false).
  virtual void shadow(bool on) {}
  // One line of a shape: count device points, one point when count is 1.
  virtual void draw(const GksMarkPoint *points, int count) = 0;
};

// Draws the current marker type at each world point: the drop shadow's
// copies at (cx + i, cy + i) for i = 0 .. drop - 1, then the marker, each
// shape size device units across. Returns 0.
int gmark_points(int count, const float *pts, float size, MarkerSink *sink);
