#include "document/document_file.h"

#include <string>
#include <string_view>

#include "console/console.h"
#include "document/file_store.h"
#include "document/windows_names.h"

namespace {

#ifdef _WIN32
constexpr std::string_view kPathSeparators = kWindowsPathSeparators;

bool IsRefusedComponent(std::string_view component) {
  return IsRefusedWindowsName(component);
}
#else
constexpr std::string_view kPathSeparators = "/";

bool IsRefusedComponent(std::string_view) {
  return false;
}
#endif

// A name may reach into subfolders of txt/ but never out of it, and a NUL byte would cut the
// path short and silently name a different file.
bool StaysInDocumentFolder(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return false;
  for (;;) {
    const size_t end = path.find_first_of(kPathSeparators);
    const std::string_view component = path.substr(0, end);
    if (component == ".." || IsRefusedComponent(component)) return false;
    if (end == std::string_view::npos) return true;
    path.remove_prefix(end + 1);
  }
}

}  // namespace

std::string DocumentPath(const std::string& name) {
  return "txt/" + name + ".txt";
}

void CreateDocument(const std::string& name) {
  const std::string path = DocumentPath(name);
  if (!StaysInDocumentFolder(path) || !CreateFileIfMissing(path)) {
    ReportFatal("Failed to create file.");
  }
  MoveCursor(2, 4);
  WriteText(" The file has been saved as " + ShownTyped(name) + ".txt\n");
  Pause(2000);
}

void WriteDocument(const std::string& name, const std::string& text) {
  const std::string path = DocumentPath(name);
  if (!StaysInDocumentFolder(path) || !ReplaceFileContents(path, text)) {
    ReportFatal("Failed to save file.");
  }
}
