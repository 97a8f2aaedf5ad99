#include "tests/support/fakes.h"

namespace skerrow::test {

ui::Answer FakeDialogs::messageBox(const std::string& text, ui::Buttons buttons, ui::Icon icon,
                                   const std::string& title) {
    boxes.push_back({text, buttons, icon, title});
    return buttons == ui::Buttons::YesNo || buttons == ui::Buttons::YesNoCancel ? ui::Answer::Yes : ui::Answer::OK;
}

static std::optional<std::string> next(std::deque<std::optional<std::string>>& answers) {
    if (answers.empty())
        return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
}

std::optional<std::string> FakeDialogs::openFile(const std::string& filter) {
    filters.push_back(filter);
    return next(openAnswers);
}

std::optional<std::string> FakeDialogs::saveFile(const std::string& filter) {
    filters.push_back(filter);
    return next(saveAnswers);
}

void FakeWindowManager::showModal(ui::Window& window) {
    shown.push_back("modal:" + window.formName());
    auto it = scripts_.find(window.formName());
    if (it != scripts_.end() && !it->second.empty()) {
        Script script = it->second.front();
        if (it->second.size() > 1)
            it->second.pop_front();
        script(window);
    }
    if (window.isLoaded())
        window.userClose();
}

void FakeWindowManager::showModeless(ui::Window& window) {
    shown.push_back("modeless:" + window.formName());
}

void FakeWindowManager::onModal(const std::string& formName, Script script) {
    scripts_[formName].push_back(std::move(script));
}

} // namespace skerrow::test
