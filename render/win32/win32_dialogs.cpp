#include "render/win32/win32_renderer.h"
#include "render/win32/win32_text.h"

#include <commdlg.h>

#include <stdexcept>

namespace skerrow::win32 {

namespace {

UINT buttonFlags(ui::Buttons buttons) {
    switch (buttons) {
    case ui::Buttons::OK:
        return MB_OK;
    case ui::Buttons::OKCancel:
        return MB_OKCANCEL;
    case ui::Buttons::YesNo:
        return MB_YESNO;
    case ui::Buttons::YesNoCancel:
        return MB_YESNOCANCEL;
    }
    return MB_OK;
}

UINT iconFlags(ui::Icon icon) {
    switch (icon) {
    case ui::Icon::None:
        return 0;
    case ui::Icon::Critical:
        return MB_ICONHAND;
    case ui::Icon::Question:
        return MB_ICONQUESTION;
    case ui::Icon::Exclamation:
        return MB_ICONEXCLAMATION;
    case ui::Icon::Information:
        return MB_ICONASTERISK;
    }
    return 0;
}

// The box or dialog belongs to whatever window of the thread is active: an
// open window of ours, or the host's main window.
HWND activeOwner() {
    return GetActiveWindow();
}

std::optional<std::string> fileDialog(const std::string& filter, bool save) {
    const std::wstring filters = fileDialogFilter(filter);
    std::wstring file(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = activeOwner();
    dialog.lpstrFilter = filters.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    // The host's working folder is not ours to change.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (save)
        dialog.Flags |= OFN_OVERWRITEPROMPT;
    const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    if (!chosen) {
        if (const DWORD error = CommDlgExtendedError())
            throw std::runtime_error("file dialog failed: " + std::to_string(error));
        return std::nullopt;
    }
    return narrow(file.c_str());
}

} // namespace

ui::Answer Win32Dialogs::messageBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                                    const std::string& title) {
    HWND owner = activeOwner();
    UINT flags = buttonFlags(buttons) | iconFlags(icon);
    if (!owner)
        flags |= MB_TASKMODAL;
    switch (MessageBoxW(owner, widen(text).c_str(), widen(title).c_str(), flags)) {
    case IDOK:
        return ui::Answer::OK;
    case IDYES:
        return ui::Answer::Yes;
    case IDNO:
        return ui::Answer::No;
    case 0:
        throw std::runtime_error("message box failed");
    default:
        return ui::Answer::Cancel;
    }
}

std::optional<std::string> Win32Dialogs::openFile(const std::string& filter) {
    return fileDialog(filter, false);
}

std::optional<std::string> Win32Dialogs::saveFile(const std::string& filter) {
    return fileDialog(filter, true);
}

} // namespace skerrow::win32
