// The run's one product: the document "txt/<name>.txt", created right after it is named and
// filled with the typed line at the end.
#pragma once

#include <string>

std::string DocumentPath(const std::string& name);

// Creates the document when it is missing (an existing one keeps its contents until the new text
// is saved), shows the creation notice and pauses. Ends the run when it cannot be created.
void CreateDocument(const std::string& name);

// Replaces the document's contents with the text. Returns once they are safely on disk; ends
// the run, with the earlier contents kept, when they cannot be saved.
void WriteDocument(const std::string& name, const std::string& text);
