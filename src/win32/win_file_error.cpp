#include "win32/win_file_error.h"
#include "app/config.h"

#include <cwchar>

void show_file_error(HWND owner, const char *what, const wchar_t *path) {
    enum { WHAT_MAX = 80 };
    wchar_t text[WHAT_MAX + 1 + CONFIG_PATH_MAX];
    size_t length = 0;
    for (; what[length] && length < WHAT_MAX; length++)
        text[length] = (wchar_t)(unsigned char)what[length];
    text[length++] = L'\n';
    std::wcsncpy(text + length, path, CONFIG_PATH_MAX - 1);
    text[length + CONFIG_PATH_MAX - 1] = 0;
    MessageBoxW(owner, text, L"Error", MB_OK);
}
