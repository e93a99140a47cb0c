// Writing new contents over a document that must stay the same file, on any system. The old
// bytes are kept, when the file can be read, to put back should a step fail; room for the new
// ones is taken before the first old byte changes, so a full disk fails the save while the
// document is still whole.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// `file` is the document opened for writing, locked against other writers, and gives:
//   std::optional<std::string> ReadAll()   what it holds; nothing when it cannot be read
//   bool Reserve(size_t size)              room for `size` bytes, or false
//   bool Overwrite(std::string_view)       the bytes from its start, the file cut to their length
//   bool Flush()                           on disk
//   bool Close()                           closed, false when closing reports an error
//   bool IsOpen()
template <typename File>
bool SaveInPlace(File& file, std::string_view bytes) {
  const std::optional<std::string> old = file.ReadAll();
  if (!file.Reserve(bytes.size())) return false;
  if (file.Overwrite(bytes) && file.Flush() && file.Close()) return true;
  if (old && file.IsOpen()) {
    file.Overwrite(*old);
    file.Flush();
  }
  return false;
}
