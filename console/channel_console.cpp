#include "console/channel_console.h"

#include "console/utf8.h"

std::string ChannelConsole::ShownTyped(std::string_view typed) {
  return VisibleText(charset_.TypedToUtf8(typed));
}

// Keys typed during the pause are taken in as typed ahead once it is over.
void ChannelConsole::Pause(int milliseconds) {
  Flush();
  SleepFor(device_, milliseconds, [this] { OnScreenEvent(); });
  input_.CollectTypedAhead();
}
