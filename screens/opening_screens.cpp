#include "screens/opening_screens.h"

#include "console/console.h"
#include "console/frame.h"
#include "screens/screen_text.h"

void ShowWelcome() {
  DrawBoxFrame();
  WriteTitle();
  WriteAt(2, 4, " Press N key to create a new text file.");
  WriteAt(2, 6, " Saved files are stored in Quillomat/txt/");
  WriteAt(2, 16, " ");  // leaves the cursor below the box while the program waits for N
}

void WaitForNewFileKey() {
  while (!IsKeyPressed(kKeyN)) {
  }
}

std::string AskDocumentName() {
  DrawBoxFrame();
  WriteTitle();
  WriteAt(2, 4, " Name your file.");
  MoveCursor(3, 6);
  return ReadLine();
}
