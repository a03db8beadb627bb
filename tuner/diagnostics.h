// How the card wrapper reports: error boxes captioned "Error" and owned by the
// active window, debug lines, and assertions that log instead of letting a
// null pointer through.
#pragma once

namespace tuner {

void errorBox(const char* text);
void debugLine(const char* text);
// False (after a debug line naming the expression, the file "bdamanager" and
// the line) when `ok` is false.
bool check(bool ok, const char* expression, int line);

} // namespace tuner
