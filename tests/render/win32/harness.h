// The hands that play the user for the Win32 renderer's tests: real window
// messages to real controls, a script of steps that runs inside a modal
// window's own message loop, and screen captures.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace skerrow::test {

// Dispatches what is queued (the keyboard hook sees it on the way) for about
// the given time.
void pump(int milliseconds = 50);

// Steps that run one per timer tick inside whatever message loop is running,
// so that they can act while a modal window waits for the user. A step runs
// to its end before the next one starts, unless it is marked as opening a
// modal window (a message box, a file dialog): the steps after it then run
// inside that window's loop, while the opening step waits.
class Script {
public:
    Script& then(std::function<void()> step);
    Script& opening(std::function<void()> step);
    // Calls open, which returns once its window has closed; fails the test
    // when steps are left over or the window outlived them.
    void play(const std::function<void()>& open);

private:
    struct Step {
        std::function<void()> run;
        bool opens = false;
    };
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    std::deque<Step> steps_;
    int running_ = 0; // steps under way, nested
    int waiting_ = 0; // of them, those waiting for the window they opened
    int idleTicks_ = 0;
    bool overdue_ = false;
};

std::wstring text(HWND window);
bool enabled(HWND window);
bool visible(HWND window);
// The window style's BS_ type: BS_DEFPUSHBUTTON for the default button.
unsigned buttonType(HWND button);

// The user at the controls.
void click(HWND button);
void typeInto(HWND edit, const std::wstring& text);
// Posted, so that the running loop takes it through the dialog manager.
void pressKey(HWND window, UINT key);
void clickTab(HWND tabs, int tab);

// List views.
int rowCount(HWND list);
std::wstring cell(HWND list, int row, int column);
std::vector<std::wstring> column(HWND list, int column);
bool ticked(HWND list, int row);
// The "user" ticks a box, as a click on it would.
void tickRow(HWND list, int row, bool on);
int selectedRow(HWND list);
// The mouse over a cell; then the text of the list's own tool tip, which
// the renderer put there (empty: none).
void hoverCell(HWND list, int row, int column);
std::wstring cellTip(HWND list);
void clickRow(HWND list, int row);
void doubleClickRow(HWND list, int row);

// A visible dialog of the thread that is not ours: a message box, a file
// dialog. Null when there is none.
HWND foreignDialog();
// The message text of a message box, and whether it shows an icon.
std::wstring boxMessage(HWND box);
bool boxHasIcon(HWND box);
void pressBoxButton(HWND box, int id);

// A copy of what the screen shows of a window, for its pixels.
struct Capture {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bgr; // bottom-up rows of 3 bytes a pixel, padded to 4
    COLORREF pixel(int screenX, int screenY) const;
    // Pixels in a screen rectangle close to the colour.
    int count(const RECT& screen, COLORREF colour, int tolerance = 60) const;
};
Capture capture(HWND window);

} // namespace skerrow::test
