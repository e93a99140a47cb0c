#include "screens/opening_screens.h"

#include <gtest/gtest.h>

#include "tests/support/test_console.h"

namespace {

TEST(OpeningScreens, WelcomeTextsAtTheirPlacesAndCursorBelowTheBox) {
  TestConsole test;
  ShowWelcome();
  EXPECT_EQ(test.Text(19, 1, 9), "Quillomat");
  EXPECT_EQ(test.Text(2, 4, 39), " Press N key to create a new text file.");
  EXPECT_EQ(test.Text(2, 6, 41), " Saved files are stored in Quillomat/txt/");
  EXPECT_EQ(test.Text(1, 5, 46), std::string(46, ' '));
  EXPECT_EQ(test.console.Screen().CursorColumn(), 3);
  EXPECT_EQ(test.console.Screen().CursorRow(), 16);
  EXPECT_EQ(test.At(0, 4).attribute, kDefaultAttribute);
}

TEST(OpeningScreens, KeysTypedWhileWaitingForNStartTheName) {
  TestConsole test({"x", "N",
                    "\x7f\x7f"
                    "diary\r"});
  ShowWelcome();
  WaitForNewFileKey();
  EXPECT_EQ(AskDocumentName(), "diary");
}

TEST(OpeningScreens, NamingScreenBlanksTheWelcomeAndEchoesFromItsField) {
  TestConsole test({"n", "a b\r"});
  ShowWelcome();
  WaitForNewFileKey();
  EXPECT_EQ(AskDocumentName(), "na b");
  EXPECT_EQ(test.Text(2, 4, 16), " Name your file.");
  EXPECT_EQ(test.Text(18, 4, 29), std::string(29, ' '));  // rest of the welcome line is gone
  EXPECT_EQ(test.Text(1, 6, 46), "  na b" + std::string(40, ' '));
  EXPECT_EQ(test.Text(2, 16, 1), " ");
}

TEST(OpeningScreens, NameMayBeEmpty) {
  TestConsole test({"n", "\x7f\r"});
  WaitForNewFileKey();
  EXPECT_EQ(AskDocumentName(), "");
}

}  // namespace
