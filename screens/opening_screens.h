// The first two screens of a run: the welcome box, which waits for N, and the naming box.
#pragma once

#include <string>

void ShowWelcome();
// Polls the N key until it reads as pressed. Whatever was typed stays queued for the name.
void WaitForNewFileKey();
std::string AskDocumentName();
