#include "win32/win_history_find.h"
#include "win32/win_history.h"

#include <commdlg.h>

#include <cwctype>
#include <string>

namespace {

FINDREPLACEW request;
wchar_t looked[128]; // the text looked for, kept between searches
DWORD lastFlags = FR_DOWN;
HWND dialog;
UINT notice; // the dialog's registered message

bool isWordAt(const std::wstring &text, size_t at, size_t length) {
    auto inWord = [&](size_t k) { return std::iswalnum(text[k]) || text[k] == L'_'; };
    return (at == 0 || !inWord(at - 1)) && (at + length >= text.size() || !inWord(at + length));
}

// From the selection on, down or up; the match is selected and shown.
void search(HWND owner, DWORD flags) {
    HWND edit = history_window_edit();
    std::wstring what = looked;
    if (!edit || what.empty()) return;
    int length = GetWindowTextLengthW(edit);
    std::wstring text((size_t)length + 1, L'\0');
    text.resize((size_t)GetWindowTextW(edit, &text[0], length + 1));
    if (!(flags & FR_MATCHCASE)) {
        CharLowerBuffW(&text[0], (DWORD)text.size());
        CharLowerBuffW(&what[0], (DWORD)what.size());
    }
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    size_t at = std::wstring::npos;
    if (flags & FR_DOWN) {
        for (size_t from = end; (at = text.find(what, from)) != std::wstring::npos; from = at + 1)
            if (!(flags & FR_WHOLEWORD) || isWordAt(text, at, what.size())) break;
    } else {
        for (size_t before = start; before > 0; before = at) {
            at = text.rfind(what, before - 1);
            if (at == std::wstring::npos || !(flags & FR_WHOLEWORD) ||
                isWordAt(text, at, what.size()))
                break;
        }
        if (start == 0) at = std::wstring::npos;
    }
    if (at == std::wstring::npos) {
        std::wstring message = L"Cannot find \"" + std::wstring(looked) + L"\"";
        MessageBoxW(dialog ? dialog : owner, message.c_str(), L"Q72display History",
                    MB_OK | MB_ICONINFORMATION);
        return;
    }
    SendMessageW(edit, EM_SETSEL, at, at + what.size());
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

} // namespace

void history_find_open(HWND owner) {
    if (dialog) {
        SetActiveWindow(dialog);
        return;
    }
    if (!notice) notice = RegisterWindowMessageW(FINDMSGSTRINGW);
    request = {};
    request.lStructSize = sizeof request;
    request.hwndOwner = owner;
    request.lpstrFindWhat = looked;
    request.wFindWhatLen = sizeof looked / sizeof looked[0];
    request.Flags = lastFlags & (FR_DOWN | FR_MATCHCASE | FR_WHOLEWORD);
    dialog = FindTextW(&request);
}

void history_find_next(HWND owner) {
    if (looked[0])
        search(owner, lastFlags);
    else
        history_find_open(owner);
}

bool history_find_notified(HWND owner, UINT message, LPARAM lParam) {
    if (!notice || message != notice) return false;
    const FINDREPLACEW *sent = (const FINDREPLACEW *)lParam;
    if (sent->Flags & FR_DIALOGTERM) {
        dialog = NULL;
    } else if (sent->Flags & FR_FINDNEXT) {
        lastFlags = sent->Flags;
        search(owner, lastFlags);
    }
    return true;
}

HWND history_find_dialog() {
    return dialog;
}
