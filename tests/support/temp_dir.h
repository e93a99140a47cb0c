// A fresh folder holding an empty txt/, removed at the end of the test.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempDir {
 public:
  TempDir() {
    std::string pattern = std::filesystem::temp_directory_path() / "quillomat-XXXXXX";
    path_ = mkdtemp(pattern.data());
    std::filesystem::create_directory(path_ / "txt");
  }
  ~TempDir() { std::filesystem::remove_all(path_); }

  std::string Path(const std::string& relative = "") const { return path_ / relative; }
  std::string Read(const std::string& relative) const {
    std::ostringstream content;
    content << std::ifstream(path_ / relative, std::ios::binary).rdbuf();
    return content.str();
  }

 private:
  std::filesystem::path path_;
};
