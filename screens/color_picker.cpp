#include "screens/color_picker.h"

#include "console/console.h"
#include "console/frame.h"
#include "screens/screen_text.h"

int ChosenColor = kDefaultAttribute;

void PickTextColor() {
  DrawScreenFrame();
  WriteAt(2, 1, "Select a text color and press the corresponding key: ");
  // Each label is its digit and a space, in the attribute of the same number.
  static constexpr const char* kLabels[] = {"1 ", "2 ", "3 ", "4 ", "5 ", "6 ", "7 ", "8 ", "9 "};
  for (int digit = 1; digit <= 9; ++digit) {
    SetTextColor(digit);
    WriteText(kLabels[digit - 1]);
  }
  MoveCursor(2, 3);
  // The digit keys are polled from 1 up, so when several read as pressed the lowest wins. The
  // digit stays queued and starts the text read next.
  for (;;) {
    for (int digit = 1; digit <= 9; ++digit) {
      if (IsKeyPressed(kKeyDigit1 + digit - 1)) {
        ChosenColor = digit;
        return;
      }
    }
  }
}
