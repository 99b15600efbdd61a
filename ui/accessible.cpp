#include "ui/accessible.h"

#include <oleacc.h>
#include <wrl/client.h>

#include <atomic>
#include <cmath>
#include <new>
#include <string>

namespace ui {

namespace {

// An item's box in client pixels.
RECT pixelsOf(const AccessItem& item, float scale) {
    return {std::lround(item.bounds.left * scale), std::lround(item.bounds.top * scale),
            std::lround(item.bounds.right * scale), std::lround(item.bounds.bottom * scale)};
}

// Hands `text` to a caller that frees it; S_FALSE and no string when there is none.
HRESULT giveText(const std::wstring& text, BSTR* out) {
    if (text.empty()) return S_FALSE;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

void setChild(VARIANT* out, long childId) {
    out->vt = VT_I4;
    out->lVal = childId;
}

// Runs the body of a COM method: nothing it throws may cross into the caller, which may be
// another process.
template <typename F>
HRESULT guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// The client area of the setup window. Children are simple elements: their ids index the
// tree, which is read again on every call so that a reader never sees a screen that is gone.
class ClientAccessible final : public IAccessible {
public:
    ClientAccessible(HWND window, const AccessSource& source) : window_(window), source_(source) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: readers call the IAccessible methods directly; there is no type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) noexcept override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) noexcept override {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
        return CreateStdAccessibleObject(window_, OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent));
    }

    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) noexcept override {
        if (!count) return E_POINTER;
        *count = 0;
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            *count = static_cast<long>(source_.items().size());
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) noexcept override {
        if (!object) return E_POINTER;
        *object = nullptr;
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            const std::vector<AccessItem> items = source_.items();
            // Every child is a simple element: the caller asks this object about it.
            return itemOf(items, child) ? S_FALSE : E_INVALIDARG;
        });
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) noexcept override {
        return text(child, name, [this](const AccessItem* item) {
            return item ? item->name : windowTitle();
        });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) noexcept override {
        return text(child, value, [](const AccessItem* item) { return item ? item->value : std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) noexcept override {
        return text(child, description, [](const AccessItem*) { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) noexcept override {
        return text(child, help, [](const AccessItem*) { return std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) noexcept override {
        return text(child, shortcut, [](const AccessItem* item) { return item ? item->shortcut : std::wstring(); });
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) noexcept override {
        return text(child, action, [](const AccessItem* item) {
            return item ? item->defaultAction : std::wstring();
        });
    }

    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* helpFile, VARIANT child, long* topic) noexcept override {
        if (helpFile) *helpFile = nullptr;
        if (topic) *topic = 0;
        if (!helpFile || !topic) return E_POINTER;
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            const std::vector<AccessItem> items = source_.items();
            return isSelf(child) || itemOf(items, child) ? S_FALSE : E_INVALIDARG;
        });
    }

    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) noexcept override {
        if (!role) return E_POINTER;
        VariantInit(role);
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            if (isSelf(child)) {
                setChild(role, ROLE_SYSTEM_CLIENT);
                return S_OK;
            }
            const std::vector<AccessItem> items = source_.items();
            const AccessItem* item = itemOf(items, child);
            if (!item) return E_INVALIDARG;
            setChild(role, item->role);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) noexcept override {
        if (!state) return E_POINTER;
        VariantInit(state);
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            const std::vector<AccessItem> items = source_.items();
            const bool windowFocused = GetFocus() == window_;
            if (isSelf(child)) {
                long flags = STATE_SYSTEM_FOCUSABLE;
                if (windowFocused && focusedChild(items) == CHILDID_SELF) flags |= STATE_SYSTEM_FOCUSED;
                setChild(state, flags);
                return S_OK;
            }
            const AccessItem* item = itemOf(items, child);
            if (!item) return E_INVALIDARG;
            // The frame keeps its focused button while another window is active; it has no
            // keyboard focus then.
            setChild(state, windowFocused ? item->state : item->state & ~STATE_SYSTEM_FOCUSED);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) noexcept override {
        if (!focus) return E_POINTER;
        VariantInit(focus);
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            if (GetFocus() != window_) return S_FALSE;  // VT_EMPTY: the focus is elsewhere
            setChild(focus, focusedChild(source_.items()));
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) noexcept override {
        if (!selection) return E_POINTER;
        VariantInit(selection);
        return IsWindow(window_) ? DISP_E_MEMBERNOTFOUND : RPC_E_DISCONNECTED;
    }

    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) noexcept override {
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            const std::vector<AccessItem> items = source_.items();
            const AccessItem* item = itemOf(items, child);
            if (!item && !isSelf(child)) return E_INVALIDARG;
            // Only the focus moves: nothing in the window is selectable.
            if (flags != SELFLAG_TAKEFOCUS || !item || !(item->state & STATE_SYSTEM_FOCUSABLE) ||
                item->buttonId == render::kButtonNone)
                return DISP_E_MEMBERNOTFOUND;
            source_.focus(item->buttonId);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) noexcept override {
        if (!left || !top || !width || !height) return E_POINTER;
        *left = *top = *width = *height = 0;
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            RECT box{};
            if (isSelf(child)) {
                GetClientRect(window_, &box);
            } else {
                const std::vector<AccessItem> items = source_.items();
                const AccessItem* item = itemOf(items, child);
                if (!item) return E_INVALIDARG;
                box = pixelsOf(*item, source_.scale());
            }
            POINT origin{0, 0};
            ClientToScreen(window_, &origin);
            *left = box.left + origin.x;
            *top = box.top + origin.y;
            *width = box.right - box.left;
            *height = box.bottom - box.top;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) noexcept override {
        if (!end) return E_POINTER;
        VariantInit(end);
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            const std::vector<AccessItem> items = source_.items();
            const long count = static_cast<long>(items.size());
            const bool self = isSelf(start);
            if (!self && !itemOf(items, start)) return E_INVALIDARG;
            long to = 0;
            switch (direction) {
            case NAVDIR_FIRSTCHILD:
            case NAVDIR_LASTCHILD:
                if (!self) return E_INVALIDARG;
                to = direction == NAVDIR_FIRSTCHILD ? 1 : count;
                break;
            case NAVDIR_NEXT:
            case NAVDIR_PREVIOUS:
                // The client's own siblings belong to the window's object, not to this one.
                if (self) return S_FALSE;
                to = start.lVal + (direction == NAVDIR_NEXT ? 1 : -1);
                break;
            default:
                return DISP_E_MEMBERNOTFOUND;
            }
            if (to < 1 || to > count) return S_FALSE;
            setChild(end, to);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) noexcept override {
        if (!child) return E_POINTER;
        VariantInit(child);
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            POINT point{x, y};
            RECT client{};
            ScreenToClient(window_, &point);
            GetClientRect(window_, &client);
            if (!PtInRect(&client, point)) return S_FALSE;
            const std::vector<AccessItem> items = source_.items();
            const float scale = source_.scale();
            // A button before any text whose box it overlaps: it is what a click there hits.
            long found = CHILDID_SELF;
            for (size_t i = 0; i < items.size(); ++i) {
                const RECT box = pixelsOf(items[i], scale);
                if (!PtInRect(&box, point)) continue;
                if (items[i].buttonId != render::kButtonNone) {
                    found = childIdOf(i);
                    break;
                }
                if (found == CHILDID_SELF) found = childIdOf(i);
            }
            setChild(child, found);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) noexcept override {
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            const std::vector<AccessItem> items = source_.items();
            const AccessItem* item = itemOf(items, child);
            if (!item && !isSelf(child)) return E_INVALIDARG;
            if (!item || item->buttonId == render::kButtonNone || (item->state & STATE_SYSTEM_UNAVAILABLE))
                return DISP_E_MEMBERNOTFOUND;
            source_.press(item->buttonId);
            return S_OK;
        });
    }

    // Names and values are the program's to say.
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) noexcept override { return E_NOTIMPL; }

private:
    ~ClientAccessible() = default;

    static bool isSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

    // The item `child` names, or null when it names none (CHILDID_SELF included).
    static const AccessItem* itemOf(const std::vector<AccessItem>& items, const VARIANT& child) {
        if (child.vt != VT_I4 || child.lVal < 1 || static_cast<size_t>(child.lVal) > items.size())
            return nullptr;
        return &items[static_cast<size_t>(child.lVal) - 1];
    }

    static long focusedChild(const std::vector<AccessItem>& items) {
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].state & STATE_SYSTEM_FOCUSED) return childIdOf(i);
        return CHILDID_SELF;
    }

    std::wstring windowTitle() const {
        std::wstring title(static_cast<size_t>(GetWindowTextLengthW(window_)) + 1, L'\0');
        title.resize(static_cast<size_t>(GetWindowTextW(window_, title.data(), static_cast<int>(title.size()))));
        return title;
    }

    // A text property of the client (`pick` gets null) or of one item.
    template <typename Pick>
    HRESULT text(const VARIANT& child, BSTR* out, Pick pick) noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        return guarded([&] {
            if (!IsWindow(window_)) return RPC_E_DISCONNECTED;
            if (isSelf(child)) return giveText(pick(nullptr), out);
            const std::vector<AccessItem> items = source_.items();
            const AccessItem* item = itemOf(items, child);
            return item ? giveText(pick(item), out) : E_INVALIDARG;
        });
    }

    std::atomic<ULONG> references_{1};
    const HWND window_;
    const AccessSource source_;
};

}  // namespace

LRESULT answerGetObject(HWND window, WPARAM wParam, LPARAM lParam, const AccessSource& source) noexcept {
    if (static_cast<LONG>(lParam) != OBJID_CLIENT) return 0;
    Microsoft::WRL::ComPtr<IAccessible> object;
    try {
        object.Attach(new ClientAccessible(window, source));
    } catch (...) {  // std::bad_alloc: the system's own client object answers instead
        return 0;
    }
    // The system takes its own reference; ours goes with `object`.
    return LresultFromObject(__uuidof(IAccessible), wParam, object.Get());
}

}  // namespace ui
