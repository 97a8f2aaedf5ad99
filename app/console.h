// The add-in's windows and boxes on a terminal: boxes are printed, the
// review window is printed and closed (or handed to a reviewer first).
#pragma once

#include "addin/ui/dialogs.h"
#include "addin/ui/window.h"

#include <functional>
#include <iosfwd>

namespace skerrow::app {

class ConsoleDialogs : public ui::Dialogs {
public:
    explicit ConsoleDialogs(std::ostream& out) : out_(out) {}
    ui::Answer messageBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                          const std::string& title) override;
    // Nobody is there to pick a file.
    std::optional<std::string> openFile(const std::string& filter) override;
    std::optional<std::string> saveFile(const std::string& filter) override;

private:
    std::ostream& out_;
};

// Prints a window: its caption, its labels and the rows of its lists.
void printWindow(std::ostream& out, ui::Window& window);

class ConsoleWindows : public ui::WindowManager {
public:
    // Runs on every window shown, after it is printed; the window is closed
    // afterwards unless the reviewer closed it.
    using Reviewer = std::function<void(ui::Window&)>;
    ConsoleWindows(std::ostream& out, Reviewer reviewer = {}) : out_(out), reviewer_(std::move(reviewer)) {}

    void showModal(ui::Window& window) override { show(window); }
    void showModeless(ui::Window& window) override { show(window); }
    void closed(ui::Window&) override {}

private:
    void show(ui::Window& window);
    std::ostream& out_;
    Reviewer reviewer_;
};

} // namespace skerrow::app
