// A fresh folder holding an empty txt/, removed at the end of the test.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() / ("quillomat-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));  // false: it was there already
    std::filesystem::create_directory(path_ / "txt");
  }
  ~TempDir() { std::filesystem::remove_all(path_); }

  std::string Path(const std::string& relative = "") const { return (path_ / relative).string(); }
  std::string Read(const std::string& relative) const {
    std::ostringstream content;
    content << std::ifstream(path_ / relative, std::ios::binary).rdbuf();
    return content.str();
  }
  void Write(const std::string& relative, const std::string& content) const {
    std::ofstream(path_ / relative, std::ios::binary) << content;
  }
  // Every file and folder in it, as relative paths.
  std::set<std::string> Entries() const {
    std::set<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_)) {
      entries.insert(entry.path().lexically_relative(path_).generic_string());
    }
    return entries;
  }

 private:
  std::filesystem::path path_;
};

// A TempDir that is the working directory for the life of the object, as the program runs from
// the folder holding txt/.
class WorkingTempDir : public TempDir {
 public:
  WorkingTempDir() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(Path());
  }
  ~WorkingTempDir() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};
