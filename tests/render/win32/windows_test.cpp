// The add-in's windows drawn by the Win32 renderer over the in-memory mail
// client, played through real window messages: the controls must show the
// model, and what the user does to them must reach the model.
#include "addin/forms.h"
#include "filter/addfilter.h"
#include "options/options.h"
#include "render/win32/win32_renderer.h"
#include "render/win32/win32_text.h"
#include "review/about.h"
#include "review/checkspamfrm.h"
#include "review/mailbody.h"
#include "tests/support/win32_messages.h"
#include "tests/support/world.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <windowsx.h>

#include <deque>
#include <functional>
#include <utility>

namespace skerrow::test {
namespace {

// ---- The hands that play the user: real window messages to real controls ----

BOOL CALLBACK collect(HWND window, LPARAM found) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

// The windows of this thread, or a window's children.
std::vector<HWND> threadWindows() {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> children(HWND window) {
    std::vector<HWND> found;
    EnumChildWindows(window, collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// A visible dialog of the thread that is not ours: a message box, a file
// dialog (they share the dialog class with the renderer's windows, which
// carry the renderer's mark). Null when there is none.
HWND foreignDialog() {
    for (HWND window : threadWindows())
        if (IsWindowVisible(window) && className(window) == L"#32770" && !GetPropW(window, L"Skerrow.Window"))
            return window;
    return nullptr;
}

// Steps that run one per timer tick inside whatever message loop is running,
// so that they can act while a modal window waits for the user. A step runs
// to its end before the next one starts; a step that opens a modal window
// (a message box, a file dialog) plays a script of its own for it.
class Script {
public:
    Script& then(std::function<void()> step) {
        steps_.push_back(std::move(step));
        return *this;
    }
    // Calls open, which returns once its window has closed; fails the test
    // when steps are left over or the window outlived them.
    void play(const std::function<void()>& open) {
        Script* outer = std::exchange(playing, this);
        const UINT_PTR timer = SetTimer(nullptr, 0, 25, tick);
        open();
        KillTimer(nullptr, timer);
        playing = outer;
        EXPECT_TRUE(steps_.empty()) << steps_.size() << " steps left when the window closed";
    }

private:
    static inline Script* playing = nullptr;
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        Script* script = playing;
        // A step that pumps messages must not let the next one in.
        if (!script || script->running_)
            return;
        if (script->steps_.empty()) {
            // A modal window still open this long after its last step is a failure.
            if (++script->idleTicks_ > 160) {
                ADD_FAILURE() << "a window stayed open after the last step";
                script->idleTicks_ = 0;
                if (HWND box = foreignDialog())
                    PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
                else if (HWND active = GetActiveWindow())
                    PostMessageW(active, WM_CLOSE, 0, 0);
            }
            return;
        }
        const auto step = std::move(script->steps_.front());
        script->steps_.pop_front();
        script->idleTicks_ = 0;
        script->running_ = true;
        step();
        script->running_ = false;
    }
    std::deque<std::function<void()>> steps_;
    bool running_ = false;
    int idleTicks_ = 0;
};

std::wstring text(HWND window) {
    wchar_t buffer[4096] = {};
    GetWindowTextW(window, buffer, 4096);
    return buffer;
}

// The window style's BS_ type: BS_DEFPUSHBUTTON for the default button.
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

// Posted, so that the running loop takes it through the dialog manager.
void pressKey(HWND window, UINT key) {
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

void clickAt(HWND window, RECT r, bool twice = false) {
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    for (int i = 0; i <= int{twice}; ++i) {
        SendMessageW(window, i ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(window, WM_LBUTTONUP, 0, at);
    }
}

void clickRow(HWND list, int row, bool twice = false) {
    RECT r{LVIR_LABEL};
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    clickAt(list, r, twice);
}

std::wstring cell(HWND list, int row, int column) {
    wchar_t buffer[1024] = {};
    ListView_GetItemText(list, row, column, buffer, 1024);
    return buffer;
}

std::vector<std::wstring> column(HWND list, int index) {
    std::vector<std::wstring> texts;
    for (int row = 0; row < ListView_GetItemCount(list); ++row)
        texts.push_back(cell(list, row, index));
    return texts;
}

bool ticked(HWND list, int row) {
    return ListView_GetCheckState(list, row) == 1;
}

// The mouse over a cell; then the text of the list's own tool tip, which
// the renderer put there (empty: none).
std::wstring tipOver(HWND list, int row, int column) {
    RECT r{LVIR_LABEL, column};
    SendMessageW(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    wchar_t tip[256] = L"(no tool tip)";
    TOOLINFOW tool{TTTOOLINFOW_V2_SIZE, 0, list, 1};
    for (HWND window : threadWindows()) {
        // Asked for the tool with no buffer, so that a callback text cannot replace it.
        if (lstrcmpiW(className(window).c_str(), TOOLTIPS_CLASSW) == 0 &&
            SendMessageW(window, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) {
            tool.lpszText = tip;
            SendMessageW(window, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
            break;
        }
    }
    return tip;
}

struct BoxParts {
    std::wstring message;
    bool icon = false;
};

// The message text of a message box, and whether it shows an icon.
BoxParts boxParts(HWND box) {
    BoxParts parts;
    for (HWND child : children(box)) {
        if (!IsWindowVisible(child) || _wcsicmp(className(child).c_str(), L"Static") != 0)
            continue;
        if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            parts.icon = parts.icon || SendMessageW(child, STM_GETICON, 0, 0);
        else if (parts.message.empty())
            parts.message = text(child);
    }
    return parts;
}

void pressBoxButton(HWND box, int id) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

// How many pixels of a row of the list are drawn close to pure red.
int redPixels(HWND window, HWND list, int row) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pump(300);
    RECT r{LVIR_BOUNDS};
    SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    HDC dc = GetDC(list);
    int red = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            const COLORREF pixel = GetPixel(dc, x, y);
            red += GetRValue(pixel) >= 195 && GetGValue(pixel) <= 60 && GetBValue(pixel) <= 60;
        }
    }
    ReleaseDC(list, dc);
    return red;
}

using Texts = std::vector<std::string>;
using Wide = std::vector<std::wstring>;

constexpr int comboFileType = 0x470;   // cmb1 of the common file dialogs
constexpr int comboFileName = 0x47c;   // cmb13
constexpr int editFileName = 0x480;    // edt1

struct Scene : Wiring<win32::Win32Dialogs, win32::Win32WindowManager> {
    // With bare line feeds in the body, which the text box must show as lines.
    std::shared_ptr<memory::MemoryMailItem> mail(const std::string& sender, const std::string& subject) {
        auto made = unreadMail(host, sender, subject);
        made->spec().body = "Dear John,\nsome text.\n";
        return made;
    }

    // As the Check Spam procedure opens it.
    CheckSpamFrm& openCheckSpam() {
        CheckSpamFrm& form = v.forms().checkSpamFrm();
        form.checkFolder = host.inbox();
        form.checkApplication = host.application();
        form.showModeless();
        pump();
        return form;
    }

    HWND window(const ui::Window& form) const { return windows.windowHandle(form); }
    HWND control(const ui::Window& form, const std::string& name, int index = -1) const {
        return windows.controlHandle(form, name, index);
    }
};

// Every label shown on the window shows its whole caption (in its own font,
// broken at words within its width) and lies over no control beside it;
// frames and tab strips hold controls and do not count.
void checkLabelsFit(HWND window) {
    const std::vector<HWND> controls = children(window);
    for (HWND label : controls) {
        const std::wstring caption = text(label);
        if (className(label) != L"Static" || !IsWindowVisible(label) || caption.empty())
            continue;
        RECT box{};
        GetClientRect(label, &box);
        HDC dc = GetDC(label);
        SelectObject(dc, GetWindowFont(label));
        RECT needed{0, 0, box.right, 0};
        DrawTextW(dc, caption.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        ReleaseDC(label, dc);
        if (needed.bottom > box.bottom || needed.right > box.right)
            ADD_FAILURE() << win32::narrow(caption) << " is cut off";
        RECT mine{};
        GetWindowRect(label, &mine);
        for (HWND other : controls) {
            const bool holder = className(other) == L"SysTabControl32" ||
                                (className(other) == L"Button" && buttonType(other) == BS_GROUPBOX);
            RECT theirs{};
            RECT both{};
            GetWindowRect(other, &theirs);
            if (other != label && GetParent(other) == window && IsWindowVisible(other) && !holder &&
                IntersectRect(&both, &mine, &theirs))
                ADD_FAILURE() << win32::narrow(caption) << " lies over " << win32::narrow(text(other));
        }
    }
}

// ---- The Check Spam window ----

TEST(Win32Windows, checkSpamListShowsTheModelsRowsAndTickingReddensEveryRowOfItsSenderAndSelectAllTicksThemAll) {
    Scene s;
    s.mail("zed@spam.example", "first offer");
    s.mail("amy@bulk.example", "Grüße aus Köln");
    s.mail("zed@spam.example", "second offer");
    s.mail("bob@bulk.example", "a loan");
    CheckSpamFrm& form = s.openCheckSpam();
    HWND window = s.window(form);
    HWND list = s.control(form, "ListView1");
    EXPECT_EQ(column(list, 1),
              (Wide{L"amy@bulk.example", L"bob@bulk.example", L"zed@spam.example", L"zed@spam.example"}));
    EXPECT_EQ(cell(list, 0, 0), std::wstring(L"Gr\u00fc\u00dfe aus K\u00f6ln"));
    EXPECT_EQ(tipOver(list, 1, 1), std::wstring(L"Sender address"));
    EXPECT_EQ(tipOver(list, 0, 2), std::wstring(L"Received time"));
    EXPECT_EQ(tipOver(list, 0, 0), std::wstring());
    EXPECT_TRUE(SendMessageW(s.control(form, "Picture1"), STM_GETIMAGE, IMAGE_BITMAP, 0) != 0);
    EXPECT_TRUE(!ticked(list, 0) && !ticked(list, 2));

    ListView_SetCheckState(list, 0, TRUE); // amy, then zed: only zed's rows stay red
    ListView_SetCheckState(list, 3, TRUE);
    pump();
    EXPECT_TRUE(ticked(list, 0) && !ticked(list, 1) && ticked(list, 2) && ticked(list, 3));
    EXPECT_TRUE(redPixels(window, list, 2) > 20 && redPixels(window, list, 3) > 20);
    EXPECT_EQ(redPixels(window, list, 0), 0);

    ListView_SetCheckState(list, 2, FALSE);
    pump();
    EXPECT_TRUE(!ticked(list, 2) && !ticked(list, 3) && ticked(list, 0));
    EXPECT_EQ(redPixels(window, list, 3), 0);

    // The Select All box's click reaches the form, which renames and ticks it.
    HWND box = s.control(form, "Check2");
    click(box);
    EXPECT_TRUE(ticked(list, 1) && ticked(list, 2));
    EXPECT_EQ(text(box), std::wstring(L"Select None"));
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    click(s.control(form, "Command4"));
    EXPECT_TRUE(!IsWindow(window));
    EXPECT_TRUE(!form.isLoaded());
}

// Escape closes the viewer, then the modeless review window through the
// keyboard hook.
TEST(Win32Windows, doubleClickShowsTheMailModallyWhileTheReviewWindowWaitsAndEscapeClosesEach) {
    Scene s;
    s.mail("amy@bulk.example", "cheap pills");
    s.v.newMailPending = true;
    CheckSpamFrm& form = s.openCheckSpam();
    HWND review = s.window(form);
    HWND list = s.control(form, "ListView1");
    EXPECT_EQ(GetFocus(), list);
    mailbody& viewer = s.v.forms().mailBodyViewer();
    Script script;
    script.then([&] {
        EXPECT_EQ(text(s.control(viewer, "Text1")), std::wstring(L"Dear John,\r\nsome text.\r\n"));
        // Read from its start, not selected whole as a dialog selects an edit.
        DWORD from = 1;
        DWORD to = 1;
        SendMessageW(s.control(viewer, "Text1"), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                     reinterpret_cast<LPARAM>(&to));
        EXPECT_TRUE(from == 0 && to == 0);
        EXPECT_TRUE(!IsWindowEnabled(review));
        pressKey(GetFocus(), VK_ESCAPE);
    });
    script.play([&] { clickRow(list, 0, true); });
    EXPECT_TRUE(!viewer.isLoaded());
    EXPECT_TRUE(IsWindowEnabled(review));
    pressKey(list, VK_ESCAPE);
    pump(200);
    EXPECT_TRUE(!form.isLoaded());
    EXPECT_TRUE(!s.v.newMailPending);
}

// ---- The options window ----

// A refused Add shows its box, then focuses the emptied text box.
TEST(Win32Windows, optionsTabsShowTheirOwnControlsAndAddThenDeleteKeepListsInStep) {
    Scene s;
    s.v.friendemail = {"pal@home.example", hiddenFriendEmail};
    s.v.frienddomain = {"*@friends.example"};
    s.v.enemydomain = {"*@bulk.example"};
    Options& form = s.v.forms().optionsWindow();
    const auto h = [&](const std::string& name, int index = -1) { return s.control(form, name, index); };
    const auto shown = [&](const std::string& name, int index = -1) { return IsWindowVisible(h(name, index)) != 0; };
    Script script;
    script
        .then([&] {
            EXPECT_TRUE(shown("Frame1") && shown("Command3") && shown("Label2"));
            EXPECT_TRUE(!shown("Frame3") && !shown("ListView1") && !shown("Option1", 0));
            EXPECT_TRUE(!IsWindowEnabled(h("Command9")) && !IsWindowEnabled(h("Command8")));
            EXPECT_EQ(text(h("Label1")), std::wstring(L"Backup Friends List && Blacklist Settings to a File."));
            checkLabelsFit(s.window(form));
            RECT tab{};
            TabCtrl_GetItemRect(h("SSTab1"), 1, &tab);
            clickAt(h("SSTab1"), tab);
            EXPECT_EQ(form.control("SSTab1").currentTab, 1);
            EXPECT_TRUE(!shown("Frame1") && !shown("Command3"));
            EXPECT_TRUE(shown("Frame3") && shown("ListView1") && shown("Option1", 3));
            EXPECT_EQ(column(h("ListView1"), 0), (Wide{L"pal@home.example", L"*@friends.example"}));
            EXPECT_EQ(column(h("ListView2"), 0), (Wide{L"*@bulk.example"}));
            EXPECT_TRUE(SendMessageW(h("Option1", 0), BM_GETCHECK, 0, 0) == BST_CHECKED);
            checkLabelsFit(s.window(form));
        })
        .then([&] {
            typeInto(h("Text1"), L"no-at-sign");
            Script answer;
            answer.then([&] {
                HWND box = foreignDialog();
                EXPECT_TRUE(!IsWindowEnabled(s.window(form)));
                pressBoxButton(box, IDOK);
            });
            answer.play([&] { click(h("Command7")); });
        })
        .then([&] {
            EXPECT_EQ(text(h("Text1")), std::wstring());
            EXPECT_EQ(GetFocus(), h("Text1"));
            click(h("Option1", 2));
            EXPECT_TRUE(SendMessageW(h("Option1", 0), BM_GETCHECK, 0, 0) == BST_UNCHECKED);
            typeInto(h("Text1"), L"spam@junk.example");
            click(h("Command7"));
            EXPECT_EQ(column(h("ListView2"), 0), (Wide{L"spam@junk.example", L"*@bulk.example"}));
            EXPECT_TRUE(IsWindowEnabled(h("Command9")));
        })
        .then([&] {
            clickRow(h("ListView2"), 0);
            click(h("Command8"));
            EXPECT_EQ(column(h("ListView2"), 0), (Wide{L"*@bulk.example"}));
            EXPECT_EQ(ListView_GetNextItem(h("ListView2"), -1, LVNI_SELECTED), -1);
        })
        .then([&] { SendMessageW(s.window(form), WM_SYSCOMMAND, SC_CLOSE, 0); });
    script.play([&] { form.showModal(); });
    EXPECT_TRUE(!form.isLoaded());
}

// The save dialog offers the filter as the system writes it and gives the
// name typed back in UTF-8; a cancelled open dialog gives nothing.
TEST(Win32Windows, fileDialogsOfferTheFilterAndGiveTheNameTypedOrNothing) {
    Scene s;
    const std::string chosen = "C:\\skerrow-backup-\xc3\xa9t\xc3\xa9.flt";
    std::optional<std::string> saved;
    Script save;
    save.then([&] {
        HWND dialog = foreignDialog();
        ASSERT_TRUE(dialog);
        wchar_t type[256] = {};
        SendDlgItemMessageW(dialog, comboFileType, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(type));
        EXPECT_EQ(std::wstring(type), std::wstring(L"anti filter(*.flt)"));
        EXPECT_EQ(static_cast<int>(SendDlgItemMessageW(dialog, comboFileType, CB_GETCOUNT, 0, 0)), 1);
        const int nameBox = GetDlgItem(dialog, comboFileName) ? comboFileName : editFileName;
        SetDlgItemTextW(dialog, nameBox, win32::widen(chosen).c_str());
        pressBoxButton(dialog, IDOK);
    });
    save.play([&] { saved = s.dialogs.saveFile("anti filter(*.flt)|*.flt"); });
    EXPECT_EQ(saved, chosen);

    std::optional<std::string> opened = "not asked";
    Script open;
    open.then([&] { pressBoxButton(foreignDialog(), IDCANCEL); });
    open.play([&] { opened = s.dialogs.openFile("anti filter(*.flt)|*.flt"); });
    EXPECT_FALSE(opened);
}

// ---- The entry dialog ----

TEST(Win32Windows, entryDialogOkStaysDisabledAndCancelDefaultUntilTextIsTypedThenEnterConfirms) {
    Scene s;
    addFilter& dialog = s.v.forms().addFilterDialog();
    dialog.AddFilterObjectName = enemydomainKey;
    const auto h = [&](const std::string& name) { return s.control(dialog, name); };
    Script script;
    script.then([&] {
        EXPECT_EQ(GetFocus(), h("Text1"));
        EXPECT_TRUE(!IsWindowEnabled(h("Command1")));
        EXPECT_EQ(buttonType(h("Command2")), static_cast<unsigned>(BS_DEFPUSHBUTTON));
        typeInto(h("Text1"), L"x");
        EXPECT_TRUE(IsWindowEnabled(h("Command1")));
        EXPECT_EQ(buttonType(h("Command1")), static_cast<unsigned>(BS_DEFPUSHBUTTON));
        EXPECT_EQ(buttonType(h("Command2")), static_cast<unsigned>(BS_PUSHBUTTON));
        typeInto(h("Text1"), L"\bbulk.example");
        pressKey(h("Text1"), VK_RETURN);
    });
    script.play([&] { dialog.showModal(); });
    EXPECT_TRUE(!dialog.isLoaded());
    EXPECT_EQ(s.v.enemydomain.entries(), (Texts{"*@bulk.example"}));
}

// ---- The about box ----

TEST(Win32Windows, aboutBoxLinksLeaveItOpenAndItsTitleIsBoldAndLarger) {
    Scene s;
    about& box = s.v.forms().aboutBox();
    Script script;
    script.then([&] {
        LOGFONTW title{};
        LOGFONTW line{};
        GetObjectW(GetWindowFont(s.control(box, "Label4")), sizeof title, &title);
        GetObjectW(GetWindowFont(s.control(box, "Label5")), sizeof line, &line);
        EXPECT_TRUE(title.lfWeight >= FW_BOLD);
        EXPECT_TRUE(std::abs(title.lfHeight) > std::abs(line.lfHeight));
        clickAt(s.control(box, "Picture2"), RECT{0, 0, 4, 4});
        click(s.control(box, "Command3"));
        EXPECT_EQ(s.platform.opened, (Texts{homePageAddress, supportPageAddress}));
        EXPECT_TRUE(IsWindow(s.window(box)));
        click(s.control(box, "Command1"));
    });
    script.play([&] { box.showModal(); });
    EXPECT_TRUE(!box.isLoaded());
}

// ---- Message boxes ----

TEST(Win32Windows, messageBoxesCarryTitleTextAndIconAndAnswerWithTheButtonPressed) {
    struct Case {
        ui::Buttons buttons;
        ui::Icon icon;
        int press;
        ui::Answer answer;
    };
    const Case cases[] = {
        {ui::Buttons::OK, ui::Icon::None, IDOK, ui::Answer::OK},
        {ui::Buttons::OKCancel, ui::Icon::Critical, IDCANCEL, ui::Answer::Cancel},
        {ui::Buttons::YesNo, ui::Icon::Question, IDNO, ui::Answer::No},
        {ui::Buttons::YesNoCancel, ui::Icon::Exclamation, IDYES, ui::Answer::Yes},
        {ui::Buttons::OK, ui::Icon::Information, IDOK, ui::Answer::OK},
    };
    Scene s;
    for (const Case& c : cases) {
        ui::Answer answer = c.answer == ui::Answer::OK ? ui::Answer::Cancel : ui::Answer::OK;
        Script script;
        script.then([&] {
            HWND box = foreignDialog();
            EXPECT_EQ(text(box), std::wstring(L" R\u00e9sum\u00e9 "));
            EXPECT_EQ(boxParts(box).message, std::wstring(L"Caf\u00e9 && more"));
            EXPECT_EQ(boxParts(box).icon, c.icon != ui::Icon::None);
            EXPECT_TRUE(GetDlgItem(box, c.press));
            pressBoxButton(box, c.press);
        });
        script.play([&] { answer = s.dialogs.messageBox("Caf\xc3\xa9 && more", c.buttons, c.icon, " R\xc3\xa9sum\xc3\xa9 "); });
        EXPECT_TRUE(answer == c.answer);
    }
}

} // namespace
} // namespace skerrow::test
