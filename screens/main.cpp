// The program's one fixed sequence of screens, from the welcome box to the end of the run.
#include <string>

#include "console/console.h"
#include "screens/opening_screens.h"

int main(int, char**) {
  ShowWelcome();
  WaitForNewFileKey();
  [[maybe_unused]] const std::string name = AskDocumentName();
  EndProcess(0);
}
