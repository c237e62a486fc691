#include "win32/win_cmdline.h"
#include "app/version.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

static const char usage[] = "Usage: q72display [--open] [--port N] [--record FILE]\n"
                            "\n"
                            "--open\topen the link to the COM port at start\n"
                            "--port N\tuse COM port N (1..255) for this run;\n"
                            "\tit is saved only by \"Done\" in the setup dialog\n"
                            "--record FILE\tappend every byte the modem sends to FILE\n"
                            "--help\tshow this text\n"
                            "--version\tshow the version";

// Argument k in the ANSI code page; false when it does not fit.
static bool argument(LPWSTR *args, int k, char *out, int size) {
    int length = WideCharToMultiByte(CP_ACP, 0, args[k], -1, out, size, NULL, NULL);
    return length > 0;
}

static bool refuse(CommandLine &line, const char *format, const char *what) {
    std::snprintf(line.problem, sizeof line.problem, format, what);
    return false;
}

// The record file's name, kept wide: converted to the ANSI code page, a
// character that page lacks would become another and name another file.
static bool takeRecordPath(const wchar_t *path, CommandLine &line) {
    size_t length = std::wcslen(path);
    if (length == 0) return refuse(line, "%s", "--record: the file name is empty.");
    if (length >= CONFIG_PATH_MAX) {
        std::snprintf(line.problem, sizeof line.problem,
                      "--record: the file name is longer than %d characters.", CONFIG_PATH_MAX - 1);
        return false;
    }
    std::wcscpy(line.record, path);
    return true;
}

static bool parse(LPWSTR *args, int count, CommandLine &line) {
    char word[CONFIG_PATH_MAX], value[CONFIG_PATH_MAX];
    for (int k = 1; k < count; k++) {
        if (!argument(args, k, word, sizeof word)) return refuse(line, "%s", "Argument too long.");
        bool takesValue = !std::strcmp(word, "--port") || !std::strcmp(word, "--record");
        if (takesValue && k + 1 >= count) return refuse(line, "%s needs a value.", word);
        if (!std::strcmp(word, "--open")) {
            line.open = true;
        } else if (!std::strcmp(word, "--record")) {
            if (!takeRecordPath(args[++k], line)) return false;
        } else if (!std::strcmp(word, "--port")) {
            if (!argument(args, ++k, value, sizeof value))
                return refuse(line, "%s needs a value.", word);
            char *end = nullptr;
            long n = std::strtol(value, &end, 10);
            if (*value == 0 || *end != 0 || n < 1 || n > 255)
                return refuse(line, "Not a port number: %s", value);
            line.port = (uint8_t)n;
        } else if (!std::strcmp(word, "--version")) {
            line.version = true;
        } else if (!std::strcmp(word, "--help")) {
            line.problem[0] = 0;
            return false;
        } else {
            return refuse(line, "Unknown switch: %s", word);
        }
    }
    return true;
}

bool read_command_line(CommandLine &line) {
    line = {};
    int count = 0;
    LPWSTR *args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) return true; // nothing readable: run as without switches
    bool good = parse(args, count, line);
    LocalFree(args);
    return good;
}

void show_usage(const CommandLine &line) {
    char text[sizeof usage + sizeof line.problem + 2];
    std::snprintf(text, sizeof text, "%s%s%s", line.problem, line.problem[0] ? "\n\n" : "", usage);
    MessageBoxA(NULL, text, Q72_PROGRAM_TITLE " Usage",
                MB_OK | (line.problem[0] ? MB_ICONERROR : 0));
}

void show_version() {
    MessageBoxA(NULL, "q72display " Q72_VERSION "\n" Q72_COPYRIGHT "\nMIT License (LICENSE.txt)",
                Q72_PROGRAM_TITLE, MB_OK | MB_ICONINFORMATION);
}
