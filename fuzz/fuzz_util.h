// What the file-reading fuzz targets share: the readers take file names, so
// each input is written to a scratch file of this process first.
#pragma once

#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zyb_fuzz {

inline std::string scratch(const char *target, const char *what) {
  return std::string("/tmp/") + target + "." + std::to_string(getpid()) + "." + what;
}

inline bool put_file(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(data, 1, size, f);
  return std::fclose(f) == 0;
}

}  // namespace zyb_fuzz
