// The LCD's MSAA object and the events that tell screen readers what changed.
//
// The object's value is the screen as text. What is to be spoken (new
// characters, "screen changed", an announcement) is the name of a simple
// child element raised with EVENT_OBJECT_LIVEREGIONCHANGED: readers speak the
// name of a live region's element, and the LCD's own name never changes.
// Each spoken text gets a child id of its own, taken in turn from a ring, so
// that a reader that asks late still reads the text of its event. The LCD's
// children are the texts spoken so far, at most the ring's: its child count
// and the child ids it accepts agree.
//
// A value change is raised only for new text at the cursor or a new screen:
// readers that have no live regions read the whole value on each one, and a
// status line or meter redraw would have them read the 8 rows again.
#include "win32/win_access.h"
#include "app/change_reader.h"
#include "app/texts.h"
#include "win32/win_host.h"
#include "win32/win_main.h"
#include "win32/win_uia.h"

// Defines IID_IAccessible here: liboleacc.a's own is an import thunk.
#include <initguid.h>
#include <oleacc.h>

#include <atomic>
#include <cstring>

namespace {

enum { LIVE_SLOTS = 64 }; // spoken texts kept; child ids 1..LIVE_SLOTS

// What screen readers read, kept by the window thread.
TextView view;
bool viewTaken; // the view was taken from the change reader at least once
Speech heard[SPEECH_MAX];
int early;                              // events taken with the first view, before the first tell
char live[LIVE_SLOTS][SPEECH_TEXT_MAX]; // UTF-8; slot k is child k + 1
int nextSlot;
int filled;                       // slots holding a text: the children, ids 1..filled
LinkState toldLink = LINK_CLOSED; // the program starts with the link closed
std::atomic<bool> speechWaiting;
bool comReady;

// The text handed out last, UTF-16 with CRLF line breaks.
char crlfText[TEXT_VIEW_BYTES + LCD_ROWS];
wchar_t wideText[TEXT_VIEW_BYTES + LCD_ROWS];

int widen(const char *utf8) {
    int bytes = 0;
    for (const char *c = utf8; *c && bytes < (int)sizeof crlfText - 2; c++) {
        if (*c == '\n') crlfText[bytes++] = '\r';
        crlfText[bytes++] = *c;
    }
    if (!bytes) return 0;
    return MultiByteToWideChar(CP_UTF8, 0, crlfText, bytes, wideText,
                               sizeof wideText / sizeof wideText[0]);
}

BSTR bstrOf(const char *utf8) {
    int length = widen(utf8);
    return SysAllocStringLen(wideText, (UINT)length);
}

// Takes the change reader's events and the view as they stand.
int takeSpeech() {
    speechWaiting = false;
    map_lock();
    int count = change_reader_take(heard, view, (int64_t)GetTickCount64());
    map_unlock();
    viewTaken = true;
    return count;
}

class LcdAccessible final : public IAccessible {
  public:
    explicit LcdAccessible(HWND hwnd) : window(hwnd) {}

    // After this every call answers that the object is gone.
    void disconnect() { window = NULL; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IAccessible) {
            *out = static_cast<IAccessible *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs);
        if (left == 0) delete this;
        return (ULONG)left;
    }

    // No type information: clients call the IAccessible methods directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *,
                                     EXCEPINFO *, UINT *) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch **parent) override {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        if (!window) return RPC_E_DISCONNECTED;
        return CreateStdAccessibleObject(window, OBJID_WINDOW, IID_IDispatch, (void **)parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long *count) override {
        if (!count) return E_POINTER;
        *count = filled;
        return window ? S_OK : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        int element;
        HRESULT result = check(child, element);
        if (FAILED(result)) return result;
        return element > 0 ? S_FALSE : E_INVALIDARG; // a simple element has no object
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR *name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        int element;
        HRESULT result = check(child, element);
        if (FAILED(result)) return result;
        *name = bstrOf(element ? live[element - 1] : LCD_ACCESSIBLE_NAME);
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR *value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        int element;
        HRESULT result = check(child, element);
        if (FAILED(result)) return result;
        if (element) return S_FALSE;
        int length;
        const wchar_t *text = access_lcd_text(length);
        *value = SysAllocStringLen(text, (UINT)length);
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR *text) override {
        return noText(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT *role) override {
        if (!role) return E_POINTER;
        VariantInit(role);
        int element;
        HRESULT result = check(child, element);
        if (FAILED(result)) return result;
        role->vt = VT_I4;
        role->lVal = element ? ROLE_SYSTEM_STATICTEXT : ROLE_SYSTEM_TEXT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT *state) override {
        if (!state) return E_POINTER;
        VariantInit(state);
        int element;
        HRESULT result = check(child, element);
        if (FAILED(result)) return result;
        long bits = STATE_SYSTEM_READONLY;
        if (!element) {
            bits |= STATE_SYSTEM_FOCUSABLE;
            if (GetFocus() == window) bits |= STATE_SYSTEM_FOCUSED;
            if (!IsWindowVisible(window)) bits |= STATE_SYSTEM_INVISIBLE;
        }
        state->vt = VT_I4;
        state->lVal = bits;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR *text) override {
        return noText(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR *file, VARIANT child, long *topic) override {
        if (!topic) return E_POINTER;
        *topic = 0;
        return noText(child, file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR *text) override {
        return noText(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT *focus) override {
        if (!focus) return E_POINTER;
        VariantInit(focus);
        if (!window) return RPC_E_DISCONNECTED;
        if (GetFocus() != window) return S_FALSE;
        focus->vt = VT_I4;
        focus->lVal = CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT *selection) override {
        if (!selection) return E_POINTER;
        VariantInit(selection);
        return window ? S_FALSE : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR *text) override {
        return noText(child, text);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        int element;
        HRESULT result = check(child, element);
        if (FAILED(result)) return result;
        if (element || flags != SELFLAG_TAKEFOCUS) return DISP_E_MEMBERNOTFOUND;
        SetFocus(window);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long *left, long *top, long *width, long *height,
                                          VARIANT child) override {
        if (!left || !top || !width || !height) return E_POINTER;
        *left = *top = *width = *height = 0;
        int element;
        HRESULT result = check(child, element);
        if (FAILED(result)) return result;
        // The spoken texts stand where the LCD stands.
        RECT client;
        POINT origin = {0, 0};
        if (!GetClientRect(window, &client) || !ClientToScreen(window, &origin)) return E_FAIL;
        *left = origin.x;
        *top = origin.y;
        *width = client.right;
        *height = client.bottom;
        return S_OK;
    }
    // The spoken texts in the order of their ids; nothing beside the LCD.
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT *end) override {
        if (!end) return E_POINTER;
        VariantInit(end);
        int element;
        HRESULT result = check(start, element);
        if (FAILED(result)) return result;
        int to = 0;
        if (element == 0 && direction == NAVDIR_FIRSTCHILD) to = filled ? 1 : 0;
        if (element == 0 && direction == NAVDIR_LASTCHILD) to = filled;
        if (element > 0 && direction == NAVDIR_NEXT) to = element < filled ? element + 1 : 0;
        if (element > 0 && direction == NAVDIR_PREVIOUS) to = element - 1;
        if (!to) return S_FALSE;
        end->vt = VT_I4;
        end->lVal = to;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT *hit) override {
        if (!hit) return E_POINTER;
        VariantInit(hit);
        if (!window) return RPC_E_DISCONNECTED;
        POINT point = {x, y};
        RECT client;
        if (!ScreenToClient(window, &point) || !GetClientRect(window, &client) ||
            !PtInRect(&client, point))
            return S_FALSE;
        hit->vt = VT_I4;
        hit->lVal = CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        int element;
        HRESULT result = check(child, element);
        return FAILED(result) ? result : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    LONG refs = 1;
    HWND window;

    // Which element `child` names: 0 the LCD, 1..filled a spoken text.
    HRESULT check(const VARIANT &child, int &element) const {
        element = -1;
        if (!window) return RPC_E_DISCONNECTED;
        if (child.vt != VT_I4 || child.lVal < 0 || child.lVal > filled) return E_INVALIDARG;
        element = (int)child.lVal;
        return S_OK;
    }

    HRESULT noText(const VARIANT &child, BSTR *text) const {
        if (!text) return E_POINTER;
        *text = nullptr;
        int element;
        HRESULT result = check(child, element);
        return FAILED(result) ? result : S_FALSE;
    }
};

LcdAccessible *lcd;

// A text to be spoken: a child element's name and a live-region change.
void speak(HWND hwnd, const Speech &said) {
    if (!said.text[0]) return;
    int slot = nextSlot;
    nextSlot = (nextSlot + 1) % LIVE_SLOTS;
    std::memcpy(live[slot], said.text, sizeof live[slot]);
    if (filled < LIVE_SLOTS) filled++;
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, hwnd, OBJID_CLIENT, slot + 1);
    uia_notify(said.text, said.kind == SPEECH_ANNOUNCE);
}

} // namespace

const wchar_t *access_lcd_text(int &length) {
    // Asked before the first tick: the view is taken now, and the events
    // taken with it are told from the message loop.
    if (!viewTaken) {
        early = takeSpeech();
        if (early) PostMessageA(gHwnd, WM_SPEECH_DUE, 0, 0);
    }
    length = widen(view.text);
    return wideText;
}

LRESULT access_get_object(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    LONG id = (LONG)lParam;
    bool client = id == OBJID_CLIENT, automation = id == UIA_ROOT_OBJECT_ID && uia_available();
    // COM only once a client asks: both objects are handed out through it.
    if ((client || automation) && !comReady)
        comReady = SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED));
    LRESULT result = 0;
    if (comReady && client) {
        if (!lcd) lcd = new LcdAccessible(hwnd);
        result = LresultFromObject(IID_IAccessible, wParam, static_cast<IAccessible *>(lcd));
    } else if (comReady && automation) {
        result = uia_get_object(hwnd, wParam, lParam);
    }
    return result ? result : DefWindowProcA(hwnd, WM_GETOBJECT, wParam, lParam);
}

void access_speech_due() {
    if (gHwnd && !speechWaiting.exchange(true) && !PostMessageA(gHwnd, WM_SPEECH_DUE, 0, 0))
        speechWaiting = false;
}

void access_tell(HWND hwnd) {
    int count = early ? early : takeSpeech();
    early = 0;
    // One value change per take with text to read: the value is read after
    // it, and is the same for every change taken together.
    for (int k = 0; k < count; k++)
        if (heard[k].kind == SPEECH_TYPED || heard[k].kind == SPEECH_SCREEN) {
            NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, hwnd, OBJID_CLIENT, CHILDID_SELF);
            break;
        }
    for (int k = 0; k < count; k++)
        if (heard[k].kind != SPEECH_QUIET) speak(hwnd, heard[k]);
}

void access_link_state(HWND hwnd, LinkState state) {
    if (state == toldLink) return;
    toldLink = state;
    map_lock();
    change_reader_link(state);
    map_unlock();
    access_tell(hwnd);
}

void access_window_gone(HWND hwnd) {
    uia_window_gone(hwnd);
    if (!lcd) return;
    lcd->disconnect();
    CoDisconnectObject(static_cast<IAccessible *>(lcd), 0);
    lcd->Release();
    lcd = nullptr;
}
