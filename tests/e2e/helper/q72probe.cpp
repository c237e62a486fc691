// q72probe: reads and drives the windows of another Win32 process.
//
// Reads one command per line on standard input and answers each with zero or
// more data lines and a last line "ok [values]" or "err reason". Handles and
// numbers may be written in decimal or 0x-hex; a TEXT argument is the rest of
// the line. Windows:
//   find TITLE                 top-level window with that exact title, 0 if none
//   exists H                   1 while H is a window, else 0
//   windows                    lines "hwnd<TAB>class<TAB>title" of visible top-level windows
//   rect H                     outer rectangle: left top right bottom
//   client H                   client area: screen x y, width height
//   styles H                   style exstyle
//   move H X Y W H             SetWindowPos: place and size, z-order kept
//   classinfo H                class style and class name
//   menu H                     the window's menu handle, 0 if none
//   owner H                    the window's owner, 0 if none
//   capture H FILE             client area as a binary PPM
//   post H MSG WPARAM LPARAM   PostMessage
//   send H MSG WPARAM LPARAM   SendMessage (5 s time-out): its result
//   text H [ID]                text of the window or of its dialog item ID
//   wtext H ID                 the whole text of dialog item ID as the hex of its UTF-8
//                              (read wide, of any length), "-" when empty
//   focus H                    the dialog item of H that holds the keyboard focus
//                              (or holds the window that does): "ok ID", 0 if none
//   children H                 lines "id<TAB>class<TAB>text" of the child windows (line
//                              breaks in a text printed as spaces)
//   click H ID                 posts BM_CLICK to dialog item ID
//   check H ID                 BM_GETCHECK of dialog item ID
//   cbsel H ID INDEX           CB_SETCURSEL of dialog item ID: its result
//   cbitems H ID               lines of the combo box items, then "ok CURSEL"
//   fill H X Y W H RGB         paints a rectangle of the client area (0xRRGGBB)
//   threads H                  number of threads of the window's process
//   watch H                    starts counting those threads in the background
//   watched                    stops it: "ok MIN MAX SAMPLES"
//   handles H                  number of open handles of the window's process
//   ping H                     one WM_NULL round trip (5 s time-out): "ok MICROSECONDS"
//   pingwatch H INTERVAL_MS    starts timing WM_NULL round trips in the background
//   pinged                     stops it: "ok MAX_US MEAN_US COUNT UNANSWERED"
//   invalidate H               invalidates the whole client area (a repaint is due)
//   abortreads H DLL           loads DLL (q72abort.dll) into the window's process, whose
//                              every read on its COM port then ends as aborted
//   abortstop                  ends that
//   press H ID N               sends BM_CLICK to dialog item ID N times, each answered
//                              before the next (10 s time-out each): "ok MIN_US MAX_US"
// Files:
//   resource EXE TYPE ID FILE  copies resource TYPE/ID of EXE to FILE, "ok SIZE"
//   hold FILE                  opens FILE with no sharing and keeps it open: "ok HANDLE"
//   share FILE                 the same, sharing reading and writing but not deletion,
//                              as an editor might: the file can be written, not replaced
//   release HANDLE             closes a handle from hold
// Serial ports, as a driver makes them known:
//   register NAME COMn         adds value NAME = "COMn" to HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
//   unregister NAME            removes it (the device has gone)
//   nameport N TEXT            a present Ports-class device with PortName COMN and
//                              friendly name TEXT: "ok INSTANCE_ID"
//   moveport INSTANCE_ID N     gives that device PortName COMN
// Clipboard:
//   clipboard FILE             CF_DIB as a binary PPM in FILE, then "ok W H HEX"
//                              with HEX the bytes of CF_TEXT
//   holdclipboard              opens the clipboard and keeps it open, as a busy program would
//   releaseclipboard           closes it
// Screen readers' view (MSAA), texts as hex of their UTF-8, "-" when there is none:
//   acc H [ID]                 the client object of H or of its dialog item ID:
//                              "ok ROLE STATE X Y W H NAME VALUE CHILDREN"
//   accwatch H                 from now on logs the win events 0x800E..0x8019 (value
//                              change .. live-region change) of H's process, each with
//                              the name and value of its object read when it arrives;
//                              a new watch ends the last and empties the log
//   accevents                  the log so far, emptied: lines "EVENT<TAB>OBJECT<TAB>
//                              CHILD<TAB>NAME<TAB>VALUE", then "ok COUNT"
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <oleacc.h>
#include <setupapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

static char line[4096];
static char *cursor; // next unread argument in `line`

static char *nextWord() {
    while (*cursor == ' ')
        cursor++;
    if (!*cursor) return nullptr;
    char *word = cursor;
    while (*cursor && *cursor != ' ')
        cursor++;
    if (*cursor) *cursor++ = 0;
    return word;
}

static char *restOfLine() {
    while (*cursor == ' ')
        cursor++;
    return cursor;
}

static bool nextNumber(unsigned long long &value) {
    char *word = nextWord(), *end = nullptr;
    if (!word) return false;
    value = std::strtoull(word, &end, 0);
    return *end == 0;
}

static bool nextWindow(HWND &hwnd) {
    unsigned long long value;
    if (!nextNumber(value) || !IsWindow((HWND)(UINT_PTR)value)) return false;
    hwnd = (HWND)(UINT_PTR)value;
    return true;
}

static void ok(const char *format = "", ...) {
    va_list args;
    va_start(args, format);
    std::fputs(*format ? "ok " : "ok", stdout);
    std::vprintf(format, args);
    std::fputs("\n", stdout);
    va_end(args);
}

static void fail(const char *reason) {
    std::printf("err %s\n", reason);
}

// Text of a window in another process; WM_GETTEXT crosses process boundaries.
static void windowText(HWND hwnd, char *text, int size) {
    text[0] = 0;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, size, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &result);
    text[size - 1] = 0;
}

// A text of several lines is printed on one: its line breaks become spaces.
static void printWindowLine(HWND hwnd, bool withId) {
    char cls[256], text[1024];
    GetClassNameA(hwnd, cls, sizeof cls);
    windowText(hwnd, text, sizeof text);
    for (char *c = text; *c; c++)
        if (*c == '\r' || *c == '\n') *c = ' ';
    if (withId)
        std::printf("%d\t%s\t%s\n", GetDlgCtrlID(hwnd), cls, text);
    else
        std::printf("0x%llx\t%s\t%s\n", (unsigned long long)(UINT_PTR)hwnd, cls, text);
}

static BOOL CALLBACK listTopLevel(HWND hwnd, LPARAM) {
    if (IsWindowVisible(hwnd)) printWindowLine(hwnd, false);
    return TRUE;
}

static BOOL CALLBACK listChild(HWND hwnd, LPARAM) {
    printWindowLine(hwnd, true);
    return TRUE;
}

static bool writePpm(const char *path, const uint8_t *bgra, int width, int height) {
    FILE *out = std::fopen(path, "wb");
    if (!out) return false;
    std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    bool good = true;
    for (int k = 0; k < width * height && good; k++) {
        const uint8_t *px = bgra + 4 * k;
        uint8_t rgb[3] = {px[2], px[1], px[0]};
        good = std::fwrite(rgb, 1, 3, out) == 3;
    }
    return std::fclose(out) == 0 && good;
}

static void capture(HWND hwnd, const char *path) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    int width = rc.right, height = rc.bottom;
    if (width <= 0 || height <= 0) return fail("empty client area");
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HDC screen = GetDC(hwnd);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, NULL, 0);
    bool copied = false;
    if (mem && dib) {
        HGDIOBJ previous = SelectObject(mem, dib);
        copied = BitBlt(mem, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(mem, previous);
    }
    bool written = copied && writePpm(path, (const uint8_t *)bits, width, height);
    if (dib) DeleteObject(dib);
    if (mem) DeleteDC(mem);
    ReleaseDC(hwnd, screen);
    if (!written) return fail("capture failed");
    ok("%d %d", width, height);
}

static void copyResource(const char *exe, unsigned type, unsigned id, const char *path) {
    HMODULE module = LoadLibraryExA(exe, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return fail("cannot load module");
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(type));
    HGLOBAL data = found ? LoadResource(module, found) : NULL;
    DWORD size = found ? SizeofResource(module, found) : 0;
    const void *bytes = data ? LockResource(data) : nullptr;
    FILE *out = bytes ? std::fopen(path, "wb") : nullptr;
    bool written = out && std::fwrite(bytes, 1, size, out) == size;
    written = (out && std::fclose(out) == 0) && written;
    FreeLibrary(module);
    if (!found) return fail("no such resource");
    if (!written) return fail("cannot write file");
    ok("%lu", (unsigned long)size);
}

static DWORD processOf(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

// Threads of process `pid`, -1 when no snapshot could be taken.
static int threadCount(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == pid) count++;
    CloseHandle(snapshot);
    return count;
}

// Background count of a process's threads, sampled every few milliseconds.
static struct {
    HANDLE thread;
    volatile LONG stop;
    DWORD pid;
    int min, max, samples;
} watch;

static DWORD WINAPI watchThreads(LPVOID) {
    while (!watch.stop) {
        int count = threadCount(watch.pid);
        if (count > 0) {
            if (watch.samples == 0 || count < watch.min) watch.min = count;
            if (count > watch.max) watch.max = count;
            watch.samples++;
        }
        Sleep(2);
    }
    return 0;
}

// Open handles of process `pid`, -1 when they cannot be counted. Counted in
// the system's handle table: Wine answers GetProcessHandleCount with 0.
static long handleCount(DWORD pid) {
    typedef LONG(NTAPI * QuerySystem)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    QuerySystem query = (QuerySystem)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                            "NtQuerySystemInformation");
    if (!query) return -1;
    const LONG infoLengthMismatch = (LONG)0xC0000004;
    long count = -1;
    for (ULONG size = 1 << 20; size <= (1u << 28) && count < 0; size *= 2) {
        auto *table = (SYSTEM_HANDLE_INFORMATION *)std::malloc(size);
        if (!table) break;
        ULONG needed = 0;
        LONG status = query(SystemHandleInformation, table, size, &needed);
        if (status == 0) {
            count = 0;
            for (ULONG k = 0; k < table->Count; k++)
                if (table->Handle[k].OwnerPid == pid) count++;
        }
        std::free(table);
        if (status != 0 && status != infoLengthMismatch) break;
    }
    return count;
}

static long long microsecondsSince(const LARGE_INTEGER &start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
}

// Time of one message round trip to the window's thread, -1 without an answer.
static long long pingOnce(HWND hwnd) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) return -1;
    return microsecondsSince(start);
}

// Background round trips: the longest, their sum and count, and those unanswered.
static struct {
    HANDLE thread;
    volatile LONG stop;
    HWND hwnd;
    DWORD interval;
    long long max, total;
    int count, unanswered;
} pings;

static DWORD WINAPI watchPings(LPVOID) {
    while (!pings.stop) {
        long long took = pingOnce(pings.hwnd);
        if (took < 0) {
            pings.unanswered++;
        } else {
            if (took > pings.max) pings.max = took;
            pings.total += took;
            pings.count++;
        }
        Sleep(pings.interval);
    }
    return 0;
}

// Clicks a button synchronously N times; the dialog handles each click before
// SendMessage returns.
static void press(HWND item, unsigned long long times) {
    long long fastest = -1, slowest = 0;
    for (unsigned long long k = 0; k < times; k++) {
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(item, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &result)) {
            char reason[64];
            std::snprintf(reason, sizeof reason, "no answer to press %llu", k + 1);
            return fail(reason);
        }
        long long took = microsecondsSince(start);
        if (fastest < 0 || took < fastest) fastest = took;
        if (took > slowest) slowest = took;
    }
    ok("%lld %lld", fastest, slowest);
}

static void fillRect(HWND hwnd, int x, int y, int width, int height, unsigned rgb) {
    HDC dc = GetDC(hwnd);
    HBRUSH brush = CreateSolidBrush(RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF));
    RECT r = {x, y, x + width, y + height};
    bool filled = dc && brush && FillRect(dc, &r, brush);
    GdiFlush();
    if (brush) DeleteObject(brush);
    if (dc) ReleaseDC(hwnd, dc);
    if (!filled) return fail("fill failed");
    ok();
}

static const char serialComm[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

static void registerPort(const char *name, const char *port) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, serialComm, 0, NULL, REG_OPTION_VOLATILE, KEY_SET_VALUE,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return fail("cannot open SERIALCOMM");
    LONG result =
        RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)port, (DWORD)std::strlen(port) + 1);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? ok() : fail("cannot set the value");
}

static void unregisterPort(const char *name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, serialComm, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return fail("cannot open SERIALCOMM");
    LONG result = RegDeleteValueA(key, name);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? ok() : fail("no such value");
}

// Writes PortName "COMn" into the device's own key.
static bool setPortName(HDEVINFO set, SP_DEVINFO_DATA &info, unsigned number) {
    HKEY key = SetupDiCreateDevRegKeyA(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, NULL, NULL);
    if (key == INVALID_HANDLE_VALUE) return false;
    char port[16];
    std::snprintf(port, sizeof port, "COM%u", number);
    bool written = RegSetValueExA(key, "PortName", 0, REG_SZ, (const BYTE *)port,
                                  (DWORD)std::strlen(port) + 1) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

static void namePort(unsigned number, const char *text) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, NULL);
    if (set == INVALID_HANDLE_VALUE) return fail("no device list");
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    char id[200]; // MAX_DEVICE_ID_LEN
    bool made =
        SetupDiCreateDeviceInfoA(set, "Q72PORT", &GUID_DEVCLASS_PORTS, NULL, NULL, DICD_GENERATE_ID,
                                 &info) &&
        SetupDiRegisterDeviceInfo(set, &info, 0, NULL, NULL, NULL) &&
        SetupDiSetDeviceRegistryPropertyA(set, &info, SPDRP_FRIENDLYNAME, (const BYTE *)text,
                                          (DWORD)std::strlen(text) + 1) &&
        setPortName(set, info, number) &&
        SetupDiGetDeviceInstanceIdA(set, &info, id, sizeof id, NULL);
    SetupDiDestroyDeviceInfoList(set);
    return made ? ok("%s", id) : fail("cannot make the device");
}

static void movePort(const char *id, unsigned number) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, NULL);
    if (set == INVALID_HANDLE_VALUE) return fail("no device list");
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    bool moved = SetupDiOpenDeviceInfoA(set, id, NULL, 0, &info) && setPortName(set, info, number);
    SetupDiDestroyDeviceInfoList(set);
    return moved ? ok() : fail("cannot move the device");
}

// Set by "abortstop"; q72abort.dll's thread ends when it is.
static HANDLE abortStop;

// The address of `function` of kernel32 in process `pid`: kernel32's base
// there plus the function's offset here.
static FARPROC remoteKernel32(DWORD pid, const char *function) {
    HMODULE here = GetModuleHandleA("kernel32.dll");
    FARPROC local = GetProcAddress(here, function);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (!local || snapshot == INVALID_HANDLE_VALUE) return nullptr;
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    FARPROC remote = nullptr;
    for (BOOL more = Module32First(snapshot, &entry); more && !remote;
         more = Module32Next(snapshot, &entry))
        if (!_stricmp(entry.szModule, "kernel32.dll"))
            remote = (FARPROC)(entry.modBaseAddr + ((BYTE *)local - (BYTE *)here));
    CloseHandle(snapshot);
    return remote;
}

// Loads `dll` into process `pid` with a thread of its own there that calls LoadLibraryA.
static void abortReads(DWORD pid, const char *dll) {
    if (!abortStop) abortStop = CreateEventA(NULL, TRUE, FALSE, "q72abort-stop");
    if (!abortStop) return fail("no stop event");
    ResetEvent(abortStop);
    FARPROC loadLibrary = remoteKernel32(pid, "LoadLibraryA");
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (!loadLibrary || !process) {
        if (process) CloseHandle(process);
        return fail("cannot reach the process");
    }
    SIZE_T size = std::strlen(dll) + 1;
    void *name = VirtualAllocEx(process, NULL, size, MEM_COMMIT, PAGE_READWRITE);
    HANDLE thread =
        name && WriteProcessMemory(process, name, dll, size, NULL)
            ? CreateRemoteThread(process, NULL, 0, (LPTHREAD_START_ROUTINE)(void *)loadLibrary,
                                 name, 0, NULL)
            : NULL;
    DWORD loaded = 0;
    if (thread) {
        WaitForSingleObject(thread, 10000);
        GetExitCodeThread(thread, &loaded);
        CloseHandle(thread);
    }
    CloseHandle(process);
    return loaded ? ok() : fail("the DLL was not loaded");
}

// The clipboard's picture (a 24- or 32-bit CF_DIB) as PPM, and its text.
static void readClipboard(const char *path) {
    bool opened = false;
    for (int tries = 0; tries < 50 && !(opened = OpenClipboard(NULL)); tries++)
        Sleep(20);
    if (!opened) return fail("cannot open the clipboard");
    HGLOBAL dib = GetClipboardData(CF_DIB);
    HGLOBAL text = GetClipboardData(CF_TEXT);
    const BITMAPINFOHEADER *header = dib ? (const BITMAPINFOHEADER *)GlobalLock(dib) : nullptr;
    const char *chars = text ? (const char *)GlobalLock(text) : nullptr;
    int width = 0, height = 0;
    bool written = false;
    if (header && (header->biBitCount == 24 || header->biBitCount == 32) &&
        header->biCompression == BI_RGB) {
        width = header->biWidth;
        height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
        int bytes = header->biBitCount / 8, stride = (width * bytes + 3) & ~3;
        const uint8_t *rows = (const uint8_t *)header + header->biSize;
        FILE *out = std::fopen(path, "wb");
        written = out != nullptr;
        if (out) std::fprintf(out, "P6\n%d %d\n255\n", width, height);
        for (int y = 0; y < height && written; y++) {
            const uint8_t *row =
                rows + (size_t)stride * (header->biHeight < 0 ? y : height - 1 - y);
            for (int x = 0; x < width && written; x++) {
                uint8_t rgb[3] = {row[bytes * x + 2], row[bytes * x + 1], row[bytes * x]};
                written = std::fwrite(rgb, 1, 3, out) == 3;
            }
        }
        if (out) written = std::fclose(out) == 0 && written;
    }
    std::string hex;
    for (const char *c = chars; c && *c; c++) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", (unsigned char)*c);
        hex += pair;
    }
    if (header) GlobalUnlock(dib);
    if (chars) GlobalUnlock(text);
    CloseClipboard();
    if (!written) return fail("no picture on the clipboard");
    ok("%d %d %s", width, height, hex.empty() ? "-" : hex.c_str());
}

// A text as the hex of its UTF-8, "-" when there is none.
static std::string hexOf(BSTR text) {
    if (!text || !*text) return "-";
    char utf8[8192];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    std::string hex;
    for (int k = 0; k + 1 < length; k++) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", (unsigned char)utf8[k]);
        hex += pair;
    }
    return hex;
}

// "NAME VALUE" of element `child` of `acc`, each as hexOf.
static std::string nameAndValue(IAccessible *acc, VARIANT child, char separator) {
    BSTR name = nullptr, value = nullptr;
    if (acc->get_accName(child, &name) != S_OK) name = nullptr;
    if (acc->get_accValue(child, &value) != S_OK) value = nullptr;
    std::string both = hexOf(name) + separator + hexOf(value);
    SysFreeString(name);
    SysFreeString(value);
    return both;
}

static bool comStarted() {
    static HRESULT started = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    return SUCCEEDED(started);
}

static void readClientObject(HWND hwnd) {
    IAccessible *acc = nullptr;
    if (!comStarted() ||
        FAILED(AccessibleObjectFromWindow(hwnd, OBJID_CLIENT, IID_IAccessible, (void **)&acc)) ||
        !acc)
        return fail("no client object");
    VARIANT self, role, state;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VariantInit(&role);
    VariantInit(&state);
    long x = 0, y = 0, width = 0, height = 0, children = 0;
    bool read = acc->get_accRole(self, &role) == S_OK && role.vt == VT_I4 &&
                acc->get_accState(self, &state) == S_OK && state.vt == VT_I4 &&
                acc->accLocation(&x, &y, &width, &height, self) == S_OK &&
                acc->get_accChildCount(&children) == S_OK;
    std::string texts = nameAndValue(acc, self, ' ');
    acc->Release();
    if (!read) return fail("role, state, location or child count unreadable");
    ok("%ld 0x%lx %ld %ld %ld %ld %s %ld", role.lVal, (unsigned long)state.lVal, x, y, width,
       height, texts.c_str(), children);
}

// The event watch: a thread of its own with a message loop, since out-of-
// context events arrive only while their thread takes messages.
static struct {
    HANDLE thread;
    DWORD threadId, pid;
    CRITICAL_SECTION lock; // guards log and count
    std::string log;
    int count;
} events;

struct Heard {
    DWORD event;
    HWND hwnd;
    LONG object, child;
};

// Events not read yet, oldest first. They are read after their callback has
// returned: under Wine 8 a read made inside the callback never returned.
// Reading pumps messages, so events that arrive meanwhile queue behind, in order.
static std::deque<Heard> unread;

static void readEvents() {
    while (!unread.empty()) {
        Heard heard = unread.front();
        unread.pop_front();
        IAccessible *acc = nullptr;
        VARIANT child;
        VariantInit(&child);
        std::string texts = "-\t-";
        if (SUCCEEDED(AccessibleObjectFromEvent(heard.hwnd, (DWORD)heard.object, (DWORD)heard.child,
                                                &acc, &child)) &&
            acc) {
            texts = nameAndValue(acc, child, '\t');
            acc->Release();
        }
        VariantClear(&child);
        char head[64];
        std::snprintf(head, sizeof head, "0x%lx\t%ld\t%ld\t", heard.event, heard.object,
                      heard.child);
        EnterCriticalSection(&events.lock);
        events.log += head + texts + "\n";
        events.count++;
        LeaveCriticalSection(&events.lock);
    }
}

static void CALLBACK onWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child,
                                DWORD, DWORD) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == events.pid) unread.push_back({event, hwnd, object, child});
}

static DWORD WINAPI watchEvents(LPVOID started) {
    CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    // Every process: Wine 8 delivers nothing to a hook for one process id.
    HWINEVENTHOOK hook =
        SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED, NULL, onWinEvent,
                        0, 0, WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    MSG msg;
    PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE); // the queue exists before anyone posts to it
    SetEvent((HANDLE)started);
    // The callbacks run inside the wait, like sent messages: GetMessage would
    // not return after them.
    bool quit = !hook;
    while (!quit) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) quit = true;
            DispatchMessageA(&msg);
        }
        readEvents();
    }
    if (hook) UnhookWinEvent(hook);
    CoUninitialize();
    return hook ? 0 : 1;
}

static void stopWatchingEvents() {
    if (!events.thread) return;
    PostThreadMessageA(events.threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(events.thread, INFINITE);
    CloseHandle(events.thread);
    events.thread = NULL;
}

static void watchEventsOf(HWND hwnd) {
    stopWatchingEvents();
    events.log.clear();
    events.count = 0;
    events.pid = processOf(hwnd);
    HANDLE started = CreateEventA(NULL, TRUE, FALSE, NULL);
    events.thread = CreateThread(NULL, 0, watchEvents, started, 0, &events.threadId);
    DWORD exitCode = 0;
    bool hooked = events.thread && WaitForSingleObject(started, 5000) == WAIT_OBJECT_0 &&
                  GetExitCodeThread(events.thread, &exitCode) && exitCode == STILL_ACTIVE;
    CloseHandle(started);
    if (!hooked) {
        stopWatchingEvents();
        return fail("cannot hook win events");
    }
    ok();
}

static void printEvents() {
    if (!events.thread) return fail("not watching events");
    EnterCriticalSection(&events.lock);
    std::string log;
    log.swap(events.log);
    int count = events.count;
    events.count = 0;
    LeaveCriticalSection(&events.lock);
    std::fputs(log.c_str(), stdout);
    ok("%d", count);
}

static void dialogItem(HWND dlg, unsigned long long id, HWND &item) {
    item = GetDlgItem(dlg, (int)id);
}

static void runCommand() {
    cursor = line;
    const char *name = nextWord();
    if (!name) return fail("empty command");
    HWND hwnd = NULL, item = NULL;
    unsigned long long a = 0, b = 0, c = 0;
    char text[4096];

    if (!std::strcmp(name, "find")) {
        HWND found = FindWindowA(NULL, restOfLine());
        return ok("0x%llx", (unsigned long long)(UINT_PTR)found);
    }
    if (!std::strcmp(name, "exists")) {
        if (!nextNumber(a)) return fail("usage: exists H");
        return ok("%d", IsWindow((HWND)(UINT_PTR)a) ? 1 : 0);
    }
    if (!std::strcmp(name, "windows")) {
        EnumWindows(listTopLevel, 0);
        return ok();
    }
    if (!std::strcmp(name, "hold") || !std::strcmp(name, "share")) {
        DWORD sharing = name[0] == 's' ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
        HANDLE file = CreateFileA(restOfLine(), GENERIC_READ | GENERIC_WRITE, sharing, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE) return fail("cannot open file");
        return ok("0x%llx", (unsigned long long)(UINT_PTR)file);
    }
    if (!std::strcmp(name, "release")) {
        if (!nextNumber(a) || !CloseHandle((HANDLE)(UINT_PTR)a)) return fail("no such handle");
        return ok();
    }
    if (!std::strcmp(name, "register")) {
        char *value = nextWord();
        char *port = value ? nextWord() : nullptr;
        return port ? registerPort(value, port) : fail("usage: register NAME COMn");
    }
    if (!std::strcmp(name, "unregister")) {
        char *value = nextWord();
        return value ? unregisterPort(value) : fail("usage: unregister NAME");
    }
    if (!std::strcmp(name, "nameport")) {
        if (!nextNumber(a)) return fail("usage: nameport N TEXT");
        return namePort((unsigned)a, restOfLine());
    }
    if (!std::strcmp(name, "moveport")) {
        char *id = nextWord();
        if (!id || !nextNumber(a)) return fail("usage: moveport INSTANCE_ID N");
        return movePort(id, (unsigned)a);
    }
    if (!std::strcmp(name, "abortstop")) {
        if (!abortStop || !SetEvent(abortStop)) return fail("not aborting");
        return ok();
    }
    if (!std::strcmp(name, "holdclipboard"))
        return OpenClipboard(NULL) ? ok() : fail("cannot open the clipboard");
    if (!std::strcmp(name, "releaseclipboard"))
        return CloseClipboard() ? ok() : fail("the clipboard was not open");
    if (!std::strcmp(name, "clipboard")) {
        char *path = nextWord();
        return path ? readClipboard(path) : fail("usage: clipboard FILE");
    }
    if (!std::strcmp(name, "resource")) {
        char *exe = nextWord();
        char *path = exe && nextNumber(a) && nextNumber(b) ? nextWord() : nullptr;
        if (!path) return fail("usage: resource EXE TYPE ID FILE");
        return copyResource(exe, (unsigned)a, (unsigned)b, path);
    }
    if (!std::strcmp(name, "watched")) {
        if (!watch.thread) return fail("not watching");
        watch.stop = 1;
        WaitForSingleObject(watch.thread, INFINITE);
        CloseHandle(watch.thread);
        watch.thread = NULL;
        return ok("%d %d %d", watch.min, watch.max, watch.samples);
    }
    if (!std::strcmp(name, "accevents")) return printEvents();
    if (!std::strcmp(name, "pinged")) {
        if (!pings.thread) return fail("not pinging");
        pings.stop = 1;
        WaitForSingleObject(pings.thread, INFINITE);
        CloseHandle(pings.thread);
        pings.thread = NULL;
        return ok("%lld %lld %d %d", pings.max, pings.count ? pings.total / pings.count : 0,
                  pings.count, pings.unanswered);
    }
    if (!nextWindow(hwnd)) return fail("no such window");

    if (!std::strcmp(name, "rect")) {
        RECT r;
        GetWindowRect(hwnd, &r);
        return ok("%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
    }
    if (!std::strcmp(name, "client")) {
        RECT r;
        POINT origin = {0, 0};
        GetClientRect(hwnd, &r);
        ClientToScreen(hwnd, &origin);
        return ok("%ld %ld %ld %ld", origin.x, origin.y, r.right, r.bottom);
    }
    if (!std::strcmp(name, "styles"))
        return ok("0x%lx 0x%lx", (unsigned long)GetWindowLongA(hwnd, GWL_STYLE),
                  (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE));
    if (!std::strcmp(name, "move")) {
        unsigned long long d = 0;
        if (!nextNumber(a) || !nextNumber(b) || !nextNumber(c) || !nextNumber(d))
            return fail("usage: move H X Y W H");
        if (!SetWindowPos(hwnd, NULL, (int)a, (int)b, (int)c, (int)d,
                          SWP_NOZORDER | SWP_NOACTIVATE))
            return fail("SetWindowPos failed");
        return ok();
    }
    if (!std::strcmp(name, "classinfo")) {
        char cls[256];
        GetClassNameA(hwnd, cls, sizeof cls);
        return ok("0x%lx %s", (unsigned long)GetClassLongA(hwnd, GCL_STYLE), cls);
    }
    if (!std::strcmp(name, "menu"))
        return ok("0x%llx", (unsigned long long)(UINT_PTR)GetMenu(hwnd));
    if (!std::strcmp(name, "owner"))
        return ok("0x%llx", (unsigned long long)(UINT_PTR)GetWindow(hwnd, GW_OWNER));
    if (!std::strcmp(name, "capture")) {
        char *path = nextWord();
        return path ? capture(hwnd, path) : fail("usage: capture H FILE");
    }
    if (!std::strcmp(name, "post") || !std::strcmp(name, "send")) {
        if (!nextNumber(a) || !nextNumber(b) || !nextNumber(c))
            return fail("usage: post|send H MSG WPARAM LPARAM");
        if (name[0] == 'p')
            return PostMessageA(hwnd, (UINT)a, (WPARAM)b, (LPARAM)c) ? ok() : fail("post failed");
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(hwnd, (UINT)a, (WPARAM)b, (LPARAM)c, SMTO_ABORTIFHUNG, 5000,
                                 &result))
            return fail("send failed");
        return ok("%lld", (long long)result);
    }
    if (!std::strcmp(name, "text")) {
        if (nextNumber(a)) {
            dialogItem(hwnd, a, item);
            if (!item) return fail("no such item");
            hwnd = item;
        }
        windowText(hwnd, text, sizeof text);
        return ok("%s", text);
    }
    if (!std::strcmp(name, "fill")) {
        unsigned long long d = 0, rgb = 0;
        if (!nextNumber(a) || !nextNumber(b) || !nextNumber(c) || !nextNumber(d) ||
            !nextNumber(rgb))
            return fail("usage: fill H X Y W H RGB");
        return fillRect(hwnd, (int)a, (int)b, (int)c, (int)d, (unsigned)rgb);
    }
    if (!std::strcmp(name, "threads")) {
        int count = threadCount(processOf(hwnd));
        return count > 0 ? ok("%d", count) : fail("no thread snapshot");
    }
    if (!std::strcmp(name, "watch")) {
        if (watch.thread) return fail("already watching");
        watch.stop = 0;
        watch.pid = processOf(hwnd);
        watch.min = watch.max = watch.samples = 0;
        watch.thread = CreateThread(NULL, 0, watchThreads, NULL, 0, NULL);
        return watch.thread ? ok() : fail("cannot start watching");
    }
    if (!std::strcmp(name, "handles")) {
        long count = handleCount(processOf(hwnd));
        return count >= 0 ? ok("%ld", count) : fail("no handle count");
    }
    if (!std::strcmp(name, "ping")) {
        long long took = pingOnce(hwnd);
        return took >= 0 ? ok("%lld", took) : fail("no answer within 5 s");
    }
    if (!std::strcmp(name, "pingwatch")) {
        if (pings.thread) return fail("already pinging");
        if (!nextNumber(a)) return fail("usage: pingwatch H INTERVAL_MS");
        pings.stop = 0;
        pings.hwnd = hwnd;
        pings.interval = (DWORD)a;
        pings.max = pings.total = 0;
        pings.count = pings.unanswered = 0;
        pings.thread = CreateThread(NULL, 0, watchPings, NULL, 0, NULL);
        return pings.thread ? ok() : fail("cannot start pinging");
    }
    if (!std::strcmp(name, "abortreads")) {
        char *dll = nextWord();
        return dll ? abortReads(processOf(hwnd), dll) : fail("usage: abortreads H DLL");
    }
    if (!std::strcmp(name, "invalidate"))
        return InvalidateRect(hwnd, NULL, FALSE) ? ok() : fail("InvalidateRect failed");
    if (!std::strcmp(name, "children")) {
        EnumChildWindows(hwnd, listChild, 0);
        return ok();
    }
    if (!std::strcmp(name, "acc")) {
        if (nextNumber(a)) {
            dialogItem(hwnd, a, item);
            if (!item) return fail("no such item");
            hwnd = item;
        }
        return readClientObject(hwnd);
    }
    if (!std::strcmp(name, "wtext")) {
        if (!nextNumber(a)) return fail("usage: wtext H ID");
        dialogItem(hwnd, a, item);
        if (!item) return fail("no such item");
        DWORD_PTR length = 0;
        SendMessageTimeoutW(item, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
        std::wstring wide(length + 1, L'\0');
        DWORD_PTR got = 0;
        SendMessageTimeoutW(item, WM_GETTEXT, length + 1, (LPARAM)&wide[0], SMTO_ABORTIFHUNG, 5000,
                            &got);
        wide.resize(got);
        int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), NULL, 0, NULL,
                                        NULL);
        std::string utf8((size_t)bytes, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &utf8[0], bytes, NULL, NULL);
        std::string hex;
        for (unsigned char c : utf8) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", c);
            hex += pair;
        }
        return ok("%s", hex.empty() ? "-" : hex.c_str());
    }
    if (!std::strcmp(name, "focus")) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, NULL), &info))
            return fail("GetGUIThreadInfo failed");
        HWND focus = info.hwndFocus;
        while (focus && GetParent(focus) != hwnd)
            focus = GetParent(focus);
        return ok("%d", focus ? GetDlgCtrlID(focus) : 0);
    }
    if (!std::strcmp(name, "accwatch")) return watchEventsOf(hwnd);

    if (!nextNumber(a)) return fail("missing dialog item id");
    dialogItem(hwnd, a, item);
    if (!item) return fail("no such item");
    if (!std::strcmp(name, "click"))
        return PostMessageA(item, BM_CLICK, 0, 0) ? ok() : fail("post failed");
    if (!std::strcmp(name, "check"))
        return ok("%lld", (long long)SendMessageA(item, BM_GETCHECK, 0, 0));
    if (!std::strcmp(name, "press")) {
        if (!nextNumber(b)) return fail("usage: press H ID N");
        return press(item, b);
    }
    if (!std::strcmp(name, "cbsel")) {
        if (!nextNumber(b)) return fail("usage: cbsel H ID INDEX");
        return ok("%lld", (long long)SendMessageA(item, CB_SETCURSEL, (WPARAM)b, 0));
    }
    if (!std::strcmp(name, "cbitems")) {
        // The wide form: Wine hands the ANSI form of CB_GETLBTEXT wide text
        // across processes.
        LRESULT count = SendMessageA(item, CB_GETCOUNT, 0, 0);
        for (LRESULT k = 0; k < count; k++) {
            wchar_t wide[1024];
            LRESULT length = SendMessageW(item, CB_GETLBTEXTLEN, k, 0);
            text[0] = 0;
            if (length >= 0 && length < (LRESULT)(sizeof wide / sizeof wide[0])) {
                SendMessageW(item, CB_GETLBTEXT, k, (LPARAM)wide);
                WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, NULL, NULL);
            }
            std::printf("%s\n", text);
        }
        return ok("%lld", (long long)SendMessageA(item, CB_GETCURSEL, 0, 0));
    }
    fail("unknown command");
}

int main() {
    InitializeCriticalSection(&events.lock);
    while (std::fgets(line, sizeof line, stdin)) {
        line[std::strcspn(line, "\r\n")] = 0;
        runCommand();
        std::fflush(stdout);
    }
    stopWatchingEvents();
    return 0;
}
