// Plot domains: the record that says which part of the earth (or of a
// chart) a picture shows, and the texts that describe one.
#pragma once

#include <cstdint>

constexpr int DOM_MISSING = -9999;

// Fifteen 32-bit words, in the order the suite's files and records use.
struct DomainRecord {
  int32_t proj;              // projection code
  float plat;                // pole or reference latitude
  float plon;                // central longitude
  float p1, p2, p3, p4, p5;  // projection parameters
  float clat, clon;          // centre (or chart origin)
  float dx, dy;              // grid spacing, 100 km units for map projections
  int32_t nx, ny;            // grid points
  int32_t ellipsoid;         // 1 when the projection text carried the "e" marker
};

// Every field missing, ellipsoid 0. Returns 0.
int DOM_init(DomainRecord *domain);

// Results of DOM_decode.
constexpr int DOM_EXPLICIT = 1;         // numbers (or a station) gave the domain
constexpr int DOM_REGION = 2;           // a named region gave the domain
constexpr int DOM_NOT_RECOGNISED = -1;  // no pattern fits, or the name or station is known nowhere
constexpr int DOM_NONE = DOM_MISSING;   // empty text or "miss"

// Projection codes with a meaning of their own to callers.
constexpr int DOM_PROJ_POLAR = 1;
constexpr int DOM_PROJ_LATLON = 2;
constexpr int DOM_PROJ_SATELLITE = 9;
constexpr int DOM_PROJ_ZOOM = 50;
constexpr int DOM_PROJ_SIZE = 51;
constexpr int DOM_PROJ_NONE = -1;  // DOM_proj_str: not a projection name

// Grid sizes a domain may ask for: an X window is at most this wide, and
// nothing sane asks for a map grid beyond it.
constexpr int DOM_MAX_POINTS = 32767;
// Largest magnitude of a number in a domain text.
constexpr float DOM_MAX_VALUE = 1.0e6f;

constexpr int DOM_TEXT_MAX = 160;  // domain texts and region lines

// Decodes a domain text into domain:
//   1 (DOM_EXPLICIT), 2 (DOM_REGION): the record is filled, flag slot 5
//     holds the result, file key "r" the text, and the station priority
//     follows the domain's size;
//   -1 (DOM_NOT_RECOGNISED): nothing fits, a region name is found neither
//     in the region file nor among the built-ins, a station is unknown, or
//     a value is out of range ("DOM_decode: Invalid plot domain\n"); the
//     record, key "r" and the priority are left as they were, flag slot 5
//     holds -1;
//   -9999 (DOM_NONE): an empty text or "miss"; the record is reset.
// File names inside the text are refused when they name a pipe, a
// standard stream or a special file, since the text may come from a client.
int DOM_decode(const char *text, DomainRecord *domain);

// The projection code of a name (case-insensitive prefix table), -1 when
// the name is none, -9999 for "miss".
int DOM_proj_str(const char *name);

// Whether the "var" region may prompt for its centre on the terminal
// (default 0). Only a program reading its own command line from a terminal
// should allow it; otherwise "var" is not recognised. Returns the previous
// setting.
int DOM_set_prompt(int allowed);

// A built-in region ("us", "ne", "at", "se", "mw", "sp", "nw", "sw",
// "var"): 1 and the record filled, else 0.
int DOM_get_def_region(const char *name, DomainRecord *domain);

// Region files: "abbreviation description menu domain-text" lines, "#"
// lines are comments. name nullptr or "" means "zyb.reg". The domain text
// of the region abbr (the first region when abbr is nullptr or "") is
// copied into out (DOM_TEXT_MAX + 1 bytes). 1 when found, else 0.
int DOM_search_file(const char *name, const char *abbr, char *out);

// Loads up to DOM_MENU_MAX regions with a non-zero menu number from a
// region file into the region menu. 1, or 0 when the file cannot be opened.
constexpr int DOM_MENU_MAX = 19;
int DOM_read_menu(const char *name);
struct DomainMenuItem {
  char abbr[32];
  char description[64];  // "_" already turned into blanks
  int number;
  char text[DOM_TEXT_MAX + 1];
};
int DOM_menu_size();
int DOM_menu_item(int index, DomainMenuItem *out);  // 1, or 0 outside the menu

// Station-plot priority for the plotting modules. The base follows the
// plotted size s = (ny - 1) * dy: 1 for s > 50, 2 > 25, 3 > 12.5, 4 > 6.25,
// 5 > 3, else 6; the resource "stat_prior" then adjusts it ("+d", "-d", or
// a digit that replaces it). The result is at least 1.
int DOM_set_base_prior(float size);
int DOM_get_base_prior();
int DOM_set_loc_prior(int prior);  // the "loc_pr" plot parameter
int DOM_get_loc_prior();
