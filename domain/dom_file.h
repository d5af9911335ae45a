// Opening the region and city files that domain texts may name.
#pragma once

#include <cstdio>

// As FILE_open_data (along "file_path", as named, in the data directory),
// but only plain files: a domain text can come from a client, and a pipe,
// a standard stream or a fifo named there would run a command or hold the
// program. path (FILE_NAME_SIZE bytes, may be nullptr) receives the name
// last tried. nullptr when nothing safe opens.
FILE *DOM_open_data(const char *name, char *path);
