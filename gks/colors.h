// Named colours read from colour-table files.
#pragma once

constexpr int CLR_MAX_COLORS = 256;
constexpr int CLR_NAME_MAX = 19;
constexpr int CLR_LINE_MAX = 100;
constexpr const char *CLR_DEFAULT_TABLE = "zyb.clr";

// Results of CLR_get_ind besides table indices.
constexpr int CLR_NONE = -1;
constexpr int CLR_END = -2;

int CLR_read_table(const char *names);  // comma list; nullptr or "": the default
int CLR_get_ind(const char *name);
int CLR_get_rgb(int i, float *r, float *g, float *b);
int CLR_get_num();
int CLR_add(const char *name, float r, float g, float b);
const char *CLR_get_name(int i);   // "" outside the table
const char *CLR_get_table_path();  // the last file read, "" before any
