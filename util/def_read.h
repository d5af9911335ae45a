// Defaults files: "key value" lines addressed to programs by name, with a
// small tag preprocessor (DEF, UNDEF, IF, ELIF, ELSE, END).
#pragma once

constexpr int DEF_LINE_MAX = 249;
constexpr int DEF_LINE_SIZE = DEF_LINE_MAX + 1;  // size of the key and value buffers
constexpr int DEF_MAX_TAGS = 10;
constexpr int DEF_MAX_DEPTH = 24;

int DEF_prog();                      // program name from the command line
int DEF_set_prog(const char *name);  // sets the program name directly
int DEF_name(const char *title);
int DEF_title(const char *title);
int DEF_clr_tag();
int DEF_tag(const char *text);  // 0, or -1 when all tags are in use

int DEF_open(const char *path);  // 0 when a file was opened, -1 otherwise
int DEF_close();
// Next pair in force: 1, or -1 at the end or with no file. key and value
// hold DEF_LINE_SIZE bytes each.
int DEF_get(char *key, char *value);

int DEF_cmp(const char *option, const char *key);
int DEF_valid(const char *key);
char *DEF_parse_name(const char *key, char *out);  // out >= DEF_LINE_SIZE
// Value of the first set environment variable for the option; out holds
// DEF_LINE_SIZE bytes (longer values are cut). 1 when found, else 0.
int DEF_env(const char *option, const char *env_name, char *out);

// As DEF_env, with the whole value.
#include <string>
int DEF_env_value(const char *option, const char *env_name, std::string *out);

// Back to the start-up state: name "Zyb", no title, no tags, empty IF stack.
void DEF_reset();
