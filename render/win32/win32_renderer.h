// The Win32 renderer: draws the add-in's window models with the standard
// Windows controls, hands what the user does to the models, and shows the
// message boxes and file dialogs. Everything runs on the thread that uses
// it, the host's user-interface thread.
#pragma once

#include "addin/ui/dialogs.h"
#include "addin/ui/window.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

namespace skerrow::win32 {

// One top-level window a model window, built from its declared controls.
// After every user event the controls are brought in line with the models
// that changed; the notifications those changes cause are not the user's
// and never reach a model.
class Win32WindowManager : public ui::WindowManager {
public:
    // owner: the window ours stay in front of when none of the thread's
    // windows is active (the host's main window); may be null.
    explicit Win32WindowManager(HWND owner = nullptr);
    ~Win32WindowManager() override;
    Win32WindowManager(const Win32WindowManager&) = delete;
    Win32WindowManager& operator=(const Win32WindowManager&) = delete;

    // Disables the thread's other windows and runs a message loop until the
    // model unloads the window.
    void showModal(ui::Window& window) override;
    // The window's keys (Tab, Esc, Enter, access keys) then come through a
    // message hook, since the loop that runs is the host's.
    void showModeless(ui::Window& window) override;
    void closed(ui::Window& window) override;

    // The window drawing a model window, and one of its controls; null when
    // not on the screen.
    HWND windowHandle(const ui::Window& window) const;
    HWND controlHandle(const ui::Window& window, const std::string& name, int index = -1) const;

    // Lets a window of ours take its keyboard message from any loop; true
    // when it did, and the message must then not be dispatched.
    static bool dialogMessage(MSG& message);

private:
    struct View;
    struct Shown;

    std::shared_ptr<Shown> create(ui::Window& window, bool modal);
    void build(Shown& shown);
    void refreshAll();
    void refresh(Shown& shown, bool force = false);
    static void applyRows(View& view, const ui::Control& control);
    void place(Shown& shown);
    // Puts the controls where their twips say, with the labels fitted to
    // their measured captions.
    void layout(Shown& shown);
    void focusFirst(Shown& shown);
    void destroy(Shown& shown);

    // Runs a user action on the model, then redraws what changed.
    template <class Action>
    void userEvent(Shown& shown, Action action);
    bool onMessage(Shown& shown, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void onCommand(Shown& shown, int id, int code);
    bool onNotify(Shown& shown, const NMHDR& header, LRESULT& result);
    void onFocus(Shown& shown, HWND control, HWND previous);
    static void showCellTip(View& view, POINT at);

    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK controlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);

    HWND owner_;
    bool ending_ = false;
    std::map<const ui::Window*, std::shared_ptr<Shown>> shown_;
};

// Message boxes and the common open and save dialogs, owned by the active
// window of the thread. A dialog that fails (not one the user cancels)
// throws std::runtime_error.
class Win32Dialogs : public ui::Dialogs {
public:
    ui::Answer messageBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                          const std::string& title) override;
    std::optional<std::string> openFile(const std::string& filter) override;
    std::optional<std::string> saveFile(const std::string& filter) override;
};

} // namespace skerrow::win32
