#include "render/win32/win32_renderer.h"

#include "addin/ui/fit.h"
#include "render/win32/win32_text.h"
#include "resources/bitmaps.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace skerrow::win32 {

namespace {

// Marks the top-level windows that are ours, for the keyboard hook.
constexpr wchar_t windowProperty[] = L"Skerrow.Window";
// A subclassed control's own window procedure.
constexpr wchar_t procedureProperty[] = L"Skerrow.Procedure";
// Above IDOK and IDCANCEL, which Enter and Esc send.
constexpr int firstControlId = 100;
constexpr int fallbackWidth = 4800;
constexpr int fallbackHeight = 3600;
// The tool of a list view's tool tip control.
constexpr UINT_PTR cellTipTool = 1;

HINSTANCE thisModule() {
    static const int marker = 0;
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&marker), &module);
    return module;
}

void initCommonControls() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)done;
}

// A dialog without controls, sized later: the dialog manager gives us Tab,
// Esc, Enter, access keys, the default button and the font. The template is
// read as words after the header, and must start on a DWORD.
struct alignas(4) EmptyDialog {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    WORD title;
    WORD points;
    wchar_t face[13];
};
constexpr EmptyDialog emptyDialog{
    {WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME | DS_SETFONT, 0, 0, 0, 0, 0, 0},
    0, // no menu
    0, // the dialog class
    0, // no title
    8,
    L"MS Shell Dlg"};
static_assert(sizeof(DLGTEMPLATE) == 18 && offsetof(EmptyDialog, menu) == sizeof(DLGTEMPLATE));

std::wstring windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

// A BMP file's bytes as a bitmap for the screen; null when they are not one.
HBITMAP bitmapFromFile(const std::vector<std::uint8_t>& bytes) {
    BITMAPFILEHEADER file{};
    if (bytes.size() < sizeof file + sizeof(BITMAPINFOHEADER))
        return nullptr;
    std::memcpy(&file, bytes.data(), sizeof file);
    if (file.bfType != 0x4D42 || file.bfOffBits <= sizeof file || file.bfOffBits >= bytes.size())
        return nullptr;
    // Copied out for the alignment the structures want.
    std::vector<DWORD> info((file.bfOffBits - sizeof file + 3) / 4, 0);
    std::memcpy(info.data(), bytes.data() + sizeof file, file.bfOffBits - sizeof file);
    const auto* header = reinterpret_cast<const BITMAPINFO*>(info.data());
    const BITMAPINFOHEADER& h = header->bmiHeader;
    const long long stride = ((static_cast<long long>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
    const long long needed = stride * (h.biHeight < 0 ? -static_cast<long long>(h.biHeight) : h.biHeight);
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biCompression != BI_RGB ||
        needed > static_cast<long long>(bytes.size() - file.bfOffBits))
        return nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap =
        CreateDIBitmap(screen, &h, CBM_INIT, bytes.data() + file.bfOffBits, header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

// A themed tab strip paints its page white, and the controls on the page
// keep the grey of the window: the strip is drawn the classic way instead.
// The theme library is not on every system the host runs on.
void classicLook(HWND control) {
    using SetTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static const SetTheme setTheme = []() -> SetTheme {
        HMODULE themes = LoadLibraryW(L"uxtheme.dll");
        if (!themes)
            return nullptr;
        return reinterpret_cast<SetTheme>(reinterpret_cast<void*>(GetProcAddress(themes, "SetWindowTheme")));
    }();
    // A class list that names no class: no theme at all.
    if (setTheme)
        setTheme(control, L" ", L" ");
}

bool isContainer(HWND control) {
    wchar_t name[32] = {};
    GetClassNameW(control, name, 32);
    if (lstrcmpiW(name, WC_TABCONTROLW) == 0)
        return true;
    return lstrcmpiW(name, L"Button") == 0 && (GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// Frames and tab strips draw their borders only; what lies inside them is
// below them and clipped away, so they get their insides painted in the
// colour the controls on them paint their own backgrounds with.
void paintInside(HWND container, HDC dc) {
    auto brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(container), WM_CTLCOLORSTATIC,
                                                       reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(container)));
    if (!brush)
        brush = GetSysColorBrush(COLOR_BTNFACE);
    RECT inside{};
    GetClientRect(container, &inside);
    FillRect(dc, &inside, brush);
}

// Through the dialog manager, which keeps the default button in step. It
// selects the whole text of an edit it focuses; a mail body is read from
// its start instead.
void focusOn(HWND dialog, HWND control) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    if (lstrcmpiW(name, L"Edit") == 0 && (GetWindowLongPtrW(control, GWL_STYLE) & ES_MULTILINE)) {
        SendMessageW(control, EM_SETSEL, 0, 0);
        SendMessageW(control, EM_SCROLLCARET, 0, 0);
    }
}

// The size a static control's caption takes in its font, "&" marking an
// access key as the control shows it: on one line when width is 0, else
// broken into lines at words within width.
SIZE measureText(HWND control, const std::wstring& text, int width) {
    HDC dc = GetDC(control);
    if (!dc)
        return {0, 0};
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    RECT r{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_EXPANDTABS | (width > 0 ? DT_WORDBREAK : DT_SINGLELINE));
    if (previous)
        SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return {r.right - r.left, r.bottom - r.top};
}

const ui::Control* findControl(const std::vector<ui::Control>& controls, const std::string& name, int index) {
    for (const ui::Control& c : controls)
        if (c.name == name && c.index == index)
            return &c;
    return nullptr;
}

// Containers nest; a broken chain stops the walk rather than looping.
constexpr int deepestNesting = 16;

struct Placement {
    int left = 0;
    int top = 0;
    int depth = 0;
};

// Twips from the window's client area, summed over the containers.
Placement placementOf(const std::vector<ui::Control>& controls, const ui::Control& control) {
    Placement p{control.rect.left, control.rect.top, 0};
    const ui::Control* child = &control;
    while (!child->container.empty() && p.depth < deepestNesting) {
        const ui::Control* parent = findControl(controls, child->container, -1);
        if (!parent)
            break;
        p.left += parent->rect.left;
        p.top += parent->rect.top;
        ++p.depth;
        child = parent;
    }
    return p;
}

struct Shows {
    bool visible = true;
    bool enabled = true;
};

// A control shows only on its tab strip's current page and inside visible
// containers, and works only inside enabled ones.
Shows showsOf(const std::vector<ui::Control>& controls, const ui::Control& control) {
    Shows shows{control.visible, control.enabled};
    const ui::Control* child = &control;
    for (int depth = 0; !child->container.empty() && depth < deepestNesting; ++depth) {
        const ui::Control* parent = findControl(controls, child->container, -1);
        if (!parent)
            break;
        if (parent->kind == ui::ControlKind::TabStrip && child->tab >= 0 && child->tab != parent->currentTab)
            shows.visible = false;
        shows.visible = shows.visible && parent->visible;
        shows.enabled = shows.enabled && parent->enabled;
        child = parent;
    }
    return shows;
}

std::wstring cellText(const ui::ListCell& cell) {
    if (cell.date) {
        std::wstring shown = localDateTime(*cell.date);
        if (!shown.empty())
            return shown;
    }
    return widen(cell.text);
}

bool sameCells(const ui::ListRow& a, const ui::ListRow& b) {
    if (a.key != b.key || a.cells.size() != b.cells.size())
        return false;
    for (std::size_t i = 0; i < a.cells.size(); ++i)
        if (a.cells[i].text != b.cells[i].text || a.cells[i].date != b.cells[i].date)
            return false;
    return true;
}

int selectedItem(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// Keyboard messages for our modeless windows, which the host's loop does not
// give to IsDialogMessage.
struct KeyboardHook {
    HHOOK hook = nullptr;
    int windows = 0;  // modeless windows open
    int ownLoops = 0; // our modal loops running, which do it themselves
};

KeyboardHook& keyboardHook() {
    static KeyboardHook hook;
    return hook;
}

LRESULT CALLBACK getMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    KeyboardHook& k = keyboardHook();
    if (code == HC_ACTION && wParam == PM_REMOVE && k.ownLoops == 0) {
        MSG& message = *reinterpret_cast<MSG*>(lParam);
        if (Win32WindowManager::dialogMessage(message)) {
            message.message = WM_NULL;
            message.wParam = 0;
            message.lParam = 0;
        }
    }
    return CallNextHookEx(k.hook, code, wParam, lParam);
}

void holdKeyboardHook() {
    KeyboardHook& k = keyboardHook();
    if (k.windows++ == 0)
        k.hook = SetWindowsHookExW(WH_GETMESSAGE, getMessageHook, nullptr, GetCurrentThreadId());
}

void releaseKeyboardHook() {
    KeyboardHook& k = keyboardHook();
    if (k.windows > 0 && --k.windows == 0 && k.hook) {
        UnhookWindowsHookEx(k.hook);
        k.hook = nullptr;
    }
}

struct OwnLoop {
    OwnLoop() { ++keyboardHook().ownLoops; }
    ~OwnLoop() { --keyboardHook().ownLoops; }
    OwnLoop(const OwnLoop&) = delete;
    OwnLoop& operator=(const OwnLoop&) = delete;
};

BOOL CALLBACK collectEnabled(HWND window, LPARAM lParam) {
    auto* windows = reinterpret_cast<std::vector<HWND>*>(lParam);
    if (IsWindowVisible(window) && IsWindowEnabled(window))
        windows->push_back(window);
    return TRUE;
}

} // namespace

struct Win32WindowManager::View {
    std::string name;
    int index = -1;
    ui::ControlKind kind = ui::ControlKind::Label;
    int id = 0;
    HWND hwnd = nullptr;
    // What was last put on the screen.
    std::wstring caption;
    bool visible = false;
    std::vector<ui::ListRow> rows;
    std::vector<std::string> tabs;
    int bitmapId = 0;
    // The tool tip of a list's cells (owned by the window, and gone with it)
    // and the text it shows now.
    HWND tooltip = nullptr;
    std::wstring tip;
    // Owned; freed after the window is gone.
    HFONT font = nullptr;
    HBITMAP bitmap = nullptr;
};

struct Win32WindowManager::Shown : std::enable_shared_from_this<Shown> {
    Win32WindowManager* manager = nullptr;
    ui::Window* window = nullptr;
    HWND hwnd = nullptr;
    bool modal = false;
    bool closed = false;
    int dpiX = 96;
    int dpiY = 96;
    std::vector<View> views;
    // What the screen shows of the model.
    unsigned revision = 0;
    std::wstring caption;
    std::string focus;
    std::string defaultButton;
    // Above 0 while we change the controls ourselves: what they report then
    // is not the user's doing.
    int quiet = 0;
    // Windows disabled while this one is modal.
    std::vector<HWND> disabled;

    View* find(const std::string& name, int index) {
        for (View& v : views)
            if (v.name == name && v.index == index)
                return &v;
        return nullptr;
    }
    View* byId(int id) {
        for (View& v : views)
            if (v.id == id)
                return &v;
        return nullptr;
    }
    View* byHandle(HWND control) {
        for (View& v : views)
            if (v.hwnd == control)
                return &v;
        return nullptr;
    }
    int pixelsX(int twips) const { return MulDiv(twips, dpiX, 1440); }
    int pixelsY(int twips) const { return MulDiv(twips, dpiY, 1440); }
};

// The tool tip follows the mouse from cell to cell; a cell without a tip
// shows none.
void Win32WindowManager::showCellTip(View& v, POINT at) {
    LVHITTESTINFO hit{};
    hit.pt = at;
    SendMessageW(v.hwnd, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    std::wstring tip;
    if (hit.iItem >= 0 && hit.iSubItem >= 0 && static_cast<std::size_t>(hit.iItem) < v.rows.size()) {
        const auto& cells = v.rows[static_cast<std::size_t>(hit.iItem)].cells;
        if (static_cast<std::size_t>(hit.iSubItem) < cells.size())
            tip = widen(cells[static_cast<std::size_t>(hit.iSubItem)].tooltip);
    }
    if (tip == v.tip)
        return;
    v.tip = tip;
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = v.hwnd;
    tool.uId = cellTipTool;
    tool.lpszText = v.tip.data();
    SendMessageW(v.tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

Win32WindowManager::Win32WindowManager(HWND owner) : owner_(owner) {}

Win32WindowManager::~Win32WindowManager() {
    // The models may be gone already: nothing reaches them from here on.
    ending_ = true;
    auto shown = std::move(shown_);
    for (auto& [window, s] : shown)
        destroy(*s);
}

HWND Win32WindowManager::windowHandle(const ui::Window& window) const {
    const auto found = shown_.find(&window);
    return found == shown_.end() ? nullptr : found->second->hwnd;
}

HWND Win32WindowManager::controlHandle(const ui::Window& window, const std::string& name, int index) const {
    const auto found = shown_.find(&window);
    if (found == shown_.end())
        return nullptr;
    const View* view = found->second->find(name, index);
    return view ? view->hwnd : nullptr;
}

bool Win32WindowManager::dialogMessage(MSG& message) {
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST || !message.hwnd)
        return false;
    HWND root = GetAncestor(message.hwnd, GA_ROOT);
    if (!root || !GetPropW(root, windowProperty))
        return false;
    return IsDialogMessageW(root, &message) != FALSE;
}

std::shared_ptr<Win32WindowManager::Shown> Win32WindowManager::create(ui::Window& window, bool modal) {
    initCommonControls();
    auto shown = std::make_shared<Shown>();
    shown->manager = this;
    shown->window = &window;
    shown->modal = modal;

    // In front of the active window of the thread: the host's, or ours that
    // opened this one.
    HWND owner = GetActiveWindow();
    if (!owner)
        owner = owner_;
    // The host's window disabled under a dialog of its own: in front of that
    // dialog, and never without an owner.
    if (owner && !IsWindowEnabled(owner)) {
        HWND popup = GetWindow(owner, GW_ENABLEDPOPUP);
        owner = popup ? popup : owner_ ? owner_ : owner;
    }
    shown->hwnd = CreateDialogIndirectParamW(thisModule(), &emptyDialog.header, owner,
                                             dialogProc, reinterpret_cast<LPARAM>(shown.get()));
    if (!shown->hwnd)
        return nullptr;
    SetPropW(shown->hwnd, windowProperty, shown->hwnd);
    shown_[&window] = shown;
    build(*shown);
    place(*shown);
    refresh(*shown, true);
    return shown;
}

void Win32WindowManager::build(Shown& s) {
    HDC dc = GetDC(s.hwnd);
    s.dpiX = GetDeviceCaps(dc, LOGPIXELSX);
    s.dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(s.hwnd, dc);
    const auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(s.hwnd, WM_GETFONT, 0, 0));

    const std::vector<ui::Control>& controls = s.window->controls();
    s.views.reserve(controls.size());
    int id = firstControlId;
    const ui::Control* previous = nullptr;
    for (const ui::Control& c : controls) {
        View v;
        v.name = c.name;
        v.index = c.index;
        v.kind = c.kind;
        v.id = id++;
        // Option buttons of one name make one group; arrow keys move in it.
        const bool sameGroup = c.kind == ui::ControlKind::OptionButton && previous &&
                               previous->kind == ui::ControlKind::OptionButton && previous->name == c.name;
        previous = &c;
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (sameGroup ? 0 : WS_GROUP);
        DWORD extended = 0;
        const wchar_t* windowClass = L"STATIC";
        switch (c.kind) {
        case ui::ControlKind::Label:
            // A label of fixed size breaks its text at words, word wrap or
            // not; the flag only says how a label that sizes itself grows.
            style |= SS_LEFT | SS_NOTIFY;
            break;
        case ui::ControlKind::TextBox:
            windowClass = L"EDIT";
            extended = WS_EX_CLIENTEDGE;
            style |= WS_TABSTOP | ES_LEFT;
            if (c.multiLine)
                style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | (c.verticalScrollBar ? WS_VSCROLL : 0);
            else
                style |= ES_AUTOHSCROLL;
            break;
        case ui::ControlKind::Button:
            windowClass = L"BUTTON";
            style |= WS_TABSTOP | BS_PUSHBUTTON;
            break;
        case ui::ControlKind::CheckBox:
            windowClass = L"BUTTON";
            style |= WS_TABSTOP | BS_AUTOCHECKBOX;
            break;
        case ui::ControlKind::OptionButton:
            windowClass = L"BUTTON";
            style |= BS_AUTORADIOBUTTON | (sameGroup ? 0 : WS_TABSTOP);
            break;
        case ui::ControlKind::Frame:
            windowClass = L"BUTTON";
            style |= BS_GROUPBOX;
            break;
        case ui::ControlKind::ListView:
            windowClass = WC_LISTVIEWW;
            extended = WS_EX_CLIENTEDGE;
            style |= WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | (c.hideSelection ? 0 : LVS_SHOWSELALWAYS);
            break;
        case ui::ControlKind::TabStrip:
            windowClass = WC_TABCONTROLW;
            style |= WS_TABSTOP;
            break;
        case ui::ControlKind::Picture:
            style |= SS_BITMAP | SS_NOTIFY;
            break;
        }
        const Placement at = placementOf(controls, c);
        v.hwnd = CreateWindowExW(extended, windowClass, L"", style, s.pixelsX(at.left), s.pixelsY(at.top),
                                 s.pixelsX(c.rect.width), s.pixelsY(c.rect.height), s.hwnd,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(v.id)), thisModule(), nullptr);
        if (!v.hwnd)
            continue;

        HFONT font = dialogFont;
        if (c.bold || c.fontSize > 0) {
            LOGFONTW face{};
            GetObjectW(dialogFont, sizeof face, &face);
            if (c.bold)
                face.lfWeight = FW_BOLD;
            if (c.fontSize > 0)
                face.lfHeight = -MulDiv(c.fontSize, s.dpiY, 72);
            v.font = CreateFontIndirectW(&face);
            if (v.font)
                font = v.font;
        }
        SendMessageW(v.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        if (c.kind == ui::ControlKind::TabStrip)
            classicLook(v.hwnd);

        if (c.kind == ui::ControlKind::ListView) {
            DWORD listStyle = LVS_EX_FULLROWSELECT;
            if (c.checkBoxes)
                listStyle |= LVS_EX_CHECKBOXES;
            SendMessageW(v.hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, listStyle, listStyle);
            for (std::size_t i = 0; i < c.columns.size(); ++i) {
                std::wstring caption = widen(c.columns[i].caption);
                LVCOLUMNW column{};
                column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
                column.pszText = caption.data();
                column.cx = s.pixelsX(c.columns[i].width);
                column.iSubItem = static_cast<int>(i);
                SendMessageW(v.hwnd, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
            }
            // One tool over the whole list; its text follows the cell under
            // the mouse.
            v.tooltip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, s.hwnd, nullptr,
                                        thisModule(), nullptr);
            if (v.tooltip) {
                TOOLINFOW tool{};
                tool.cbSize = TTTOOLINFOW_V2_SIZE; // what every version of the controls takes
                tool.uFlags = TTF_SUBCLASS;
                tool.hwnd = v.hwnd;
                tool.uId = cellTipTool;
                GetClientRect(v.hwnd, &tool.rect);
                tool.lpszText = const_cast<wchar_t*>(L"");
                SendMessageW(v.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
            }
        }
        // Every control tells us when it gets the focus.
        const LONG_PTR own = SetWindowLongPtrW(v.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(controlProc));
        SetPropW(v.hwnd, procedureProperty, reinterpret_cast<HANDLE>(own));
        s.views.push_back(std::move(v));
    }

    // Overlapping controls paint in Z-order, top first. Labels lie under the
    // other controls, as windowless labels do, and containers under what
    // they hold, the outermost lowest.
    std::vector<std::pair<int, HWND>> containers;
    for (const View& v : s.views) {
        if (v.kind == ui::ControlKind::Label)
            SetWindowPos(v.hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (v.kind != ui::ControlKind::Frame && v.kind != ui::ControlKind::TabStrip)
            continue;
        if (const ui::Control* c = findControl(controls, v.name, v.index))
            containers.emplace_back(placementOf(controls, *c).depth, v.hwnd);
    }
    std::stable_sort(containers.begin(), containers.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [depth, hwnd] : containers)
        SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Win32WindowManager::place(Shown& s) {
    const ui::Rect& client = s.window->client;
    RECT frame{0, 0, s.pixelsX(client.width > 0 ? client.width : fallbackWidth),
               s.pixelsY(client.height > 0 ? client.height : fallbackHeight)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(s.hwnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(s.hwnd, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT around = work;
    HWND owner = GetWindow(s.hwnd, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner))
        GetWindowRect(owner, &around);
    int left = around.left + (around.right - around.left - width) / 2;
    int top = around.top + (around.bottom - around.top - height) / 2;
    left = std::max(static_cast<int>(work.left), std::min(left, static_cast<int>(work.right) - width));
    top = std::max(static_cast<int>(work.top), std::min(top, static_cast<int>(work.bottom) - height));
    SetWindowPos(s.hwnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32WindowManager::layout(Shown& s) {
    const std::vector<ui::Control>& controls = s.window->controls();
    // The controls of each container page, fitted together in pixels from
    // the container's corner.
    std::map<std::pair<std::string, int>, std::vector<std::size_t>> pages;
    std::vector<const ui::Control*> models(s.views.size(), nullptr);
    for (std::size_t i = 0; i < s.views.size(); ++i) {
        models[i] = findControl(controls, s.views[i].name, s.views[i].index);
        if (models[i] && s.views[i].hwnd)
            pages[{models[i]->container, models[i]->tab}].push_back(i);
    }
    for (const auto& [page, members] : pages) {
        const ui::Control* container = page.first.empty() ? nullptr : findControl(controls, page.first, -1);
        const ui::Rect area = container ? container->rect : s.window->client;
        std::vector<ui::Placed> boxes;
        std::vector<std::wstring> texts;
        for (const std::size_t i : members) {
            const ui::Rect& r = models[i]->rect;
            ui::Placed box{{s.pixelsX(r.left), s.pixelsY(r.top), s.pixelsX(r.width), s.pixelsY(r.height)},
                           false, models[i]->visible, 0};
            std::wstring text;
            if (s.views[i].kind == ui::ControlKind::Label && !s.views[i].caption.empty()) {
                text = s.views[i].caption;
                box.label = true;
                box.lineWidth = measureText(s.views[i].hwnd, text, 0).cx + 1;
            }
            boxes.push_back(box);
            texts.push_back(std::move(text));
        }
        ui::fitLabels(boxes, s.pixelsX(area.width), s.pixelsY(area.height), [&](std::size_t k, int width) {
            return static_cast<int>(measureText(s.views[members[k]].hwnd, texts[k], width).cy);
        });
        for (std::size_t k = 0; k < members.size(); ++k) {
            const View& v = s.views[members[k]];
            const ui::Control& c = *models[members[k]];
            const Placement at = placementOf(controls, c);
            // From where the twips put it, moved as far as the fitting did.
            const int left = s.pixelsX(at.left) + boxes[k].rect.left - s.pixelsX(c.rect.left);
            const int top = s.pixelsY(at.top) + boxes[k].rect.top - s.pixelsY(c.rect.top);
            RECT now{};
            GetWindowRect(v.hwnd, &now);
            MapWindowPoints(nullptr, s.hwnd, reinterpret_cast<POINT*>(&now), 2);
            if (now.left != left || now.top != top || now.right - now.left != boxes[k].rect.width ||
                now.bottom - now.top != boxes[k].rect.height)
                SetWindowPos(v.hwnd, nullptr, left, top, boxes[k].rect.width, boxes[k].rect.height,
                             SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
}

// The model's focus, else the first control in declaration order that takes
// it, as the tab order runs.
void Win32WindowManager::focusFirst(Shown& s) {
    HWND target = nullptr;
    if (!s.window->focus().empty())
        if (const View* v = s.find(s.window->focus(), -1))
            target = v->hwnd;
    for (const View& v : s.views) {
        if (target)
            break;
        if ((GetWindowLongPtrW(v.hwnd, GWL_STYLE) & WS_TABSTOP) && IsWindowVisible(v.hwnd) &&
            IsWindowEnabled(v.hwnd))
            target = v.hwnd;
    }
    s.focus = s.window->focus();
    if (target && IsWindowVisible(target) && IsWindowEnabled(target)) {
        ++s.quiet;
        focusOn(s.hwnd, target);
        --s.quiet;
    }
}

void Win32WindowManager::showModal(ui::Window& window) {
    std::shared_ptr<Shown> shown;
    if (const auto found = shown_.find(&window); found != shown_.end()) {
        shown = found->second;
        SetForegroundWindow(shown->hwnd);
    } else {
        if (!window.isLoaded())
            return;
        shown = create(window, true);
        if (!shown) {
            // Nothing can show it: it goes as if closed by its close box.
            window.userClose();
            return;
        }
        // The thread's other windows wait, the host's among them.
        EnumThreadWindows(GetCurrentThreadId(), collectEnabled, reinterpret_cast<LPARAM>(&shown->disabled));
        shown->disabled.erase(std::remove(shown->disabled.begin(), shown->disabled.end(), shown->hwnd),
                              shown->disabled.end());
        for (HWND other : shown->disabled)
            EnableWindow(other, FALSE);
        ShowWindow(shown->hwnd, SW_SHOW);
        focusFirst(*shown);
    }

    {
        OwnLoop loop;
        MSG message{};
        while (!shown->closed) {
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got == 0) {
                // Handed on, so that the loop it was meant for ends too.
                PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            if (got == -1)
                break;
            if (!dialogMessage(message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
    // The thread is ending: the window goes as by its close box, since the
    // caller expects it unloaded.
    if (!shown->closed)
        window.userClose();
    if (!shown->closed) {
        if (const auto found = shown_.find(&window); found != shown_.end() && found->second == shown)
            shown_.erase(found);
        destroy(*shown);
    }
}

void Win32WindowManager::showModeless(ui::Window& window) {
    if (const auto found = shown_.find(&window); found != shown_.end()) {
        HWND hwnd = found->second->hwnd;
        if (IsIconic(hwnd))
            ShowWindow(hwnd, SW_RESTORE);
        SetForegroundWindow(hwnd);
        refreshAll();
        return;
    }
    if (!window.isLoaded())
        return;
    auto shown = create(window, false);
    if (!shown)
        return;
    holdKeyboardHook();
    ShowWindow(shown->hwnd, SW_SHOW);
    focusFirst(*shown);
}

void Win32WindowManager::closed(ui::Window& window) {
    const auto found = shown_.find(&window);
    if (found == shown_.end())
        return;
    const auto shown = found->second;
    shown_.erase(found);
    destroy(*shown);
}

void Win32WindowManager::destroy(Shown& s) {
    if (s.closed)
        return;
    s.closed = true;
    // Enabled again before this one goes, so that the activation falls back
    // to the window that opened it.
    for (auto other = s.disabled.rbegin(); other != s.disabled.rend(); ++other)
        if (IsWindow(*other))
            EnableWindow(*other, TRUE);
    s.disabled.clear();
    if (s.hwnd) {
        SetWindowLongPtrW(s.hwnd, DWLP_USER, 0);
        RemovePropW(s.hwnd, windowProperty);
        DestroyWindow(s.hwnd);
        s.hwnd = nullptr;
    }
    for (View& v : s.views) {
        v.hwnd = nullptr;
        if (v.font)
            DeleteObject(v.font);
        if (v.bitmap)
            DeleteObject(v.bitmap);
        v.font = nullptr;
        v.bitmap = nullptr;
    }
    if (!s.modal)
        releaseKeyboardHook();
}

void Win32WindowManager::refreshAll() {
    std::vector<std::shared_ptr<Shown>> all;
    for (const auto& [window, shown] : shown_)
        all.push_back(shown);
    for (const auto& shown : all)
        refresh(*shown);
}

void Win32WindowManager::refresh(Shown& s, bool force) {
    ui::Window& w = *s.window;
    if (s.closed || !w.isLoaded())
        return;
    if (!force && w.revision() == s.revision)
        return;
    s.revision = w.revision();
    ++s.quiet;

    const std::wstring caption = widen(w.caption);
    if (force || caption != s.caption) {
        SetWindowTextW(s.hwnd, caption.c_str());
        s.caption = caption;
    }

    const std::vector<ui::Control>& controls = w.controls();
    bool relayout = force;
    for (View& v : s.views) {
        const ui::Control* c = findControl(controls, v.name, v.index);
        if (!c)
            continue;
        switch (v.kind) {
        case ui::ControlKind::Label:
        case ui::ControlKind::Button:
        case ui::ControlKind::Frame:
        case ui::ControlKind::CheckBox:
        case ui::ControlKind::OptionButton: {
            const std::wstring text = widen(c->caption);
            if (force || text != v.caption) {
                SetWindowTextW(v.hwnd, text.c_str());
                v.caption = text;
                relayout = relayout || v.kind == ui::ControlKind::Label;
            }
            if (v.kind == ui::ControlKind::CheckBox || v.kind == ui::ControlKind::OptionButton) {
                const bool ticked = SendMessageW(v.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
                if (ticked != c->value)
                    SendMessageW(v.hwnd, BM_SETCHECK, c->value ? BST_CHECKED : BST_UNCHECKED, 0);
            }
            break;
        }
        case ui::ControlKind::TextBox: {
            const std::wstring text = withCrLf(widen(c->caption));
            if (windowText(v.hwnd) != text)
                SetWindowTextW(v.hwnd, text.c_str());
            break;
        }
        case ui::ControlKind::ListView:
            applyRows(v, *c);
            break;
        case ui::ControlKind::TabStrip:
            if (force || c->tabs != v.tabs) {
                SendMessageW(v.hwnd, TCM_DELETEALLITEMS, 0, 0);
                for (std::size_t i = 0; i < c->tabs.size(); ++i) {
                    std::wstring text = widen(c->tabs[i]);
                    TCITEMW item{};
                    item.mask = TCIF_TEXT;
                    item.pszText = text.data();
                    SendMessageW(v.hwnd, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
                }
                v.tabs = c->tabs;
            }
            if (SendMessageW(v.hwnd, TCM_GETCURSEL, 0, 0) != c->currentTab)
                SendMessageW(v.hwnd, TCM_SETCURSEL, static_cast<WPARAM>(c->currentTab), 0);
            break;
        case ui::ControlKind::Picture:
            if (force || c->bitmap != v.bitmapId) {
                HBITMAP bitmap = bitmapFromFile(resources::bitmapResource(c->bitmap));
                SendMessageW(v.hwnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
                if (v.bitmap)
                    DeleteObject(v.bitmap);
                v.bitmap = bitmap;
                v.bitmapId = c->bitmap;
            }
            break;
        }

        const Shows shows = showsOf(controls, *c);
        if ((IsWindowEnabled(v.hwnd) != FALSE) != shows.enabled)
            EnableWindow(v.hwnd, shows.enabled);
        if (force || shows.visible != v.visible) {
            ShowWindow(v.hwnd, shows.visible ? SW_SHOWNA : SW_HIDE);
            v.visible = shows.visible;
        }
    }

    if (relayout)
        layout(s);

    if (force || w.defaultButton != s.defaultButton) {
        s.defaultButton = w.defaultButton;
        const View* button = w.defaultButton.empty() ? nullptr : s.find(w.defaultButton, -1);
        SendMessageW(s.hwnd, DM_SETDEFID, button ? static_cast<WPARAM>(button->id) : 0, 0);
    }

    if (w.focus() != s.focus) {
        s.focus = w.focus();
        if (const View* v = s.focus.empty() ? nullptr : s.find(s.focus, -1))
            if (IsWindowVisible(v->hwnd) && IsWindowEnabled(v->hwnd))
                focusOn(s.hwnd, v->hwnd);
    }
    // The focus may not stay on a control that was hidden or disabled.
    HWND focused = GetFocus();
    if (focused && IsChild(s.hwnd, focused) && (!IsWindowVisible(focused) || !IsWindowEnabled(focused)))
        SendMessageW(s.hwnd, WM_NEXTDLGCTL, 0, FALSE);

    --s.quiet;
}

void Win32WindowManager::applyRows(View& v, const ui::Control& c) {
    HWND list = v.hwnd;
    const LONG_PTR style = GetWindowLongPtrW(list, GWL_STYLE);
    if (((style & LVS_SHOWSELALWAYS) != 0) == c.hideSelection)
        SetWindowLongPtrW(list, GWL_STYLE, style ^ LVS_SHOWSELALWAYS);
    const bool same = v.rows.size() == c.rows.size() &&
                      std::equal(v.rows.begin(), v.rows.end(), c.rows.begin(), sameCells);
    if (!same) {
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            const ui::ListRow& row = c.rows[i];
            // Rows stay in the model's order: the model sorts them.
            std::wstring text = row.cells.empty() ? std::wstring() : cellText(row.cells[0]);
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(i);
            item.pszText = text.data();
            const auto at = SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            if (at < 0)
                continue;
            for (std::size_t cell = 1; cell < row.cells.size(); ++cell) {
                std::wstring sub = cellText(row.cells[cell]);
                LVITEMW subItem{};
                subItem.iSubItem = static_cast<int>(cell);
                subItem.pszText = sub.data();
                SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&subItem));
            }
        }
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
        v.rows = c.rows;
    }

    bool recolour = false;
    for (std::size_t i = 0; i < c.rows.size(); ++i) {
        const ui::ListRow& row = c.rows[i];
        if (c.checkBoxes) {
            const auto state = SendMessageW(list, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK);
            const bool ticked = ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
            if (ticked != row.checked || (state & LVIS_STATEIMAGEMASK) == 0) {
                LVITEMW item{};
                item.stateMask = LVIS_STATEIMAGEMASK;
                item.state = INDEXTOSTATEIMAGEMASK(row.checked ? 2 : 1);
                SendMessageW(list, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&item));
            }
        }
        if (!(v.rows[i].colour == row.colour)) {
            v.rows[i].colour = row.colour;
            recolour = true;
        }
        v.rows[i].checked = row.checked;
    }
    if (recolour)
        InvalidateRect(list, nullptr, FALSE);

    const int shownRow = selectedItem(list);
    const int wanted = c.selectedRow >= 0 && c.selectedRow < static_cast<int>(c.rows.size()) ? c.selectedRow : -1;
    if (shownRow != wanted) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        if (shownRow >= 0)
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(shownRow), reinterpret_cast<LPARAM>(&item));
        if (wanted >= 0) {
            item.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(wanted), reinterpret_cast<LPARAM>(&item));
            SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(wanted), FALSE);
        }
    }
}

template <class Action>
void Win32WindowManager::userEvent(Shown& s, Action action) {
    if (s.quiet || s.closed || ending_)
        return;
    const auto keep = s.shared_from_this();
    // Nothing may unwind through the system's code that called us.
    try {
        action(*s.window);
    } catch (...) {
    }
    refreshAll();
}

INT_PTR CALLBACK Win32WindowManager::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        return FALSE; // the focus is set once the controls exist
    }
    auto* shown = reinterpret_cast<Shown*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!shown || shown->closed)
        return FALSE;
    const auto keep = shown->shared_from_this();
    LRESULT result = 0;
    if (!shown->manager->onMessage(*shown, message, wParam, lParam, result))
        return FALSE;
    if (message == WM_NOTIFY && IsWindow(window))
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

LRESULT CALLBACK Win32WindowManager::controlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto own = reinterpret_cast<WNDPROC>(GetPropW(control, procedureProperty));
    if (!own)
        return DefWindowProcW(control, message, wParam, lParam);
    if (message == WM_ERASEBKGND && isContainer(control)) {
        paintInside(control, reinterpret_cast<HDC>(wParam));
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
        RemovePropW(control, procedureProperty);
        return CallWindowProcW(own, control, message, wParam, lParam);
    }
    const LRESULT result = CallWindowProcW(own, control, message, wParam, lParam);
    if (message != WM_SETFOCUS && message != WM_MOUSEMOVE)
        return result;
    HWND dialog = GetParent(control);
    if (!dialog || !GetPropW(dialog, windowProperty))
        return result;
    auto* shown = reinterpret_cast<Shown*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!shown || shown->closed)
        return result;
    if (message == WM_SETFOCUS)
        shown->manager->onFocus(*shown, control, reinterpret_cast<HWND>(wParam));
    else if (View* v = shown->byHandle(control); v && v->tooltip)
        showCellTip(*v, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
    return result;
}

bool Win32WindowManager::onMessage(Shown& s, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_COMMAND:
        onCommand(s, LOWORD(wParam), HIWORD(wParam));
        return true;
    case WM_NOTIFY:
        return onNotify(s, *reinterpret_cast<const NMHDR*>(lParam), result);
    case WM_CLOSE:
        userEvent(s, [](ui::Window& w) { w.userClose(); });
        return true;
    case WM_DESTROY:
        // The owner went (the explorer closed) and took this window along:
        // the form unloads instead of keeping a dead handle.
        s.hwnd = nullptr;
        userEvent(s, [](ui::Window& w) { w.unload(); });
        return false;
    default:
        return false;
    }
}

void Win32WindowManager::onCommand(Shown& s, int id, int code) {
    if (id == IDCANCEL) {
        userEvent(s, [](ui::Window& w) { w.userCancel(); });
        return;
    }
    if (id == IDOK) {
        userEvent(s, [](ui::Window& w) { w.userDefault(); });
        return;
    }
    const View* v = s.byId(id);
    if (!v || s.quiet)
        return;
    const std::string name = v->name;
    const int index = v->index;
    switch (v->kind) {
    case ui::ControlKind::Button:
    case ui::ControlKind::CheckBox:
    case ui::ControlKind::OptionButton:
    case ui::ControlKind::Label:
    case ui::ControlKind::Picture:
        // BN_CLICKED and STN_CLICKED are both 0.
        if (code == BN_CLICKED)
            userEvent(s, [&](ui::Window& w) { w.userClick(name, index); });
        break;
    case ui::ControlKind::TextBox:
        if (code == EN_CHANGE) {
            const std::string text = narrow(windowText(v->hwnd));
            userEvent(s, [&](ui::Window& w) { w.userType(name, text); });
        }
        break;
    default:
        break;
    }
}

bool Win32WindowManager::onNotify(Shown& s, const NMHDR& header, LRESULT& result) {
    View* v = s.byHandle(header.hwndFrom);
    if (!v)
        return false;
    const std::string name = v->name;
    if (v->kind == ui::ControlKind::ListView) {
        switch (header.code) {
        case NM_CUSTOMDRAW: {
            auto& draw = const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
            result = CDRF_DODEFAULT;
            if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
                result = CDRF_NOTIFYITEMDRAW;
            } else if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
                // Black rows and the selected row keep the system's colours,
                // so that the selection stays readable.
                const std::size_t row = draw.nmcd.dwItemSpec;
                const bool selected = SendMessageW(header.hwndFrom, LVM_GETITEMSTATE, row, LVIS_SELECTED) != 0;
                if (row < v->rows.size() && !(v->rows[row].colour == ui::black) && !selected) {
                    const ui::Colour& colour = v->rows[row].colour;
                    draw.clrText = RGB(colour.red, colour.green, colour.blue);
                    result = CDRF_NEWFONT;
                }
            }
            return true;
        }
        case LVN_ITEMCHANGED: {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if (s.quiet || change.iItem < 0 || !(change.uChanged & LVIF_STATE))
                return true;
            const UINT changed = change.uNewState ^ change.uOldState;
            const UINT before = (change.uOldState & LVIS_STATEIMAGEMASK) >> 12;
            const UINT after = (change.uNewState & LVIS_STATEIMAGEMASK) >> 12;
            // Image 0: the row is being set up, not ticked.
            if ((changed & LVIS_STATEIMAGEMASK) && before != 0 && after != 0) {
                const int row = change.iItem;
                userEvent(s, [&](ui::Window& w) { w.userCheckRow(name, row, after == 2); });
            }
            if (changed & LVIS_SELECTED) {
                // The list keeps its selection as the user moves it; the
                // form hears of a click only (NM_CLICK).
                const int row = selectedItem(header.hwndFrom);
                userEvent(s, [&](ui::Window& w) {
                    ui::Control& list = w.control(name);
                    if (list.selectedRow != row) {
                        list.selectedRow = row;
                        w.touch();
                    }
                });
            }
            return true;
        }
        case NM_CLICK: {
            const int row = selectedItem(header.hwndFrom);
            userEvent(s, [&](ui::Window& w) { w.userSelectRow(name, row); });
            return true;
        }
        case NM_DBLCLK:
            userEvent(s, [&](ui::Window& w) { w.userDoubleClick(name); });
            return true;
        default:
            return false;
        }
    }
    if (v->kind == ui::ControlKind::TabStrip) {
        switch (header.code) {
        case TCN_SELCHANGE: {
            const int tab = static_cast<int>(SendMessageW(header.hwndFrom, TCM_GETCURSEL, 0, 0));
            userEvent(s, [&](ui::Window& w) { w.userSelectTab(name, tab); });
            return true;
        }
        case NM_CLICK:
            // A click on the tab already shown still gives the strip the focus.
            userEvent(s, [&](ui::Window& w) {
                if (w.focus() != name)
                    w.userFocus(name);
            });
            return true;
        default:
            return false;
        }
    }
    return false;
}

void Win32WindowManager::onFocus(Shown& s, HWND control, HWND previous) {
    // Only moves inside the window: its activation gives the focus back to
    // the control that had it, which is no new event.
    if (s.quiet || s.closed || !previous || !IsChild(s.hwnd, previous))
        return;
    const View* v = s.byHandle(control);
    if (!v || v->index != -1)
        return;
    const std::string name = v->name;
    s.focus = name;
    userEvent(s, [&](ui::Window& w) { w.userFocus(name); });
}

} // namespace skerrow::win32
