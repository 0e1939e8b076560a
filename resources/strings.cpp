// The string table. Texts are kept here in UTF-8 and handed out in the
// program's code page (CP932) by the string-table access.
#include "resources/strings.h"

#include <map>

#include "resources/resource.h"

namespace {

const std::map<unsigned, const char*>& Table()
{
    static const std::map<unsigned, const char*> table = {
        {IDS_SOCKET_INIT_FAILED, "Windows ソケットの初期化に失敗しました。"},
        {IDS_COLUMN_PORT, "COM Port"},
        {IDS_COLUMN_SETTINGS, "設定"},
        {IDS_COLUMN_STATE, "状態"},
        {IDS_COLUMN_ADDRESS, "接続元IPアドレス"},
        {IDS_APP_TITLE, "Varnex - Skiffa"},
        {IDS_TRAY_FAILED, "タスクトレイに格納できませんでした。"},
        {IDS_LISTEN_FAILED, "ソケット待ち受けができません。\r\nTCP/IP Port番号を確認してください。"},
        {IDS_COM_OPEN_ERROR, "COM Port オープンエラー"},
        {204, "接続なし"},
        {205, "呼出中"},
        {206, "CONNECT送信待ち"},
        {207, "接続中"},
        {208, "回線保持中"},
        {209, "モデム初期化中"},
        {210, "オープンエラー"},
        {IDS_CONFIRM_CHANGE, "接続中のユーザーがいます。\r\n強制切断されますが、設定変更してもよいですか？"},
        {IDS_CONFIRM_EXIT, "終了しますか？"},
        {IDS_CONFIRM_EXIT_CONNECTED, "接続中のユーザーがいますが、終了してもよろしいですか？"},
        {IDS_FULL_TEXT, "他のユーザーが接続中で回線に空きがありません。\r\n"},
        {IDS_SETTING_SUFFIX, "設定"},
        {IDS_SELECT_LOG_DIR, "ログを保存するフォルダを選択してください。"},
        {300, "None"},
        {301, "Odd"},
        {302, "Even"},
        {310, "なし"},
        {311, "1回"},
        {312, "2回"},
        {313, "3回"},
        {314, "なし"},
        {315, "ATA受信後"},
        {316, "RING送出終了後"},
        {IDS_DSR_KEEP, "回線維持"},
        {IDS_DSR_CUT, "回線切断"},
        {AFX_IDP_PARSE_INT, "整数を入力してください。"},
        {AFX_IDP_PARSE_INT_RANGE, "%1 から %2 までの整数を入力してください。"},
        {AFX_IDP_PARSE_STRING_SIZE, "%1 文字以内で入力してください。"},
    };
    return table;
}

}  // namespace

const char* FindStringResourceUtf8(unsigned id)
{
    const auto& table = Table();
    const auto it = table.find(id);
    return it == table.end() ? nullptr : it->second;
}

// The framework loads its own messages (61712 and on) from this table too.
// Every program that reads the table links this file, so the hand-over runs
// before any dialog can exchange data.
[[maybe_unused]] static const bool g_handedToFramework = (AfxSetStringTable(&FindStringResourceUtf8), true);
