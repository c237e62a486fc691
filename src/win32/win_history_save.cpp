#include "win32/win_history_save.h"
#include "app/config.h"
#include "app/history.h"
#include "app/version.h"
#include "win32/win_config.h"
#include "win32/win_file_error.h"

#include <commdlg.h>

#include <cstdio>
#include <ctime>
#include <string>

// A comment line as a transcript starts with, then the lines as shown.
static std::string transcriptOf(HWND edit) {
    char saved[HISTORY_TIME_MAX], port[16] = "none";
    history_time_text((int64_t)std::time(nullptr), saved);
    if (q72cfg.comPort) std::snprintf(port, sizeof port, "COM%u", q72cfg.comPort);
    char comment[128];
    std::snprintf(comment, sizeof comment, "# q72display %s, port %s, saved %s\r\n", Q72_VERSION,
                  port, saved);
    int length = GetWindowTextLengthW(edit);
    std::wstring wide((size_t)length + 1, L'\0');
    wide.resize((size_t)GetWindowTextW(edit, &wide[0], length + 1));
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), NULL, 0, NULL, NULL);
    std::string text(comment);
    size_t at = text.size();
    text.resize(at + (size_t)bytes);
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &text[at], bytes, NULL, NULL);
    return text;
}

void history_save_as(HWND owner, HWND edit) {
    wchar_t path[CONFIG_PATH_MAX] = L"history.txt";
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"Transcripts (*.txt)\0*.txt\0All files (*.*)\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = CONFIG_PATH_MAX;
    dialog.lpstrDefExt = L"txt";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&dialog)) return;
    std::string text = transcriptOf(edit);
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    bool done = file != INVALID_HANDLE_VALUE &&
                WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL) &&
                written == text.size();
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file)) done = false;
    if (!done) show_file_error(owner, "Cannot write the file", path);
}
