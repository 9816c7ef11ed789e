// Texts of the dialogue, written out once for the tests that expect them.
#pragma once

#include <string>

namespace numoteka::testing {

inline const std::string TITLE = "\n＊◆＊□＊戦え！ぬもてかゲーム＊■＊◇＊\n\n\n";
inline const std::string LEGEND = "プ･･･プレイヤー\nコ･･･コンピュータ\n\n";
inline const std::string BOARD_LINE = " [START]―□□□□◆□□□□◆□□□□◆□□□□◆□□□□◆□□□□―[GOAL]\n";
inline const std::string MENU =
    "\n◆メニュー◆\n\n1.ゲームを始める 　2.ゲームをやめる　3.ランキングを見る\n";
inline const std::string FAREWELL =
    "ゲームを終了します\n\n\n"
    "////////////////////////////////////////////////////////////////////////////\n\n\n";
inline const std::string NAME_PROMPT = "プレイヤーの名前を入力してください（半角10字以内）\n--->";
inline const std::string NAME_REFUSED = "半角10字以内で入力してください\n";
inline const std::string DIFFICULTY_PROMPT =
    "コンピュータの強さを設定してください･･･1.normal 2.easy 3.hard\n--->";
inline const std::string ONE_TO_THREE = "1～3を入力してください\n\n";
inline const std::string ONE_OR_TWO = "1か2を入力してください\n\n";
inline const std::string GAME_START = "ゲーム開始！！\n\n";
inline const std::string TURN_MENU = "1.ダイスを振る　2.ステータスを見る 3.あきらめる\n";
inline const std::string SAVE_PROMPT = "今回のデータをセーブしますか？　1.セーブする　2.しない\n";

// The status display, ending in the ">>" of its key wait.
inline std::string statusBlock(const std::string& human, int hp, int attack, int defense,
                               const std::string& computer, int computerHp) {
    return "\n\n―*ステータス*―\n\t名前：\t\t" + human + "\n\tＨＰ：\t\t" + std::to_string(hp) +
           "\n\t攻撃力：\t" + std::to_string(attack) + "\n\t防御力：\t" + std::to_string(defense) +
           "\n\n―*ステータス*―\n\t名前：\t\t" + computer + "\n\tＨＰ：\t\t" +
           std::to_string(computerHp) + "\n\n\n>>";
}

// The board with the human's marker after `humanIndent` full-width spaces and the computer's
// after `computerIndent`.
inline std::string board(int humanIndent, int computerIndent) {
    std::string text = "\n";
    for (int i = 0; i < humanIndent; ++i) {
        text += "　";
    }
    text += "プ\n" + BOARD_LINE;
    for (int i = 0; i < computerIndent; ++i) {
        text += "　";
    }
    return text + "コ\n\n";
}

}  // namespace numoteka::testing
