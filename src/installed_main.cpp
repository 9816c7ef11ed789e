// The program as `make install` and the Linux packages install it: started from anywhere, it
// keeps its ranking in the player's data folder, as the desktop's conventions place a game's
// data, unless a folder is named for it.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "core/command_line.h"

namespace {

// HOME, or the home the password database gives when HOME is unset or empty (a program started
// with a cleared environment); empty when neither has one.
std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return home;
    }
    const passwd* account = getpwuid(getuid());
    return account != nullptr && account->pw_dir != nullptr ? account->pw_dir : "";
}

// $XDG_DATA_HOME/numoteka; a variable that is unset, empty or relative is ignored, as the
// convention says, for ~/.local/share/numoteka. Empty without a home.
std::string playerDataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        return std::string(data) + "/numoteka";
    }
    const std::string home = homeFolder();
    return home.empty() ? home : home + "/.local/share/numoteka";
}

}  // namespace

int main(int argc, char** argv) {
    return numoteka::runProgram(argc, argv, playerDataFolder());
}
