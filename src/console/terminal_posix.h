// The POSIX terminal's width question, on descriptors of the caller's choosing (for tests).
#pragma once

#include <string>

namespace numoteka {

// Asks the terminal on these descriptors where its cursor stands after drawing one ambiguous
// character: true when it took one column. No answer in time counts as two. The terminal's
// modes are restored, and its reply never reaches the game's input; keys typed before the
// reply arrive in `typedAhead`.
bool terminalDrawsAmbiguousNarrow(int inputFd, int outputFd, int timeoutMs,
                                  std::string& typedAhead);

}  // namespace numoteka
