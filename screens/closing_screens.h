// The last stage of a run: the text line, echoed in the chosen colour and saved into the
// document, the saved notice, and the farewell box.
#pragma once

#include <string>

// Ends the process: with status 0 after the farewell, or through the error box when the text
// cannot be saved.
[[noreturn]] void EnterTextAndSave(const std::string& name);
