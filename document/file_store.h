// The two ways the program touches a document on disk, done so that a document is never lost:
// creating never empties an existing file, and replacing either swaps in complete contents in
// one step or writes them over the file and puts the old ones back if that fails.
#pragma once

#include <string>
#include <string_view>

// Creates `path` when it is missing and leaves an existing file as it is. False when the file
// cannot be opened for writing.
bool CreateFileIfMissing(const std::string& path);

// Replaces what `path` holds with `bytes`: through a temporary file in the same folder, flushed
// and renamed over the file, when a new file can stand for it; otherwise written in place, so
// that it stays the same file (its other links, its owner). False when any step fails; the file
// then keeps its earlier contents, and no temporary file is left behind.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);
