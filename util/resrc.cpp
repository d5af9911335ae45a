#include "util/resrc.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "util/date.h"
#include "util/def_read.h"
#include "util/files.h"
#include "util/flag.h"
#include "util/mess.h"
#include "util/string.h"
#include "util/system.h"

namespace {

constexpr size_t kOptionNameMax = 49;
constexpr size_t kProgNameMax = 79;
constexpr int kAllRemaining = 10;  // position of the option that takes every other positional word
constexpr const char *kDefaultPath = ".:/home/zyb/etc:/usr/local/zyb/etc";

enum class HelpStyle { plain, domain, region, message };

// One row of the option table shared by the programs of the suite.
struct OptionRow {
  int number;
  const char *name;
  const char *env;
  const char *abbr;  // keyed options
  int position;      // positional options: 1.., or kAllRemaining
  int type;
  const char *label;
  const char *help;
  HelpStyle style;
};

constexpr HelpStyle P = HelpStyle::plain;

// The looper declares 2, 3, 27, 34, 46, 48, 50, 53, 57, 59, 63, 73, 83, 84,
// 96, 98, 102, 107 and 110; the other rows serve the suite's plotting and
// data programs.
const OptionRow kOptionTable[] = {
    {2, "background", "zybback", "bg", 0, 6, "-bg clr", "Background color", P},
    {3, "batch", "zybbatch", "ba", 0, 22, "-ba", "Run program in batch mode", P},
    {4, "bar_color", "zybbarclr", "bc", 0, 6, "-bc clr", "Color bar color", P},
    {5, "border_color", "zybborder", "bd", 0, 6, "-bd clr", "Map border color", P},
    {6, "city_file", "zybcityfile", "cf", 0, 6, "-cf file", "City file name", P},
    {7, "city_color", "zybcityclr", "cc", 0, 6, "-cc clr", "City marker color", P},
    {10, "clear", "zybclear", "cl", 0, 1, "-cl", "Clear the window before plotting", P},
    {11, "cntr_color", "zybcntrclr", "nc", 0, 6, "-nc clr", "Contour color", P},
    {12, "cntr_int", "zybcntrint", "ci", 0, 6, "-ci int", "Contour interval", P},
    {13, "cntr_label", "zybcntrlbl", "cb", 0, 6, "-cb size", "Contour label size", P},
    {16, "cntr_width", "zybcntrwidth", "cw", 0, 2, "-cw width", "Contour line width", P},
    {17, "con_path", "zybconpath", "cp", 0, 8, "-cp path", "Contour file path", P},
    {21, "county_file", "zybcountyfile", "yf", 0, 6, "-yf file", "County map file name", P},
    {24, "data_path", "zybdatapath", "dp", 0, 8, "-dp path", "Data file path", P},
    {25, "date", "zybdate", "dt", 0, 6, "-dt yymmddhh", "Data date and time", P},
    {26, "day_offset", "zybdayoff", "do", 0, 2, "-do days", "Days before the current date", P},
    {27, "color_table", "zybclrtbl", "ct", 0, 6, "-ct file", "Color table file name", P},
    {28, "fill_color", "zybfillclr", "fc", 0, 6, "-fc clr", "Fill color", P},
    {30, "fill_style", "zybfillstyle", "fs", 0, 6, "-fs style", "Fill style", P},
    {31, "font", "zybfont", "fn", 0, 6, "-fn font", "Font name", P},
    {32, "font_list", "zybfontlist", "fl", 0, 6, "-fl file", "Font list file name", P},
    {33, "font_size", "zybfontsize", "fz", 0, 6, "-fz size", "Font size", P},
    {34, "command", "zybcommand", "cd", 0, 6, "-cd cmd[;cmd]", "Commands to be run", P},
    {37, "forecast_hour", "zybfhour", "fh", 0, 6, "-fh hour[,...]", "Forecast hours", P},
    {38, "grid_color", "zybgridclr", "gc", 0, 6, "-gc clr", "Grid color", P},
    {39, "grid_path", "zybgridpath", "gp", 0, 8, "-gp path", "Grid file path", P},
    {40, "grid_param", "zybgridparam", "gm", 0, 6, "-gm param[,...]", "Gridding parameters", P},
    {42, "hdr_path", "zybhdrpath", "hp", 0, 8, "-hp path", "Grid header file path", P},
    {43, "label_color", "zyblabelclr", "lc", 0, 6, "-lc clr", "Label color", P},
    {44, "label_size", "zyblabelsize", "ls", 0, 6, "-ls size", "Label size", P},
    {46, "device", "zybdevice", "de", 0, 17, "-de dev[,name]", "Output device: d,p,q,w,m", P},
    {47, "latlon_color", "zyblatlonclr", "ac", 0, 6, "-ac clr", "Latitude/longitude line color", P},
    {48, "file_path", "zybfile", "fp", 0, 8, "-fp path", "File path", P},
    {49, "level", "zyblevel", "lv", 0, 6, "-lv level[,...]", "Vertical levels", P},
    {50, "filename", "zybfilename", "", kAllRemaining, 21, "file [file...]", "Input file names", P},
    {51, "line_style", "zyblinestyle", "ly", 0, 6, "-ly style", "Line style", P},
    {52, "line_width", "zyblinewidth", "lw", 0, 2, "-lw width", "Line width", P},
    {53, "geometry", "zybgeometry", "ge", 0, 6, "-ge wxh+x+y", "Window geometry", P},
    {54, "map_color", "zybmapclr", "mc", 0, 6, "-mc clr", "Map color", P},
    {55, "map_file", "zybmapfile", "mf", 0, 6, "-mf file", "Map file name", P},
    {56, "marker", "zybmarker", "mk", 0, 6, "-mk type", "Marker type", P},
    {57, "help", "zybhelp", "h", 0, 23, "-h", "Print this help", P},
    {58, "marker_size", "zybmarksize", "mz", 0, 6, "-mz size", "Marker size", P},
    {59, "icon", "zybicon", "ic", 0, 1, "-ic", "Open window iconified", P},
    {60, "max_value", "zybmax", "mx", 0, 6, "-mx value", "Maximum value", P},
    {61, "min_value", "zybmin", "mn", 0, 6, "-mn value", "Minimum value", P},
    {62, "model", "zybmodel", "mo", 0, 6, "-mo model", "Model name", P},
    {63, "image_path", "zybimage", "ip", 0, 6, "-ip path", "Image file path", P},
    {64, "model_path", "zybmodelpath", "mp", 0, 8, "-mp path", "Model file path", P},
    {65, "name_conv", "zybnameconv", "nv", 0, 6, "-nv file", "File name convention file", P},
    {67, "out_file", "zybout", "of", 0, 6, "-of file", "Output file name", P},
    {68, "out_path", "zyboutpath", "op", 0, 8, "-op path", "Output file path", P},
    {69, "plot_param", "zybplotparam", "pp", 0, 6, "-pp param[,...]", "Plot parameters", P},
    {70, "plot_type", "zybplottype", "pt", 0, 6, "-pt type[,...]", "Plot types", P},
    {73, "message", "zybmess", "me", 0, 9, "-me level", "Message level to be displayed:", HelpStyle::message},
    {74, "raw_path", "zybrawpath", "rp", 0, 8, "-rp path", "Raw data file path", P},
    {75, "river_color", "zybriverclr", "rc", 0, 6, "-rc clr", "River color", P},
    {76, "sat_path", "zybsatpath", "sp", 0, 8, "-sp path", "Satellite file path", P},
    {77, "scale", "zybscale", "sc", 0, 6, "-sc scale", "Scale factor", P},
    {78, "skip", "zybskip", "sk", 0, 2, "-sk n", "Grid points to skip", P},
    {81, "state_color", "zybstateclr", "sa", 0, 6, "-sa clr", "State border color", P},
    {82, "station", "zybstation", "st", 0, 6, "-st id[,...]", "Stations", P},
    {83, "parameter", "zybparam", "pa", 0, 6, "-pa param[,...]", "Program parameters", P},
    {84, "plot_domain", "zybdomain", "pd", 0, 20, "-pd region or [proj],clat,clon[,nx,ny][,dx,dy]",
     "Output plot domain", HelpStyle::domain},
    {85, "station_file", "zybstatfile", "sf", 0, 6, "-sf file", "Station file name", P},
    {86, "station_type", "zybstattype", "sy", 0, 6, "-sy type", "Station type", P},
    {89, "text_color", "zybtextclr", "tc", 0, 6, "-tc clr", "Text color", P},
    {90, "text_path", "zybtextpath", "tp", 0, 8, "-tp path", "Text file path", P},
    {91, "time", "zybtime", "tm", 0, 6, "-tm hhmm", "Time of day", P},
    {92, "time_range", "zybtimerange", "tr", 0, 6, "-tr hours", "Time range", P},
    {94, "units", "zybunits", "un", 0, 6, "-un units", "Output units", P},
    {95, "var_file", "zybvarfile", "vf", 0, 6, "-vf file", "Variable table file name", P},
    {96, "region", "zybregion", "re", 0, 13, "-re region or [proj],clat,clon[,nx,ny][,dx,dy]",
     "Region to be used for plotting and gridding", HelpStyle::region},
    {97, "variable", "zybvariable", "va", 0, 6, "-va var[,...]", "Variables", P},
    {98, "stat_prior", "zybprior", "pr", 0, 2, "-pr prior", "Priority of stations used in the plot", P},
    {100, "vector_size", "zybvectorsize", "vs", 0, 6, "-vs size", "Vector size", P},
    {101, "watch_path", "zybwatchpath", "wp", 0, 8, "-wp path", "Watch file path", P},
    {102, "title", "zybtitle", "ti", 0, 6, "-ti title", "Window title", P},
    {103, "wind_color", "zybwindclr", "wc", 0, 6, "-wc clr", "Wind barb color", P},
    {106, "width", "zybwidth", "wd", 0, 2, "-wd width", "Plot width", P},
    {107, "window_num", "zybwindownum", "wn", 0, 2, "-wn", "ZORAzez window number", P},
    {108, "zoom", "zybzoom", "zo", 0, 6, "-zo factor", "Zoom factor", P},
    {110, "grid_domain", "zybgrddomain", "gd", 0, 20, "-gd region or [proj],clat,clon[,nx,ny][,dx,dy]", "Grid domain",
     HelpStyle::domain},
    {111, "infile", "zybinfile", "", 1, 6, "infile", "Input file name", P},
    {112, "outfile", "zyboutfile", "", 2, 6, "outfile", "Output file name", P},
    {113, "mask_file", "zybmaskfile", "kf", 0, 6, "-kf file", "Mask file name", P},
    {114, "analysis", "zybanalysis", "an", 0, 6, "-an type", "Objective analysis type", P},
};
static_assert(sizeof kOptionTable / sizeof kOptionTable[0] == 87, "the suite shares 87 options");

const OptionRow *find_row(int number) {
  for (const OptionRow &row : kOptionTable)
    if (row.number == number) return &row;
  return nullptr;
}

struct Resource {
  int source;
  std::string name;
  std::optional<std::string> value;
  int type;
};

struct ResState {
  std::deque<Resource> list;  // a deque keeps values in place as the list grows
  std::vector<const OptionRow *> keyed;
  std::vector<const OptionRow *> positional;
  std::string prog;
  bool have_prog = false;
  const RES_ServerClient *client = nullptr;  // installed by the program
  const RES_ServerClient *server = nullptr;  // while a conversation runs
};

ResState &state() {
  static ResState s;
  return s;
}

Resource *find_resource(const char *name) {
  if (name == nullptr) return nullptr;
  for (Resource &r : state().list)
    if (r.name == name) return &r;
  return nullptr;
}

std::optional<std::string> to_value(const char *value) {
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

const char *value_text(const Resource &r) { return r.value ? r.value->c_str() : nullptr; }

std::vector<const OptionRow *> declared_rows() {
  std::vector<const OptionRow *> rows = state().keyed;
  rows.insert(rows.end(), state().positional.begin(), state().positional.end());
  return rows;
}

const OptionRow *declared_row(int number) {
  for (const OptionRow *row : declared_rows())
    if (row->number == number) return row;
  return nullptr;
}

bool is_option_word(const char *word) {
  if (word == nullptr || word[0] != '-') return false;
  if (std::isalpha(static_cast<unsigned char>(word[1]))) return true;
  return word[1] == '-' && std::isalpha(static_cast<unsigned char>(word[2]));
}

// "n", "na", "nam", "name": the title for defaults look-ups.
bool is_name_word(const std::string &name) {
  return !name.empty() && name.size() <= 4 && strnicmp(name.c_str(), "name", static_cast<int>(name.size())) == 0;
}

bool is_default_word(const std::string &name) {
  return stricmp(name.c_str(), "default") == 0 || strnicmp(name.c_str(), "df", 2) == 0;
}

// An option word split into its name and its value; *next is advanced
// past a following word taken as the value.
struct OptionWord {
  std::string name;
  std::optional<std::string> value;
  bool value_from_next = false;
};

OptionWord split_option(const char *word, const char *next) {
  OptionWord w;
  const char *start = word + (word[1] == '-' ? 2 : 1);
  const char *equals = std::strchr(start, '=');
  size_t length = equals ? static_cast<size_t>(equals - start) : std::strlen(start);
  w.name = std::string(start, std::min(length, kOptionNameMax));
  if (equals != nullptr) {
    w.value = std::string(equals + 1);
  } else if (next != nullptr && !is_option_word(next) && std::strcmp(next, "--") != 0) {
    // "-5" is a value, not an option: only a dash and a letter start one.
    w.value = std::string(next);
    w.value_from_next = true;
  }
  return w;
}

const OptionRow *match_keyed(const std::string &name) {
  const auto &keyed = state().keyed;
  for (const OptionRow *row : keyed)
    if (row->abbr[0] != '\0' && stricmp(row->abbr, name.c_str()) == 0) return row;
  for (const OptionRow *row : keyed)
    if (stricmp(row->name, name.c_str()) == 0) return row;
  if (is_name_word(name) || is_default_word(name)) return nullptr;
  for (const OptionRow *row : keyed)
    if (strnicmp(row->name, name.c_str(), static_cast<int>(name.size())) == 0 && std::strlen(row->name) >= name.size())
      return row;
  return nullptr;
}

bool is_flag_type(int type) { return type == RES_BATCH || type == RES_HELP || type == RES_BOOLEAN; }

// ---- Resource server ---------------------------------------------------------

// Longest answer line the server sends, with its code, line end and terminator.
constexpr int kAnswerSize = 121;
char answer_buffer[kAnswerSize];

int await_answer(RES_Wait wait = RES_Wait::timed) {
  return state().server->receive(answer_buffer, sizeof answer_buffer, wait);
}

void send_set_res(const char *name, const char *value) {
  char line[kAnswerSize];
  std::snprintf(line, sizeof line, "set res %s %s", name, value ? value : "");
  state().server->send(line);
}

// Asks the server for every declared option, takes the values it has and
// tells it ours for those it lacks.
void query_server(const char *entry) {
  const RES_ServerClient *client = state().client;
  if (client == nullptr || client->connect(entry + 1) != 0) return;
  state().server = client;

  std::vector<const OptionRow *> rows = declared_rows();
  char line[kAnswerSize];
  for (const OptionRow *row : rows) {
    std::snprintf(line, sizeof line, "query res %s", row->name);
    client->send(line);
  }

  int sets_sent = 0;
  for (const OptionRow *row : rows) {
    bool got_value = false;
    for (;;) {
      int code = await_answer();
      if (code == RES_SERVER_GONE) MESS_print(MESS_WARN, "ZORazez not running!\n");
      if (code != 0) break;
      char first = answer_buffer[0];
      if (first == '\0' || first == '\n' || first == '!') continue;
      std::string value = answer_buffer;
      value.pop_back();  // the answer's line end
      RES_new(row->number, row->name, value.c_str(), row->type);
      got_value = true;
    }
    const Resource *local = find_resource(row->name);
    if (!got_value && local != nullptr) {
      send_set_res(row->name, value_text(*local));
      sets_sent++;
    }
  }
  for (int i = 0; i < sets_sent; i++) await_answer(RES_Wait::patient);
}

// ---- Reading the sources -----------------------------------------------------

void read_defaults_file(const char *entry) {
  if (DEF_open(entry) != 0) return;
  char key[DEF_LINE_SIZE], value[DEF_LINE_SIZE];
  std::vector<const OptionRow *> rows = declared_rows();
  while (DEF_get(key, value) == 1) {
    bool matched = false;
    for (const OptionRow *row : rows) {
      if (!DEF_cmp(row->name, key)) continue;
      RES_new(row->number, row->name, value, row->type);
      matched = true;
    }
    if (matched || !DEF_valid(key)) continue;
    char name[DEF_LINE_SIZE];
    RES_new(RES_UNDECLARED, DEF_parse_name(key, name), value, RES_TEXT);
  }
  DEF_close();
}

void read_defaults_path() {
  const char *path = RES_get("default");
  if (path == nullptr) path = kDefaultPath;
  ParsedList entries(path, ':');
  DEF_clr_tag();
  if (entries.count() == 0) read_defaults_file("");
  for (int i = 0; i < entries.count(); i++) {
    const char *entry = entries.at(i);
    if (entry[0] == '+')
      DEF_tag(entry + 1);
    else if (entry[0] == '#')
      query_server(entry);
    else
      read_defaults_file(entry);
  }
}

void prescan_name_and_default(int argc, char **argv) {
  for (int i = 1; i < argc; i++) {
    const char *word = argv[i];
    if (word == nullptr || word[0] != '-' || !std::isalpha(static_cast<unsigned char>(word[1]))) continue;
    OptionWord w = split_option(word, i + 1 < argc ? argv[i + 1] : nullptr);
    const char *value = w.value ? w.value->c_str() : nullptr;
    if (is_name_word(w.name)) {
      RES_new(RES_UNDECLARED, "name", value, RES_TEXT);
      DEF_name(value ? value : "");
    } else if (is_default_word(w.name)) {
      RES_new(RES_UNDECLARED, "default", value, RES_TEXT);
    }
  }
}

void read_environment() {
  for (const OptionRow *row : declared_rows()) {
    std::string value;
    if (DEF_env_value(row->name, row->env, &value)) RES_new(row->number, row->name, value.c_str(), row->type);
  }
}

void tell_server(const char *name, const char *value) {
  if (!state().server) return;
  send_set_res(name, value);
  await_answer();
}

void store_positional(int position, const char *word, std::vector<int> *started) {
  const auto &positional = state().positional;
  auto exact =
      std::find_if(positional.begin(), positional.end(), [&](const OptionRow *r) { return r->position == position; });
  if (exact == positional.end())
    exact = std::find_if(positional.begin(), positional.end(),
                         [](const OptionRow *r) { return r->position == kAllRemaining; });
  if (exact == positional.end()) return;
  const OptionRow *row = *exact;
  // The first word replaces what the defaults or environment gave; later
  // words add lines.
  if (std::find(started->begin(), started->end(), row->number) == started->end()) {
    started->push_back(row->number);
    RES_new(row->number, row->name, word, row->type);
  } else {
    RES_append(row->number, row->name, word, row->type);
  }
  tell_server(row->name, word);
}

void read_command_line(int argc, char **argv) {
  int positional_count = 0;
  std::vector<int> started;
  for (int i = 1; i < argc; i++) {
    const char *word = argv[i];
    if (word == nullptr || std::strcmp(word, "--") == 0) continue;
    if (!is_option_word(word)) {
      store_positional(++positional_count, word, &started);
      continue;
    }
    OptionWord w = split_option(word, i + 1 < argc ? argv[i + 1] : nullptr);
    const OptionRow *row = match_keyed(w.name);
    if (row != nullptr && is_flag_type(row->type) && w.value_from_next) {
      w.value.reset();
      w.value_from_next = false;
    }
    if (w.value_from_next) i++;
    const char *value = w.value ? w.value->c_str() : nullptr;

    if (row != nullptr) {
      RES_new(row->number, row->name, value, row->type);
      tell_server(row->name, value);
    } else if (is_name_word(w.name)) {
      RES_new(RES_UNDECLARED, "name", value, RES_TEXT);
    } else if (is_default_word(w.name)) {
      RES_new(RES_UNDECLARED, "default", value, RES_TEXT);
    } else {
      RES_new(RES_UNDECLARED, w.name.c_str(), value, RES_TEXT);
      tell_server(w.name.c_str(), value);
    }
  }
}

void finish_with_server() {
  const RES_ServerClient *server = state().server;
  if (!server) return;
  server->send("quit");
  await_answer();
  server->close();
  state().server = nullptr;
}

// Rows carry no outputs in this program, so only the types that act by
// themselves (batch, help, message) do anything here.
void convert_declared() {
  for (const Resource &r : state().list) {
    if (r.source == RES_UNDECLARED || declared_row(r.source) == nullptr) continue;
    RES_conv_data(value_text(r), nullptr, r.type);
  }
}

// ---- Conversions -------------------------------------------------------------

int convert_boolean(const char *value, int *out) {
  if (value == nullptr) {
    *out = 1;
    return 1;
  }
  for (const char *yes : {"true", "on", "yes"})
    if (stricmp(value, yes) == 0) {
      *out = 1;
      return 1;
    }
  for (const char *no : {"false", "off", "no"})
    if (stricmp(value, no) == 0) {
      *out = 0;
      return 1;
    }
  return 0;
}

int convert_integer(const char *value, int *out) {
  if (value == nullptr) return 0;
  char first = value[0];
  if (!std::isdigit(static_cast<unsigned char>(first)) && first != '+' && first != '-') return 0;
  bool hex = value[1] == 'x' || value[1] == 'X';
  long number = std::strtol(value, nullptr, hex ? 16 : 10);
  *out = static_cast<int>(std::clamp<long>(number, INT_MIN, INT_MAX));
  return 1;
}

int convert_path(const char *value, char *out) {
  if (value == nullptr || stricmp(value, "none") == 0) {
    out[0] = '\0';
    return 1;
  }
  copy_limited_to(out, value, FILE_NAME_MAX - 1);
  FILE_add_path_delim(out);
  return 1;
}

int convert_device(const char *value, const char **out) {
  int device = RES_set_device(value);
  if (out != nullptr) {
    const char *comma = value ? std::strchr(value, ',') : nullptr;
    // "w," has one item only: the trailing comma does not count.
    bool two_items = comma != nullptr && comma[1 + std::strspn(comma + 1, ",")] != '\0';
    *out = two_items ? comma + 1 : nullptr;
  }
  return device;
}

int convert_name_list(const char *value, char ***out) {
  int count = 0;
  parse_string(value, '\n', &count, out);
  return count;
}

}  // namespace

int RES_set_device(const char *text) {
  struct DeviceRow {
    char letter;
    int device;
  };
  static const DeviceRow kDevices[] = {{'h', 5}, {'q', 5}, {'m', 3}, {'p', 4}, {'w', 6}};
  int device = 1;
  char first = text ? static_cast<char>(std::tolower(static_cast<unsigned char>(text[0]))) : '\0';
  if (first != ',')
    for (const DeviceRow &row : kDevices)
      if (row.letter == first) device = row.device;
  FLAG_set(FLAG_DEVICE, device);
  return device;
}

int RES_conv_data(const char *value, void *output, int type) {
  switch (type) {
    case RES_MESSAGE:
      if (value == nullptr) return 0;
      MESS_set_str(value);
      return 1;
    case RES_BATCH:
      FLAG_set(FLAG_BATCH, 1);
      if (MESS_check_set() == 0) MESS_set(0, 255);
      return 1;
    case RES_HELP: FLAG_set(FLAG_HELP, 1); return 1;
    default: break;
  }
  if (output == nullptr) return 0;
  switch (type) {
    case RES_BOOLEAN: return convert_boolean(value, static_cast<int *>(output));
    case RES_INTEGER: return convert_integer(value, static_cast<int *>(output));
    case RES_PATH: return convert_path(value, static_cast<char *>(output));
    case RES_DEVICE: return convert_device(value, static_cast<const char **>(output));
    case RES_NAME_LIST: return convert_name_list(value, static_cast<char ***>(output));
    default:
      // Text, and the domain types: the domain module decodes those texts itself.
      *static_cast<const char **>(output) = value ? value : "";
      return 1;
  }
}

int RES_new(int source, const char *name, const char *value, int type) {
  if (name == nullptr) return -1;
  Resource *r = find_resource(name);
  if (r == nullptr) {
    state().list.push_back(Resource{source, name, to_value(value), type});
    return 0;
  }
  r->source = source;
  r->value = to_value(value);
  r->type = type;
  return 0;
}

int RES_append(int source, const char *name, const char *value, int type) {
  Resource *r = find_resource(name);
  if (r == nullptr || !r->value) return RES_new(source, name, value, type);
  *r->value += '\n';
  if (value != nullptr) *r->value += value;
  r->source = source;
  r->type = type;
  return 0;
}

int RES_put(const char *name, const char *value) { return RES_new(RES_UNDECLARED, name, value, RES_TEXT); }

const char *RES_get(const char *name) {
  const Resource *r = find_resource(name);
  if (r == nullptr) return nullptr;
  return r->value ? r->value->c_str() : "";
}

int RES_getval(const char *name, void *output, int type) {
  const Resource *r = find_resource(name);
  if (r == nullptr || output == nullptr) return 0;
  return RES_conv_data(value_text(*r), output, type);
}

int RES_getvals(const char *name, int *count, char ***list) {
  *count = 0;
  *list = nullptr;
  const Resource *r = find_resource(name);
  if (r == nullptr || !r->value) return 0;
  parse_string(r->value->c_str(), r->type == RES_NAME_LIST ? '\n' : ',', count, list);
  return *count;
}

int RES_list() {
  for (const Resource &r : state().list) {
    if (r.value)
      MESS_print(MESS_PRINT_D, "%s: %s\n", r.name.c_str(), r.value->c_str());
    else
      MESS_print(MESS_PRINT_D, "%s:\n", r.name.c_str());
  }
  return 0;
}

const char *RES_get_prog() { return state().have_prog ? state().prog.c_str() : nullptr; }

char *RES_get_progname(char *buffer) {
  std::string name = "ZYB";
  if (state().have_prog) {
    const std::string &prog = state().prog;
    size_t slash = prog.rfind('/');
    name = copy_limited(prog.c_str() + (slash == std::string::npos ? 0 : slash + 1), kProgNameMax);
  }
  if (buffer == nullptr) {
    buffer = static_cast<char *>(std::malloc(name.size() + 1));
    if (buffer == nullptr) return const_cast<char *>("ZYB");
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return buffer;
}

int RES_decode(const char *prog, const char *class_name, int argc, char **argv) {
  (void)class_name;
  ResState &s = state();
  s.have_prog = prog != nullptr;
  s.prog = prog ? prog : "";
  DEF_prog();

  if (const char *defaults = std::getenv("zybdefault")) RES_new(RES_UNDECLARED, "default", defaults, RES_TEXT);
  prescan_name_and_default(argc, argv);
  read_defaults_path();
  read_environment();
  read_command_line(argc, argv);
  finish_with_server();
  convert_declared();
  return 1;
}

namespace {

int declare(std::vector<const OptionRow *> *list, int number) {
  const OptionRow *option = find_row(number);
  if (option == nullptr) return -1;
  list->push_back(option);
  return 0;
}

}  // namespace

int RES_enter(int row, int number) {
  (void)row;
  const OptionRow *option = find_row(number);
  if (option == nullptr) return -1;
  return declare(option->abbr[0] != '\0' ? &state().keyed : &state().positional, number);
}

int RES_init(int argc, char **argv, const int *keyed, const int *positional) {
  FLAG_reset(-9999);
  ResState &s = state();
  s.keyed.clear();
  s.positional.clear();
  for (const int *n = keyed; n != nullptr && *n != 0; n++) declare(&s.keyed, *n);
  for (const int *n = positional; n != nullptr && *n != 0; n++) declare(&s.positional, *n);
  RES_decode(argc > 0 && argv ? argv[0] : nullptr, "Zyb", argc, argv);
  if (const char *tz = std::getenv("zybtz")) DATE_set_TZ(tz);
  return 1;
}

namespace {

constexpr const char *kDomainHelp[] = {
    "               region=predefined region:\n",
    "                  us,ne,at,se,mw,sp,nw,sw,etc\n",
    "               proj=projection, clat=central latitude, clon=central longitude,\n",
    "               nx,ny=number of gridpoints and dx,dy=grid spacing\n",
};

void print_option_help(const OptionRow &row) {
  if (row.style == HelpStyle::domain || row.style == HelpStyle::region) {
    MESS_print(MESS_PRINT, " %-10s\n", row.label);
    MESS_print(MESS_PRINT, "             %s\n", row.help);
    for (const char *line : kDomainHelp) MESS_print(MESS_PRINT, "%s", line);
    if (row.style == HelpStyle::region) MESS_print(MESS_PRINT, "               us,ne,at,se,mw,sp,nw,sw,var\n");
    return;
  }
  MESS_print(MESS_PRINT, " %-10s  %s\n", row.label, row.help);
  if (row.style == HelpStyle::message)
    MESS_print(MESS_PRINT, "               none,print,error,warn,mess,out1,*out2,out3,out4,debug\n");
}

void print_rows(const int *numbers) {
  for (const int *n = numbers; n != nullptr && *n != 0; n++)
    if (const OptionRow *row = find_row(*n)) print_option_help(*row);
}

}  // namespace

void RES_help_print(const char *progname, const int *keyed, const int *positional) {
  if (progname == nullptr) progname = "ZYB";
  MESS_print(MESS_PRINT, "%s syntax (version:%s)\n", progname, ZYB_version());
  MESS_print(MESS_PRINT, "   %s [options...]\n", progname);
  MESS_print(MESS_PRINT, "Keyed options...\n");
  MESS_print(MESS_PRINT, " %-10s  Resource/defaults file name\n", "-df file");
  MESS_print(MESS_PRINT, " %-10s  Program name\n", "-na name");
  print_rows(keyed);
  MESS_print(MESS_PRINT, "Positional options...\n");
  print_rows(positional);
}

void RES_clear() {
  ResState &s = state();
  s.list.clear();
  s.keyed.clear();
  s.positional.clear();
  s.prog.clear();
  s.have_prog = false;
  s.server = nullptr;
}

void RES_set_server_client(const RES_ServerClient *client) { state().client = client; }
