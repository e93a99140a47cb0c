// The colour menu: nine digits, each shown in its own colour; pressing one picks the colour the
// typed text is echoed in.
#pragma once

// The attribute of the typed text: 7 until the menu sets it to the digit pressed, 1 to 9.
extern int ChosenColor;

void PickTextColor();
