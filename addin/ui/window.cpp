#include "addin/ui/window.h"

#include <algorithm>
#include <stdexcept>

namespace skerrow::ui {

Window::Window(WindowManager& manager, std::string formName)
    : manager_(manager), formName_(std::move(formName)) {}

void Window::load() {
    if (loaded_ || loading_)
        return;
    loading_ = true;
    controls_.clear();
    caption.clear();
    defaultButton.clear();
    cancelButton.clear();
    focus_.clear();
    declareControls();
    loaded_ = true;
    loading_ = false;
    touch();
    onLoad();
}

void Window::unload() {
    if (!loaded_)
        return;
    onUnload();
    loaded_ = false;
    controls_.clear();
    touch();
    manager_.closed(*this);
}

void Window::showModal() {
    load();
    manager_.showModal(*this);
}

void Window::showModeless() {
    load();
    manager_.showModeless(*this);
}

Control& Window::control(const std::string& name, int index) {
    load();
    for (Control& c : controls_)
        if (c.name == name && c.index == index)
            return c;
    throw std::out_of_range("no control " + name + " on " + formName_);
}

std::vector<Control>& Window::controls() {
    load();
    return controls_;
}

void Window::setText(const std::string& name, const std::string& text) {
    Control& c = control(name);
    if (c.caption == text)
        return;
    c.caption = text;
    touch();
    if (c.kind == ControlKind::TextBox)
        onEvent(Event::Change, name, -1, -1);
}

void Window::sortRows(Control& list) {
    const auto column = static_cast<std::size_t>(list.sortColumn);
    std::stable_sort(list.rows.begin(), list.rows.end(), [column](const ListRow& a, const ListRow& b) {
        const std::string empty;
        const std::string& x = column < a.cells.size() ? a.cells[column].text : empty;
        const std::string& y = column < b.cells.size() ? b.cells[column].text : empty;
        return x < y;
    });
    touch();
}

void Window::raise(Event event, const std::string& name, int index, int row) {
    touch();
    onEvent(event, name, index, row);
}

void Window::userClick(const std::string& name, int index) {
    Control& c = control(name, index);
    if (!c.enabled || !c.visible)
        return;
    if (c.kind == ControlKind::CheckBox) {
        c.value = !c.value;
    } else if (c.kind == ControlKind::OptionButton) {
        for (Control& other : controls_)
            if (other.name == name && other.kind == ControlKind::OptionButton)
                other.value = other.index == index;
    }
    raise(Event::Click, name, index, -1);
}

void Window::userDoubleClick(const std::string& name) {
    Control& c = control(name);
    if (!c.enabled)
        return;
    raise(Event::DblClick, name, -1, -1);
}

void Window::userType(const std::string& name, const std::string& text) {
    Control& c = control(name);
    if (!c.enabled)
        return;
    setText(name, text);
}

void Window::userCheckRow(const std::string& name, int row, bool checked) {
    Control& c = control(name);
    if (!c.enabled || row < 0 || row >= static_cast<int>(c.rows.size()))
        return;
    c.rows[static_cast<std::size_t>(row)].checked = checked;
    raise(Event::ItemCheck, name, -1, row);
}

void Window::userSelectRow(const std::string& name, int row) {
    Control& c = control(name);
    if (!c.enabled)
        return;
    c.selectedRow = row >= 0 && row < static_cast<int>(c.rows.size()) ? row : -1;
    raise(Event::Click, name, -1, c.selectedRow);
}

void Window::userSelectTab(const std::string& name, int tab) {
    Control& c = control(name);
    if (!c.enabled || tab < 0 || tab >= static_cast<int>(c.tabs.size()))
        return;
    c.currentTab = tab;
    focus_ = name;
    raise(Event::GotFocus, name, -1, -1);
}

void Window::userFocus(const std::string& name) {
    control(name);
    focus_ = name;
    raise(Event::GotFocus, name, -1, -1);
}

void Window::userClose() {
    unload();
}

void Window::userCancel() {
    if (!cancelButton.empty())
        userClick(cancelButton);
}

void Window::userDefault() {
    if (!defaultButton.empty())
        userClick(defaultButton);
}

Control& Window::declare(Control control) {
    controls_.push_back(std::move(control));
    return controls_.back();
}

std::string literalCaption(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '&')
            out += '&';
    }
    return out;
}

Control makeControl(ControlKind kind, std::string name, Rect rect, std::string caption, std::string container,
                    int tab) {
    Control c;
    c.kind = kind;
    c.name = std::move(name);
    c.rect = rect;
    c.caption = std::move(caption);
    c.container = std::move(container);
    c.tab = tab;
    return c;
}

} // namespace skerrow::ui
