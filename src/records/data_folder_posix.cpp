#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "records/data_folder.h"

namespace numoteka {

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

}  // namespace

std::string playerDataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        return std::string(data) + "/numoteka";
    }
    const std::string home = homeFolder();
    return home.empty() ? home : home + "/.local/share/numoteka";
}

}  // namespace numoteka
