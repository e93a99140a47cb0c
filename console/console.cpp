#include "console/console.h"

#include <cstdlib>

Console* ConsoleOutput = nullptr;

std::string FatalErrorLine(std::string_view message) {
  return "ERROR: " + std::string(message);
}

void MoveCursor(int column, int row) {
  ConsoleOutput->MoveCursor(static_cast<int16_t>(column), static_cast<int16_t>(row));
}

void SetTextColor(int attribute) {
  ConsoleOutput->SetTextColor(static_cast<uint16_t>(attribute));
}

void WriteText(std::string_view text) {
  ConsoleOutput->WriteText(text);
}

void WriteGlyph(ConsoleGlyph glyph) {
  ConsoleOutput->WriteGlyph(glyph);
}

std::string ShownTyped(std::string_view typed) {
  return ConsoleOutput->ShownTyped(typed);
}

std::string ReadLine() {
  return ConsoleOutput->ReadLine();
}

bool IsKeyPressed(int virtual_key) {
  return ConsoleOutput->IsKeyPressed(virtual_key);
}

void Pause(int milliseconds) {
  ConsoleOutput->Pause(milliseconds);
}

void WaitForKey() {
  ConsoleOutput->WaitForKey();
}

void ClearConsole() {
  ConsoleOutput->Clear();
}

// A backend never returns from these; if one did, carrying on would be worse than stopping.
void ReportFatal(const std::string& message) {
  ConsoleOutput->ReportFatal(message);
  std::abort();
}

void EndProcess(int status) {
  ConsoleOutput->EndProcess(status);
  std::abort();
}
