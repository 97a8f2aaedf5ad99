// Message boxes and the open and save file dialogs. Renderers implement
// them with their toolkit; tests replace them with scripted answers.
#pragma once

#include <optional>
#include <string>

namespace skerrow::ui {

// The title of every box that is given none of its own.
inline constexpr const char* programTitle = "Skerrow";

enum class Buttons { OK, OKCancel, YesNo, YesNoCancel };
enum class Icon { None, Critical, Question, Exclamation, Information };
enum class Answer { OK, Cancel, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Modal; returns the button pressed.
    virtual Answer messageBox(const std::string& text, Buttons buttons, Icon icon, const std::string& title) = 0;

    // Filter in the form "description|pattern[|description|pattern...]".
    // Nothing when the user cancels. No title, start folder or default
    // extension: the name is used as typed or picked.
    virtual std::optional<std::string> openFile(const std::string& filter) = 0;
    virtual std::optional<std::string> saveFile(const std::string& filter) = 0;
};

} // namespace skerrow::ui
