// Opening files, building paths, and file-name conventions.
//
// Names: "", "-", "std" and "stdn" (any case) are the standard streams; a
// name beginning with "|" is a command to pipe to; "~" and "~user" expand
// to home directories; writing creates missing parent directories.
#pragma once

#include <cstdio>

#include "util/date.h"

constexpr int FILE_NAME_MAX = 160;                 // longest path or name the module produces
constexpr int FILE_NAME_SIZE = FILE_NAME_MAX + 1;  // size of every out buffer below
constexpr int FILE_KEY_MAX = 29;

FILE *FILE_open(const char *name, const char *mode);
int FILE_close(FILE *stream);  // pclose for pipes, nothing for standard streams

// out (FILE_NAME_SIZE bytes) = dir + "/" + name, unless name is a standard
// stream or a full path. Returns out.
char *FILE_add_path(const char *dir, const char *name, char *out);
// Appends "/" unless text is empty or ends in one; text has room for one more byte.
char *FILE_add_path_delim(char *text);
// out (FILE_NAME_SIZE bytes) = name with "~" or "~user" expanded. Returns out.
char *FILE_add_user_path(const char *name, char *out);

// Opens a shipped data file (colour table, font, city or region file) for
// reading: along the "file_path" resource, then as named, then in the
// program's data directory. path (FILE_NAME_SIZE bytes, may be nullptr)
// receives the name last tried. nullptr when none opens.
FILE *FILE_open_data(const char *name, char *path);
// The directory the data files were installed in ("" when unknown).
const char *FILE_data_dir();

// 1 when name may be read on behalf of another program: not a pipe, not a
// standard stream, and a regular file when it exists (a device or fifo
// would hold the caller). Prints nothing.
int FILE_is_safe_input(const char *name);

int FILE_fullpath(const char *name);  // begins with ".", "/" or "~"
int FILE_is_stdio(const char *name);
int FILE_exist(const char *name);
int FILE_is_dir(const char *name);
long FILE_size(const char *name);  // -1 when stat fails

// Creates the directories of path leaving out its last skip components.
// Returns 1 when the directory part already existed, else 0. Changes "\\" to "/" in place.
int FILE_make_dir(char *path, int skip);

// File-name conventions.
int FILE_set_key(char key, const char *text);
int FILE_set_time(const DateRecord *date);  // the override record
int FILE_set_min_size(int size);
int FILE_get_min_size();
int FILE_set_name(const char *name);  // 1 when a template was found, else 0
// Expands the template into out (FILE_NAME_SIZE bytes) with date, or with
// the module's current date when date is nullptr.
int FILE_set_date(const DateRecord *date, char *out);
int FILE_set_current_date();          // the current date becomes the UTC time now
int FILE_get_date(DateRecord *date);  // copy of the current date
int FILE_set_header_mode(int on);     // use the header template of the convention
const char *FILE_get_last_name();     // the last name produced
