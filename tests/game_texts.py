"""Texts of the dialogue for the Python checks, written out by hand like tests/texts.h."""

SLASHES = "/" * 76
TITLE = "\n＊◆＊□＊戦え！ぬもてかゲーム＊■＊◇＊\n\n\n"
LEGEND = "プ･･･プレイヤー\nコ･･･コンピュータ\n\n"
BOARD_AT_START = ("\n　　プ\n [START]―□□□□◆□□□□◆□□□□◆□□□□◆□□□□◆□□□□―[GOAL]\n"
                  "　　コ\n\n")
MENU = "\n◆メニュー◆\n\n1.ゲームを始める 　2.ゲームをやめる　3.ランキングを見る\n"
FAREWELL = "ゲームを終了します\n\n\n" + SLASHES + "\n\n\n"
OPENING = TITLE + LEGEND + BOARD_AT_START
SAVED = "セーブしました！\n"
SAVE_FAILED = "セーブ失敗\n"
NO_RECORD = "記録がないです\n"
SAVE_PROMPT = "今回のデータをセーブしますか？　1.セーブする　2.しない\n"
USAGE_FIRST_LINE = "使い方: numoteka [オプション]\n"
