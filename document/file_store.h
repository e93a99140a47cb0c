// The two ways the program touches a document on disk, done so that a document is never lost:
// creating never empties an existing file, and replacing swaps in complete contents in one step.
#pragma once

#include <string>
#include <string_view>

// Creates `path` when it is missing and leaves an existing file as it is. False when the file
// cannot be opened for writing.
bool CreateFileIfMissing(const std::string& path);

// Replaces what `path` holds with `bytes`: they go to a temporary file in the same folder, which
// is flushed to disk and then renamed over the file. False when any step fails; the file then
// keeps its earlier contents, and no temporary file is left behind.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);
