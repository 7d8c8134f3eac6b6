// Small X12 inputs for the core tests.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "zarvi_core/delimiters.h"

namespace zarvi_core::testing {

// The default delimiters with "?" as the release character.
inline Delimiters released() {
  Delimiters d;
  d.release = '?';
  return d;
}

// An ISA header (with its terminator) declaring the given delimiters.
inline std::string isa(char element = '*', char component = ':', char terminator = '~',
                       const std::string& isa11 = "^", const std::string& isa12 = "00501") {
  const std::string e(1, element);
  return "ISA" + e + "00" + e + std::string(10, ' ') + e + "00" + e + std::string(10, ' ') + e +
         "ZZ" + e + "SENDER         " + e + "ZZ" + e + "RECEIVER       " + e + "260105" + e +
         "1200" + e + isa11 + e + isa12 + e + "000000001" + e + "0" + e + "P" + e + component +
         terminator;
}

// A short interchange with default delimiters, ending in a terminator.
inline std::string small_interchange() {
  return isa() + "GS*HP*S*R*20260105*1200*1*X*005010X221A1~ST*835*0001~" +
         "SVC*HC:99213:25*100*80~SE*3*0001~GE*1*1~IEA*1*000000001~";
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline std::string data_file(const std::string& name) {
  return read_file(std::string(ZARVI_SOURCE_DIR) + "/tests/data/" + name);
}

// The shared corpus of third-party files, read in place: beside the
// repository, else at its fixed place; none when absent.
inline std::optional<std::filesystem::path> corpus_dir() {
  namespace fs = std::filesystem;
  for (const fs::path& p : {fs::path(ZARVI_SOURCE_DIR) / ".." / "shared" / "corpus",
                            fs::path("/work/shared/corpus")})
    if (fs::is_directory(p)) return p;
  return std::nullopt;
}

// The corpus files (name and bytes) in name order, without its SOURCES.md.
inline std::vector<std::pair<std::string, std::string>> corpus_files() {
  std::vector<std::pair<std::string, std::string>> out;
  if (const auto dir = corpus_dir())
    for (const auto& entry : std::filesystem::directory_iterator(*dir))
      if (entry.is_regular_file() && entry.path().filename() != "SOURCES.md")
        out.emplace_back(entry.path().filename().string(), read_file(entry.path().string()));
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace zarvi_core::testing
