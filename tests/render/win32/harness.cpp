#include "tests/render/win32/harness.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace skerrow::test {

namespace {

constexpr UINT tickMilliseconds = 25;
// A modal window still open this long after its last step is a failure.
constexpr int idleTicksAllowed = 160;

Script* playing = nullptr;

// Message boxes and file dialogs share the dialog class with the
// renderer's windows, which carry the renderer's mark.
BOOL CALLBACK findForeign(HWND window, LPARAM lParam) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (IsWindowVisible(window) && std::wstring(name) == L"#32770" && !GetPropW(window, L"Skerrow.Window")) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

struct BoxParts {
    std::wstring message;
    bool icon = false;
};

BOOL CALLBACK findBoxParts(HWND child, LPARAM lParam) {
    auto* parts = reinterpret_cast<BoxParts*>(lParam);
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    if (!IsWindowVisible(child) || _wcsicmp(name, L"Static") != 0)
        return TRUE;
    const auto style = GetWindowLongPtrW(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON) {
        if (SendMessageW(child, STM_GETICON, 0, 0))
            parts->icon = true;
    } else if (parts->message.empty()) {
        parts->message = text(child);
    }
    return TRUE;
}

struct TipSearch {
    HWND list;
    std::wstring text;
    bool found = false;
};

BOOL CALLBACK findTip(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<TipSearch*>(lParam);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (lstrcmpiW(name, TOOLTIPS_CLASSW) != 0)
        return TRUE;
    wchar_t text[256] = {};
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = search->list;
    tool.uId = 1;
    if (!SendMessageW(window, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)))
        return TRUE;
    tool.lpszText = text;
    SendMessageW(window, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
    search->text = text;
    search->found = true;
    return FALSE;
}

POINT rowPoint(HWND list, int row) {
    RECT r{};
    r.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

} // namespace

void pump(int milliseconds) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    } while (static_cast<int>(until - GetTickCount()) > 0);
}

Script& Script::then(std::function<void()> step) {
    steps_.push_back({std::move(step), false});
    return *this;
}

Script& Script::opening(std::function<void()> step) {
    steps_.push_back({std::move(step), true});
    return *this;
}

void CALLBACK Script::tick(HWND, UINT, UINT_PTR, DWORD) {
    Script* script = playing;
    // A step that pumps messages (a capture does) must not let the next
    // one in, unless it waits for a window it opened.
    if (!script || script->running_ > script->waiting_)
        return;
    if (script->steps_.empty()) {
        if (++script->idleTicks_ > idleTicksAllowed) {
            if (!script->overdue_)
                ADD_FAILURE() << "a window stayed open after the last step";
            script->overdue_ = true;
            if (HWND box = foreignDialog())
                PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
            else if (HWND active = GetActiveWindow())
                PostMessageW(active, WM_CLOSE, 0, 0);
        }
        return;
    }
    const Step step = std::move(script->steps_.front());
    script->steps_.pop_front();
    script->idleTicks_ = 0;
    ++script->running_;
    if (step.opens)
        ++script->waiting_;
    step.run();
    if (step.opens)
        --script->waiting_;
    --script->running_;
}

void Script::play(const std::function<void()>& open) {
    playing = this;
    const UINT_PTR timer = SetTimer(nullptr, 0, tickMilliseconds, tick);
    open();
    KillTimer(nullptr, timer);
    playing = nullptr;
    if (!steps_.empty())
        ADD_FAILURE() << steps_.size() << " steps left when the window closed";
}

std::wstring text(HWND window) {
    wchar_t buffer[4096] = {};
    GetWindowTextW(window, buffer, 4096);
    return buffer;
}

bool enabled(HWND window) {
    return IsWindowEnabled(window) != FALSE;
}

bool visible(HWND window) {
    return IsWindowVisible(window) != FALSE;
}

unsigned buttonType(HWND button) {
    return static_cast<unsigned>(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK);
}

void click(HWND button) {
    SendMessageW(button, BM_CLICK, 0, 0);
}

void typeInto(HWND edit, const std::wstring& text) {
    SetFocus(edit);
    for (const wchar_t c : text)
        SendMessageW(edit, WM_CHAR, c, 1);
}

void pressKey(HWND window, UINT key) {
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

void clickTab(HWND tabs, int tab) {
    RECT r{};
    SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(tab), reinterpret_cast<LPARAM>(&r));
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(tabs, WM_LBUTTONUP, 0, at);
}

int rowCount(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring cell(HWND list, int row, int column) {
    wchar_t buffer[1024] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 1024;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

std::vector<std::wstring> column(HWND list, int index) {
    std::vector<std::wstring> texts;
    for (int row = 0; row < rowCount(list); ++row)
        texts.push_back(cell(list, row, index));
    return texts;
}

bool ticked(HWND list, int row) {
    const auto state = SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK);
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void tickRow(HWND list, int row, bool on) {
    ListView_SetCheckState(list, row, on ? TRUE : FALSE);
}

int selectedRow(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void hoverCell(HWND list, int row, int column) {
    RECT r{};
    r.top = column;
    r.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
}

std::wstring cellTip(HWND list) {
    TipSearch search{list, {}};
    EnumThreadWindows(GetCurrentThreadId(), findTip, reinterpret_cast<LPARAM>(&search));
    return search.found ? search.text : L"(no tool tip)";
}

void clickRow(HWND list, int row) {
    const POINT p = rowPoint(list, row);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    SendMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
}

void doubleClickRow(HWND list, int row) {
    const POINT p = rowPoint(list, row);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    SendMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    SendMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
}

HWND foreignDialog() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findForeign, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring boxMessage(HWND box) {
    BoxParts parts;
    EnumChildWindows(box, findBoxParts, reinterpret_cast<LPARAM>(&parts));
    return parts.message;
}

bool boxHasIcon(HWND box) {
    BoxParts parts;
    EnumChildWindows(box, findBoxParts, reinterpret_cast<LPARAM>(&parts));
    return parts.icon;
}

void pressBoxButton(HWND box, int id) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

COLORREF Capture::pixel(int screenX, int screenY) const {
    const int x = screenX - left;
    const int y = screenY - top;
    if (x < 0 || y < 0 || x >= width || y >= height)
        return CLR_INVALID;
    const int stride = (width * 3 + 3) / 4 * 4;
    const unsigned char* p = bgr.data() + static_cast<std::size_t>(height - 1 - y) * stride + x * 3;
    return RGB(p[2], p[1], p[0]);
}

int Capture::count(const RECT& screen, COLORREF colour, int tolerance) const {
    int found = 0;
    for (int y = screen.top; y < screen.bottom; ++y) {
        for (int x = screen.left; x < screen.right; ++x) {
            const COLORREF p = pixel(x, y);
            if (p == CLR_INVALID)
                continue;
            if (std::abs(GetRValue(p) - GetRValue(colour)) <= tolerance &&
                std::abs(GetGValue(p) - GetGValue(colour)) <= tolerance &&
                std::abs(GetBValue(p) - GetBValue(colour)) <= tolerance)
                ++found;
        }
    }
    return found;
}

Capture capture(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pump(300);
    Capture c;
    RECT r{};
    GetWindowRect(window, &r);
    c.left = r.left;
    c.top = r.top;
    c.width = r.right - r.left;
    c.height = r.bottom - r.top;
    if (c.width <= 0 || c.height <= 0)
        return c;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, c.width, c.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, c.width, c.height, screen, c.left, c.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = c.width;
    info.bmiHeader.biHeight = c.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const int stride = (c.width * 3 + 3) / 4 * 4;
    c.bgr.assign(static_cast<std::size_t>(stride) * c.height, 0);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(c.height), c.bgr.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return c;
}

} // namespace skerrow::test
