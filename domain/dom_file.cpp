#include "domain/dom_file.h"

#include "util/files.h"
#include "util/resrc.h"

FILE *DOM_open_data(const char *name, char *path) {
  if (name == nullptr || !FILE_is_safe_input(name)) return nullptr;
  // Every place FILE_open_data may try must hold a plain file or nothing.
  char candidate[FILE_NAME_SIZE];
  const char *dir = RES_get("file_path");
  if (!FILE_is_safe_input(FILE_add_path(dir ? dir : "", name, candidate))) return nullptr;
  if (*FILE_data_dir() && !FILE_is_safe_input(FILE_add_path(FILE_data_dir(), name, candidate))) return nullptr;
  return FILE_open_data(name, path);
}
