// Live loops: a directory watched with inotify (or, where that cannot be
// had, listed every half second), each complete new image loaded into a new
// last frame without disturbing what the user is looking at.
#include "app/loop_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/loop.h"
#include "gks/gks.h"
#include "image/img_tool.h"
#include "util/files.h"
#include "util/mess.h"

namespace {

using Clock = std::chrono::steady_clock;

// Without inotify the directory is listed this often, and a file counts as
// complete once two listings in a row found it unchanged.
constexpr auto kPollInterval = std::chrono::milliseconds(500);
// Set in the environment, this makes a watch poll even where inotify works.
constexpr const char *kPollVariable = "zybwatch_poll";

constexpr uint32_t kEventMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF |
                                IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr uint32_t kDirectoryGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(Descriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor &operator=(Descriptor &&other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

struct DirCloser {
  void operator()(DIR *d) const { closedir(d); }
};

// One version of a file: writing or replacing the file changes it.
struct Signature {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long mtime_ns = 0;
  bool operator==(const Signature &o) const {
    return device == o.device && inode == o.inode && size == o.size && mtime_ns == o.mtime_ns;
  }
  bool operator!=(const Signature &o) const { return !(*this == o); }
};

enum class Kind { Regular, Directory, Special };

struct Entry {
  std::string name;
  Signature sig;
  Kind kind = Kind::Special;
};

// Why a file is thought complete: the writer closed it or moved it in; it
// was found in a listing; or it was just created, which only a symbolic
// link or a hard link to a finished file can be at that moment.
enum class Evidence { Closed, Listed, Created };

struct Arrival {
  std::string name;
  Evidence evidence;
};

struct Watch {
  bool active = false;
  std::string dir;      // as given, for replies
  std::string path;     // absolute, for opening
  std::string pattern;  // as given, or the default list
  std::vector<std::string> globs;
  int keep = LOOP_WATCH_KEEP_MAX;
  bool untrusted = false;
  Descriptor events;                          // inotify; not valid while polling
  std::map<std::string, Signature> known;     // versions loaded, or passed over for good
  std::map<std::string, Signature> settling;  // polling: versions seen by one listing
  Clock::time_point next_poll{};
};

Watch watch;

// ---------------------------------------------------------------------------
// The directory.

bool matches(const Watch &w, const char *name) {
  // FNM_PERIOD: the hidden names downloaders write under before renaming
  // never match "*.gif".
  for (const std::string &glob : w.globs)
    if (fnmatch(glob.c_str(), name, FNM_PERIOD) == 0) return true;
  return false;
}

std::string path_of(const Watch &w, const std::string &name) { return w.path + "/" + name; }

// stat follows symbolic links: a link counts as what it points to.
bool examine(const std::string &path, Signature *sig, Kind *kind) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  *sig = {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  *kind = S_ISREG(st.st_mode) ? Kind::Regular : S_ISDIR(st.st_mode) ? Kind::Directory : Kind::Special;
  return true;
}

// The matching entries of the directory; false (errno set) when it cannot be read.
bool list_directory(const Watch &w, std::vector<Entry> *entries) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(w.path.c_str()));
  if (!dir) return false;
  while (const dirent *d = readdir(dir.get())) {
    if (!matches(w, d->d_name)) continue;
    Entry e{d->d_name, {}, Kind::Special};
    if (examine(path_of(w, e.name), &e.sig, &e.kind)) entries->push_back(e);
  }
  return true;
}

enum class Writers { None, Some, Unknown };

// Whether a process has the file open for writing: the kernel refuses a
// read lease on such a file. Leases need the file's owner (or CAP_LEASE)
// and a local file system; elsewhere the answer is Unknown. The lease is
// let go at once; a writer that comes meanwhile is announced by SIGURG,
// which is ignored by default, instead of SIGIO, which would end the looper.
Writers writers_of(const std::string &path) {
  Descriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Writers::Unknown;
  fcntl(fd.get(), F_SETSIG, SIGURG);
  if (fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0) {
    fcntl(fd.get(), F_SETLEASE, F_UNLCK);
    return Writers::None;
  }
  return errno == EAGAIN ? Writers::Some : Writers::Unknown;
}

bool is_symlink(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool looks_complete(const std::string &path, Evidence evidence) {
  switch (evidence) {
    case Evidence::Closed: return true;
    case Evidence::Listed: return writers_of(path) != Writers::Some;
    case Evidence::Created: return is_symlink(path) || writers_of(path) == Writers::None;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Frames.

struct OwnedImage : ImageRecord {
  OwnedImage() { IMG_init(this); }
  ~OwnedImage() { IMG_free(this); }
  OwnedImage(const OwnedImage &) = delete;
  OwnedImage &operator=(const OwnedImage &) = delete;
};

// The user's draw target and the object cache's recording, as they were
// before the watch drew a frame.
class DrawTargetKept {
 public:
  DrawTargetKept() : window_(gget_draw_window()), redraw_(gget_redraw()) {}
  ~DrawTargetKept() {
    gset_draw_window(window_);
    gset_redraw(redraw_);
  }
  DrawTargetKept(const DrawTargetKept &) = delete;
  DrawTargetKept &operator=(const DrawTargetKept &) = delete;

 private:
  unsigned long window_;
  int redraw_;
};

// A watch given on the command line comes before the window: it opens at
// the size of the first image, which must have been read whole (a header
// alone may promise any size). Images are read for the window's depth, so
// the first is read again once the window is there.
bool read_for_window(const std::string &path, ImageRecord *img) {
  if (gread_image_file(path.c_str(), img) != 1) return false;
  if (LOOP_state().open == 1) return true;
  char line[LOOP_LINE_MAX + 1];
  std::snprintf(line, sizeof line, "se si %dx%d", img->width, img->height);
  IMG_free(img);
  LOOP_process(-1, line);
  LOOP_process(-1, "open");
  return LOOP_state().open == 1 && gread_image_file(path.c_str(), img) == 1;
}

// The oldest frames go until the loop holds no more than the watch keeps.
void trim() {
  while (gget_num_images() > watch.keep)
    if (gremove_frame(0) != 1) break;
}

// The image becomes the newest frame. Nothing is redrawn: the loop reaches
// the new frame in its turn.
void add_frame(ImageRecord *img) {
  const int count = gget_num_images();
  const bool first = count == 0;
  {
    DrawTargetKept kept;
    // A full loop rolls on: the oldest frame's pixmap takes the newest picture.
    const int f = count >= watch.keep || count >= GKS_MAX_FRAMES ? groll_frame() : gappend_frame();
    if (f < 0) return;
    gselect_frame(f);
    int width = 0, height = 0;
    gget_win_size(&width, &height);
    if (img->width < width || img->height < height) gclear_frame(f);
    gload_image(img, 0, 0);
  }
  trim();
  // As "create" does: a loop that had no frames starts running.
  if (first) gset_looping(1);
}

// Loads one complete file. Whatever the outcome, this version of it is
// not tried again.
void load(const std::string &name, const Signature &sig) {
  watch.known[name] = sig;
  const std::string path = path_of(watch, name);
  if (!FILE_is_safe_input(path.c_str())) {
    MESS_print(MESS_WARN, "LOOP_watch: Skipped %s: not a regular file\n", path.c_str());
    return;
  }
  OwnedImage img;
  const int was_untrusted = IMG_set_untrusted(watch.untrusted ? 1 : 0);
  const bool read = read_for_window(path, &img);
  IMG_set_untrusted(was_untrusted);
  if (!read) {
    MESS_print(MESS_WARN, "LOOP_watch: Skipped %s: not a readable image\n", path.c_str());
    return;
  }
  add_frame(&img);
  MESS_print(MESS_OUT4, "LOOP_watch: Loaded %s as frame %d\n", path.c_str(), gget_num_images() - 1);
}

// The arrivals that are new, complete images, in their order; the others
// are passed over (for good when they can never become images).
std::vector<std::pair<std::string, Signature>> complete_arrivals(const std::vector<Arrival> &arrivals) {
  std::vector<std::pair<std::string, Signature>> ready;
  std::set<std::string> taken;
  for (const Arrival &a : arrivals) {
    if (!taken.insert(a.name).second) continue;  // noticed twice
    const std::string path = path_of(watch, a.name);
    Signature sig;
    Kind kind;
    if (!examine(path, &sig, &kind)) {
      MESS_print(MESS_WARN, "LOOP_watch: %s was gone before it could be loaded\n", path.c_str());
      continue;
    }
    const auto k = watch.known.find(a.name);
    if (k != watch.known.end() && k->second == sig) continue;
    if (kind != Kind::Regular) {
      // Devices and pipes are never opened; they would hold the looper.
      if (kind == Kind::Special) MESS_print(MESS_WARN, "LOOP_watch: Skipped %s: not a regular file\n", path.c_str());
      watch.known[a.name] = sig;
      continue;
    }
    if (sig.size == 0 || !looks_complete(path, a.evidence)) continue;
    ready.emplace_back(a.name, sig);
  }
  return ready;
}

// Of more arrivals than the watch keeps only the last ones are loaded: the
// others would be dropped again at once.
void load_arrivals(const std::vector<Arrival> &arrivals, bool name_order) {
  auto ready = complete_arrivals(arrivals);
  const size_t keep = static_cast<size_t>(watch.keep);
  if (ready.size() > keep) {
    for (size_t i = 0; i < ready.size() - keep; i++) watch.known[ready[i].first] = ready[i].second;
    ready.erase(ready.begin(), ready.end() - static_cast<std::ptrdiff_t>(keep));
  }
  if (name_order) std::sort(ready.begin(), ready.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
  for (const auto &r : ready) load(r.first, r.second);
}

// Listed entries from the oldest to the newest.
std::vector<Arrival> by_age(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
    return a.sig.mtime_ns != b.sig.mtime_ns ? a.sig.mtime_ns < b.sig.mtime_ns : a.name < b.name;
  });
  std::vector<Arrival> arrivals;
  for (const Entry &e : entries) arrivals.push_back({e.name, Evidence::Listed});
  return arrivals;
}

// ---------------------------------------------------------------------------
// Noticing.

void stop_lost(int error) {
  MESS_print(MESS_WARN, "LOOP_watch: Stopped watching %s: %s\n", watch.dir.c_str(), std::strerror(error));
  watch = Watch{};
}

std::vector<Entry> unknown_versions(const std::vector<Entry> &entries) {
  std::vector<Entry> fresh;
  for (const Entry &e : entries) {
    const auto k = watch.known.find(e.name);
    if (k == watch.known.end() || k->second != e.sig) fresh.push_back(e);
  }
  return fresh;
}

void read_events() {
  alignas(inotify_event) char buffer[16 * 1024];
  std::vector<Arrival> arrivals;
  std::map<std::string, size_t> position;
  bool overflow = false, gone = false;
  for (;;) {
    const ssize_t got = read(watch.events.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // EAGAIN: nothing more to read
    for (const char *p = buffer; p < buffer + got;) {
      const auto *event = reinterpret_cast<const inotify_event *>(p);
      p += sizeof(inotify_event) + event->len;
      overflow = overflow || (event->mask & IN_Q_OVERFLOW) != 0;
      gone = gone || (event->mask & kDirectoryGone) != 0;
      if (event->len == 0 || (event->mask & IN_ISDIR) != 0) continue;
      const std::string name = event->name;
      if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
        watch.known.erase(name);
      } else if (matches(watch, name.c_str())) {
        // One arrival a name, at its first notice, with the best evidence.
        const Evidence evidence = (event->mask & IN_CREATE) != 0 ? Evidence::Created : Evidence::Closed;
        const auto at = position.emplace(name, arrivals.size());
        if (at.second)
          arrivals.push_back({name, evidence});
        else if (evidence == Evidence::Closed)
          arrivals[at.first->second].evidence = evidence;
      }
    }
  }
  if (gone) return stop_lost(ENOENT);
  if (overflow) {
    // Events were lost: what the directory holds now says what they were.
    std::vector<Entry> entries;
    if (!list_directory(watch, &entries)) return stop_lost(errno);
    for (const Arrival &a : by_age(unknown_versions(entries))) arrivals.push_back(a);
  }
  load_arrivals(arrivals, false);
}

void poll_directory() {
  watch.next_poll = Clock::now() + kPollInterval;
  std::vector<Entry> entries;
  if (!list_directory(watch, &entries)) return stop_lost(errno);
  std::set<std::string> present;
  for (const Entry &e : entries) present.insert(e.name);
  for (auto k = watch.known.begin(); k != watch.known.end();)
    k = present.count(k->first) ? std::next(k) : watch.known.erase(k);

  std::vector<Entry> steady;
  std::map<std::string, Signature> settling;
  for (const Entry &e : unknown_versions(entries)) {
    const auto s = watch.settling.find(e.name);
    if (s != watch.settling.end() && s->second == e.sig) steady.push_back(e);
    settling[e.name] = e.sig;
  }
  watch.settling = std::move(settling);
  load_arrivals(by_age(steady), false);
}

// inotify, or listing where that is refused (or asked for).
void choose_notice(Watch *w) {
  w->next_poll = Clock::now() + kPollInterval;
  if (std::getenv(kPollVariable) != nullptr) return;
  Descriptor fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (fd.valid() && inotify_add_watch(fd.get(), w->path.c_str(), kEventMask) >= 0) {
    w->events = std::move(fd);
    return;
  }
  MESS_print(MESS_MESS, "LOOP_watch: No inotify for %s (%s); listing it every %.1f s\n", w->dir.c_str(),
             std::strerror(errno), std::chrono::duration<double>(kPollInterval).count());
}

int unable(const char *dir, int error) {
  MESS_print(MESS_WARN, "LOOP_watch: Unable to watch %s: %s\n", dir, std::strerror(error));
  return 0;
}

}  // namespace

int LOOP_watch_start(const char *dir, const char *pattern, int keep, int untrusted) {
  if (dir == nullptr) return 0;
  if (keep < 1 || keep > LOOP_WATCH_KEEP_MAX) return unable(dir, EINVAL);
  Watch next;
  next.active = true;
  next.dir = dir;
  next.pattern = pattern != nullptr && *pattern != '\0' ? pattern : LOOP_WATCH_DEFAULT_PATTERN;
  for (size_t at = 0, end; at < next.pattern.size(); at = end + 1) {
    end = std::min(next.pattern.find(' ', at), next.pattern.size());
    if (end > at) next.globs.push_back(next.pattern.substr(at, end - at));
  }
  next.keep = keep;
  next.untrusted = untrusted != 0;
  char expanded[FILE_NAME_SIZE];
  char real[PATH_MAX];
  FILE_add_user_path(dir, expanded);
  if (realpath(expanded, real) == nullptr) return unable(dir, errno);
  struct stat st {};
  if (stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) return unable(dir, ENOTDIR);
  next.path = real;
  // Notice first, then list: a file finished in between is not missed.
  choose_notice(&next);
  std::vector<Entry> entries;
  if (!list_directory(next, &entries)) return unable(dir, errno);

  watch = std::move(next);
  // The newest files, in name order; the older ones are passed over for
  // good. Frames beyond the number kept (a watch given again with a smaller
  // number, frames made before) go at once.
  load_arrivals(by_age(entries), true);
  trim();
  return 1;
}

int LOOP_watch_stop() {
  const bool was = watch.active;
  watch = Watch{};
  return was ? 1 : 0;
}

int LOOP_watch_info(std::string *dir, std::string *pattern, int *keep) {
  if (!watch.active) return 0;
  if (dir) *dir = watch.dir;
  if (pattern) *pattern = watch.pattern;
  if (keep) *keep = watch.keep;
  return 1;
}

int LOOP_dir_watch_fd() { return watch.active ? watch.events.get() : -1; }

int LOOP_dir_watch_timeout_ms() {
  if (!watch.active || watch.events.valid()) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(watch.next_poll - Clock::now()).count();
  return static_cast<int>(std::max<long long>(0, left));
}

void LOOP_dir_watch_service() {
  if (!watch.active) return;
  if (watch.events.valid())
    read_events();
  else if (Clock::now() >= watch.next_poll)
    poll_directory();
}
