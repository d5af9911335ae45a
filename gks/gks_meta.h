// Metafiles: the metafile workstation's row of the driver table, which
// writes either a text metafile (one line-oriented record per kernel call)
// or a binary CGM file (polylines and clip rectangles only), and the reader
// that plays a text metafile back through the kernel, from a file or record
// by record as clients stream it over the queue.
#pragma once

#include <cstdio>
#include <vector>

// Kinds (gmeta_set_type).
constexpr int GMETA_TEXT = 0;
constexpr int GMETA_CGM = 1;

constexpr int GMETA_NAME_MAX = 79;   // a workstation's metafile name
constexpr int GMETA_TEXT_MAX = 100;  // the text of a TE record, read back
constexpr int GMETA_WORD_MAX = 9;    // a record's keyword, read back
// Points of one CGM polyline element: the long-form length (4 bytes a
// point) has 15 bits. Longer polylines become several that share a point.
constexpr int GCGM_POLYLINE_MAX = 8191;

int gmeta_set_type(int type);  // GMETA_TEXT or GMETA_CGM
int gmeta_get_type();
// Opens the metafile: "|command" pipes to the command, "+name" appends,
// anything else is created. The stream, or nullptr.
FILE *gmeta_open_file(const char *name);
int gmeta_init_file();  // the header of the current kind
// Formatted output to a text metafile; nothing for CGM or without a file.
int gmeta_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Ends (CGM without append: END PICTURE) and closes the metafile. 0; -1
// when none is open or the file could not be written completely.
int gmeta_close_file();

// CGM: an element header (class, id, parameter length; 31 is the long
// form) and, when word >= 1 or the form is long, the 16-bit word after it.
int gcgm_control(int cls, int id, int length, int word);
int gcgm_ps_point(float x, float y);  // device coordinates, truncated
int gcgm_point(float x, float y);     // world coordinates, converted
// Line type, colours and widths are not carried by the CGM kind.
int gcgm_set_type(int type);
int gcgm_set_color(int ci);
int gcgm_set_fill_color(int ci);
int gcgm_set_width(int ci, float width);

// Plays a text metafile back through the kernel, into whatever the open
// workstation draws on, with the attributes it does not set as they are.
// The first line is skipped; unknown words skip their line. Returns 0.
int gread_metafile(const char *path);

// The streamed form: a client sends the metafile's lines one per queue
// record and ends with "end". Positions, transformations, polylines and
// fill areas are drawn; other records are answered and do nothing. A point
// list may go on in the records after its own.
class GmetaScanner;
class GmetaStream {
 public:
  enum Result {
    kDone,        // the record is done
    kMorePoints,  // the point list goes on in the next record
    kEnd,         // "end"
  };
  Result feed(const char *record);
  bool pending() const { return code_ != 0; }
  // Whether the record carries on the pending point list (begins with a point).
  bool continues(const char *record) const;
  // Drops a pending point list (the stream ended or stalled) with a message.
  void abandon();

 private:
  Result start(const char *record);
  Result take_points(GmetaScanner &in);

  int code_ = 0;  // the object code of the pending primitive, 0 for none
  int count_ = 0;
  std::vector<float> points_;
};
