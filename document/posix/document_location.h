// Where a document path leads, following symbolic links only when they can be trusted: a link is
// followed when its owner is the user running the program or the owner of the folder that holds
// it (the kernel's protected-link rule, applied everywhere). Another user's link in a shared
// folder can then never steer a write to a file of their choosing, however often it is swapped:
// the path is looked up afresh, link by link, each time the document is opened.
#pragma once

#include <optional>
#include <string>
#include <utility>

// An open file descriptor, closed when it goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Closes now; false when closing reported an error (the last chance a write has to fail).
  bool Close();

 private:
  int fd_;
};

// The folder that holds the document and its name there, which is not a symbolic link (it may
// not exist yet).
struct DocumentLocation {
  FileDescriptor folder;
  std::string name;
};

// Nothing when the path cannot be followed: a folder on the way is missing, or a link on the way
// is not trusted.
std::optional<DocumentLocation> LocateDocument(const std::string& path);
