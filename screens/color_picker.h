// The colour menu: nine digits, each shown in its own colour; pressing one picks the colour the
// typed text is echoed in. The choice is a program-wide variable on purpose: the program is plain
// free functions, one per screen, and this one variable carries the colour from the menu to the
// text entry, as ConsoleOutput carries the console to every screen.
#pragma once

// The attribute of the typed text: kDefaultAttribute until the menu sets it to the digit pressed,
// 1 to 9.
extern int ChosenColor;

void PickTextColor();
