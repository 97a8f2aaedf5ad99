// Scripted stand-ins for the user's side of the screen: message boxes, file
// dialogs and the window manager.
#pragma once

#include "addin/ui/dialogs.h"
#include "addin/ui/window.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace skerrow::test {

struct ShownBox {
    std::string text;
    ui::Buttons buttons;
    ui::Icon icon;
    std::string title;
    friend bool operator==(const ShownBox&, const ShownBox&) = default;
};

class FakeDialogs : public ui::Dialogs {
public:
    ui::Answer messageBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                          const std::string& title) override;
    std::optional<std::string> openFile(const std::string& filter) override;
    std::optional<std::string> saveFile(const std::string& filter) override;

    std::vector<ShownBox> boxes;
    std::vector<std::string> filters; // of every file dialog shown
    // Answers of the next file dialogs; an empty queue cancels.
    std::deque<std::optional<std::string>> openAnswers;
    std::deque<std::optional<std::string>> saveAnswers;
};

// Shows nothing. A modal window runs the script registered for its form
// name, which plays the user; a window still loaded afterwards is closed by
// its close box, as a user would leave it.
class FakeWindowManager : public ui::WindowManager {
public:
    void showModal(ui::Window& window) override;
    void showModeless(ui::Window& window) override;
    void closed(ui::Window&) override {}

    using Script = std::function<void(ui::Window&)>;
    // Scripts for a form name, used in turn; the last one stays.
    void onModal(const std::string& formName, Script script);

    std::vector<std::string> shown;   // "modal:name" or "modeless:name", in order

private:
    std::map<std::string, std::deque<Script>> scripts_;
};

} // namespace skerrow::test
