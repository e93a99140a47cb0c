#include "screens/closing_screens.h"

#include "console/console.h"
#include "console/frame.h"
#include "document/document_file.h"
#include "screens/color_picker.h"
#include "screens/screen_text.h"

namespace {

void ShowFarewell() {
  DrawBoxFrame();
  WriteTitle();
  WriteAt(1, 4, " Quillomat v1.0 ");
  WriteText("by the Quillomat authors");
}

}  // namespace

void EnterTextAndSave(const std::string& name) {
  SetTextColor(kDefaultAttribute);
  // The trailing spaces blank the colour menu's prompt and labels on the same row.
  WriteAt(2, 1, "Enter your text and press enter to save it.                           ");
  SetTextColor(ChosenColor & 0xFFFF);
  MoveCursor(1, 3);
  const std::string text = ReadLine();
  WriteDocument(name, text);
  SetTextColor(kDefaultAttribute);
  WriteAt(2, 1, "file has been saved.                       ");
  Pause(3000);
  ClearConsole();
  ShowFarewell();
  WaitForKey();
  EndProcess(0);
}
