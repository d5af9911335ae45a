// Metafiles in the looper: "mf" plays one from a file or as clients stream
// it over the queue, "pr" prints the recorded drawing into a file of the
// kind its name ends in, and "se re on|off" switches the recording.
#include <chrono>
#include <cstring>
#include <string>

#include "app/loop_cmd.h"
#include "gks/gks.h"
#include "gks/gks_meta.h"
#include "mqueue/mqueue.h"
#include "util/mess.h"
#include "util/string.h"
#include "util/system.h"

namespace {

using loop_cmd::Command;

constexpr float kPollSeconds = 0.01f;
constexpr int kDefaultTimeout = 20;

// The next record of any client; false when none came within the queue's
// time-out. Registrations are answered on the way and are not records.
bool wait_record(int qid, int *sender, char *text) {
  const int timeout = MQ_get_timeout() > 0 ? MQ_get_timeout() : kDefaultTimeout;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
  for (;;) {
    const int got = MQ_sget(qid, sender, text);
    if (got == MQ_GOT_COMMAND) return true;
    if (got == MQ_GOT_CLIENT) continue;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ZYB_sleep(kPollSeconds);
  }
}

// What a print's file name chooses: its kind, and whether the page
// carries the frame's picture under the vectors.
struct PrintRow {
  const char *extension;
  int ws_type;
  int meta_kind;
  bool picture;
};

const PrintRow kPrintRows[] = {
    {".ps", GKS_PS, GMETA_TEXT, true},
    {".hpgl", GKS_HPGL, GMETA_TEXT, false},
    {".plt", GKS_HPGL, GMETA_TEXT, false},
    {".cgm", GKS_META, GMETA_CGM, false},
};
constexpr PrintRow kTextMetafile{"", GKS_META, GMETA_TEXT, false};

// The drawing commands' transformation 0 spans the whole window: the
// picture fills its viewport.
constexpr int kPictureTransformation = 0;

bool ends_with(const std::string &name, const char *extension) {
  const size_t n = std::strlen(extension);
  return name.size() > n && stricmp(name.c_str() + name.size() - n, extension) == 0;
}

const PrintRow &print_row(const std::string &name) {
  for (const PrintRow &row : kPrintRows)
    if (ends_with(name, row.extension)) return row;
  return kTextMetafile;
}

// "+name" appends to name, which must pass the same checks.
bool print_name_acceptable(const Command &c, const std::string &name) {
  if (!loop_cmd::file_name_acceptable(c, name)) return false;
  return name[0] != '+' || loop_cmd::file_name_acceptable(c, name.substr(1));
}

}  // namespace

int LOOP_metafile() {
  const int qid = LOOP_state().qid;
  MESS_print(MESS_PRINT, "Metafile...\n");
  if (qid < 0) return 0;
  GmetaStream stream;
  int owner = -1;  // who sent the record being read; it gets the answer
  for (;;) {
    char text[MQ_TEXT_MAX + 3] = {};
    int sender = -1;
    if (!wait_record(qid, &sender, text)) {
      stream.abandon();
      MESS_print(MESS_WARN, "LOOP_metafile: no metafile record for %d seconds, taken as the end\n",
                 MQ_get_timeout() > 0 ? MQ_get_timeout() : kDefaultTimeout);
      return 0;
    }
    text[sizeof text - 1] = '\0';
    MESS_print(MESS_OUT4, "META: %d:%s\n", sender, text);
    MESS_print(MESS_PRINT, "META: %s:", text);
    // A point list cut short by a record of its own is answered before it.
    if (stream.pending() && !stream.continues(text)) {
      stream.abandon();
      LOOP_reply(owner, MQ_LAST_LINE, "Meta OK\n");
    }
    if (!stream.pending()) owner = sender;
    switch (stream.feed(text)) {
      case GmetaStream::kMorePoints: break;
      case GmetaStream::kDone: LOOP_reply(owner, MQ_LAST_LINE, "Meta OK\n"); break;
      case GmetaStream::kEnd: LOOP_reply(sender, MQ_LAST_LINE, "Meta Done\n"); return 0;
    }
  }
}

namespace loop_cmd {

int metafile(const Command &c) {
  if (c.args.size() > 1) return c.quote("Invalid metafile command: %s\n");
  if (c.args.size() == 1) {
    const std::string &file = c.args[0];
    if (!file_name_acceptable(c, file)) return c.quote("Invalid metafile command: %s\n");
    gread_metafile(file.c_str());
    gupdate_window();
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Metafile plotted: %s\n", file.c_str());
  }
  c.reply(MQ_LAST_LINE, "Waiting for metafile data...\n");
  LOOP_metafile();
  gupdate_window();
  return c.reply(MQ_LAST_LINE, "Metafile plotted\n");
}

int print(const Command &c) {
  if (c.args.size() != 1) return c.quote("Invalid print command: %s\n");
  const std::string &name = c.args[0];
  if (!print_name_acceptable(c, name)) return LOOP_reply(c.sender, MQ_LAST_LINE, "Unable to print: %s\n", name.c_str());
  if (gget_obj_count() == 0) {
    MESS_print(MESS_WARN, "LOOP_process: nothing recorded to print (se re on)\n");
    return LOOP_reply(c.sender, MQ_LAST_LINE, "Unable to print: %s\n", name.c_str());
  }
  const PrintRow &row = print_row(name);
  const int kind = gmeta_get_type();
  gmeta_set_type(row.meta_kind);
  const int status = gobj_print_file(row.ws_type, name.c_str(), row.picture ? kPictureTransformation : -1);
  gmeta_set_type(kind);
  return LOOP_reply(c.sender, MQ_LAST_LINE, status == 0 ? "Printed: %s\n" : "Unable to print: %s\n", name.c_str());
}

int set_redraw(const Command &c, const Words &v) {
  if (is_word(v[1], "on")) {
    gset_redraw(1);
    return c.reply(MQ_LAST_LINE, "Redraw recording on\n");
  }
  if (is_word(v[1], "off")) {
    gset_redraw(0);
    return c.reply(MQ_LAST_LINE, "Redraw recording off\n");
  }
  return c.quote("Invalid set command: %s\n");
}

}  // namespace loop_cmd
