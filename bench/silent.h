// Dialogs and a window manager that show nothing and answer OK: the
// benchmarks time the work behind the windows, not a user.
#pragma once

#include "addin/ui/dialogs.h"
#include "addin/ui/window.h"

#include <optional>
#include <string>

namespace skerrow::bench {

struct Silent : ui::Dialogs, ui::WindowManager {
    ui::Answer messageBox(const std::string&, ui::Buttons, ui::Icon, const std::string&) override { return ui::Answer::OK; }
    std::optional<std::string> openFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> saveFile(const std::string&) override { return std::nullopt; }
    void showModal(ui::Window&) override {}
    void showModeless(ui::Window&) override {}
    void closed(ui::Window&) override {}
};

} // namespace skerrow::bench
