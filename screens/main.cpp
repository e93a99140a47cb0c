// The program's one fixed sequence of screens, from the welcome box to the end of the run.
#include <string>

#include "document/document_file.h"
#include "screens/closing_screens.h"
#include "screens/color_picker.h"
#include "screens/opening_screens.h"

int main(int, char**) {
  ShowWelcome();
  WaitForNewFileKey();
  const std::string name = AskDocumentName();
  CreateDocument(name);
  PickTextColor();
  EnterTextAndSave(name);
}
