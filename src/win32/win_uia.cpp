// A minimal UI Automation provider for the LCD: a read-only edit whose value
// is the screen as text, the element that notifications come from. The
// window's host provider adds the rest (position, focus, enabled).
#include "win32/win_uia.h"
#include "app/texts.h"
#include "win32/win_access.h"

// Defines the interface ids here, as the system has no import library for them.
#include <initguid.h>
#include <uiautomationcore.h>

namespace {

// Not in every SDK's headers (the API's own header does not compile as C++):
// ids, errors, the Value pattern and the notification API (Windows 10 1709).
constexpr PATTERNID VALUE_PATTERN_ID = 10002;
constexpr PROPERTYID CONTROL_TYPE_PROPERTY_ID = 30003;
constexpr PROPERTYID NAME_PROPERTY_ID = 30005;
constexpr PROPERTYID IS_KEYBOARD_FOCUSABLE_PROPERTY_ID = 30009;
constexpr LONG EDIT_CONTROL_TYPE_ID = 50004;
constexpr int NOTIFICATION_KIND_OTHER = 4;
constexpr int NOTIFICATION_PROCESSING_IMPORTANT_ALL = 0;
constexpr int NOTIFICATION_PROCESSING_ALL = 2;
constexpr HRESULT ELEMENT_NOT_ENABLED = (HRESULT)0x80040200;
constexpr HRESULT ELEMENT_NOT_AVAILABLE = (HRESULT)0x80040201;

struct ValuePattern : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(BSTR *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL *readOnly) = 0;
};
const IID IID_VALUE_PATTERN = {
    0xc7935180, 0x6fb3, 0x4201, {0xb1, 0x74, 0x7d, 0xf7, 0x3a, 0xdb, 0xf6, 0x4a}};

typedef HRESULT(WINAPI *RaiseNotification)(IRawElementProviderSimple *, int kind, int processing,
                                           BSTR text, BSTR activity);
typedef LRESULT(WINAPI *ReturnProvider)(HWND, WPARAM, LPARAM, IRawElementProviderSimple *);
typedef HRESULT(WINAPI *HostProvider)(HWND, IRawElementProviderSimple **);
typedef BOOL(WINAPI *ClientsListening)();
typedef HRESULT(WINAPI *DisconnectProvider)(IRawElementProviderSimple *);

// The functions, found once; all null where notifications are missing.
struct {
    bool looked;
    RaiseNotification raiseNotification;
    ReturnProvider returnProvider;
    HostProvider hostProvider;
    ClientsListening clientsListening;
    DisconnectProvider disconnectProvider; // Windows 8 and later
} uia;

template <typename Function> Function find(HMODULE module, const char *name) {
    return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

} // namespace

bool uia_available() {
    if (!uia.looked) {
        uia.looked = true;
        // From the system folder only, never from beside the program.
        HMODULE core = LoadLibraryExA("uiautomationcore.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!core) return false;
        uia.raiseNotification = find<RaiseNotification>(core, "UiaRaiseNotificationEvent");
        uia.returnProvider = find<ReturnProvider>(core, "UiaReturnRawElementProvider");
        uia.hostProvider = find<HostProvider>(core, "UiaHostProviderFromHwnd");
        uia.clientsListening = find<ClientsListening>(core, "UiaClientsAreListening");
        uia.disconnectProvider = find<DisconnectProvider>(core, "UiaDisconnectProvider");
        if (!uia.raiseNotification || !uia.returnProvider || !uia.hostProvider ||
            !uia.clientsListening) {
            uia = {};
            uia.looked = true;
            FreeLibrary(core);
        }
    }
    return uia.raiseNotification != nullptr;
}

namespace {

BSTR bstrOfUtf8(const char *text) {
    wchar_t wide[128];
    int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, sizeof wide / sizeof wide[0]);
    return SysAllocStringLen(wide, length > 0 ? (UINT)length - 1 : 0);
}

class LcdProvider final : public IRawElementProviderSimple, public ValuePattern {
  public:
    explicit LcdProvider(HWND hwnd) : window(hwnd) {}

    void disconnect() { window = NULL; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IRawElementProviderSimple)
            *out = static_cast<IRawElementProviderSimple *>(this);
        else if (riid == IID_VALUE_PATTERN)
            *out = static_cast<ValuePattern *>(this);
        else
            *out = nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs);
        if (left == 0) delete this;
        return (ULONG)left;
    }

    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions *options) override {
        if (!options) return E_POINTER;
        *options =
            (ProviderOptions)(ProviderOptions_ServerSideProvider | ProviderOptions_UseComThreading);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!window) return ELEMENT_NOT_AVAILABLE;
        if (pattern == VALUE_PATTERN_ID) {
            *out = static_cast<ValuePattern *>(this);
            AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT *value) override {
        if (!value) return E_POINTER;
        VariantInit(value);
        if (!window) return ELEMENT_NOT_AVAILABLE;
        switch (property) {
        case NAME_PROPERTY_ID:
            value->vt = VT_BSTR;
            value->bstrVal = bstrOfUtf8(LCD_ACCESSIBLE_NAME);
            return value->bstrVal ? S_OK : E_OUTOFMEMORY;
        case CONTROL_TYPE_PROPERTY_ID:
            value->vt = VT_I4;
            value->lVal = EDIT_CONTROL_TYPE_ID;
            return S_OK;
        case IS_KEYBOARD_FOCUSABLE_PROPERTY_ID:
            value->vt = VT_BOOL;
            value->boolVal = VARIANT_TRUE;
            return S_OK;
        }
        return S_OK; // VT_EMPTY: the host provider's, or the default
    }
    HRESULT STDMETHODCALLTYPE
    get_HostRawElementProvider(IRawElementProviderSimple **host) override {
        if (!host) return E_POINTER;
        *host = nullptr;
        if (!window) return ELEMENT_NOT_AVAILABLE;
        return uia.hostProvider(window, host);
    }

    HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR) override {
        return window ? ELEMENT_NOT_ENABLED : ELEMENT_NOT_AVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE get_Value(BSTR *value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        if (!window) return ELEMENT_NOT_AVAILABLE;
        int length;
        const wchar_t *text = access_lcd_text(length);
        *value = SysAllocStringLen(text, (UINT)length);
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL *readOnly) override {
        if (!readOnly) return E_POINTER;
        *readOnly = TRUE;
        return window ? S_OK : ELEMENT_NOT_AVAILABLE;
    }

  private:
    LONG refs = 1;
    HWND window;
};

LcdProvider *provider;

} // namespace

LRESULT uia_get_object(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    if (!uia_available()) return 0;
    if (!provider) provider = new LcdProvider(hwnd);
    return uia.returnProvider(hwnd, wParam, lParam, provider);
}

void uia_notify(const char *text, bool important) {
    if (!provider || !uia.clientsListening()) return;
    BSTR said = bstrOfUtf8(text);
    // Activity ids let a reader group what it speaks: typed text in order,
    // announcements each.
    BSTR activity = bstrOfUtf8(important ? "Q72 status" : "Q72 text");
    if (said && activity)
        uia.raiseNotification(provider, NOTIFICATION_KIND_OTHER,
                              important ? NOTIFICATION_PROCESSING_IMPORTANT_ALL
                                        : NOTIFICATION_PROCESSING_ALL,
                              said, activity);
    SysFreeString(said);
    SysFreeString(activity);
}

void uia_window_gone(HWND hwnd) {
    if (!provider) return;
    provider->disconnect();
    // Lets the system drop what it holds for the window, then the provider.
    uia.returnProvider(hwnd, 0, 0, NULL);
    if (uia.disconnectProvider) uia.disconnectProvider(provider);
    provider->Release();
    provider = nullptr;
}
