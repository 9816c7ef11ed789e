#include "console/console.h"
#include "contests/minigames.h"
#include "core/primitives.h"

namespace numoteka {

bool chooseToStart() {
    for (;;) {
        say("1.ゲームを始める　2.説明を聞く\n");
        const unsigned char choice = readChoice();
        if (choice == '1' || choice == '2') {
            return choice == '1';
        }
        say("1か2を入力してください\n\n");
    }
}

}  // namespace numoteka
