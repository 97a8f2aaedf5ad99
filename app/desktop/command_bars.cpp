#include "app/desktop/command_bars.h"

#include <QAction>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>

#include <algorithm>

namespace skerrow::desktop {

namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// What a tooltip shows when the control has none: its caption without the
// access key mark.
QString plainCaption(const std::string& caption) {
    QString plain = text(caption);
    plain.replace(QLatin1String("&&"), QLatin1String("\x01"));
    plain.remove(QLatin1Char('&'));
    plain.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return plain.trimmed();
}

// Takes an action out of its container at once and frees it once the
// event that may be running on it has returned.
void discard(QWidget* container, QAction* action) {
    if (!action)
        return;
    if (container)
        container->removeAction(action);
    action->deleteLater();
}

} // namespace

// ---- Controls ----

QtControl::QtControl(std::shared_ptr<CommandBarContext> context, QWidget* container, bool temporary)
    : context_(std::move(context)), container_(container), temporary_(temporary) {}

QtControl::~QtControl() = default;

void QtControl::check() const {
    if (deleted_ || !action_)
        throw host::HostError("the command bar control has been deleted");
}

void QtControl::place(QAction* action, QToolButton* button) {
    separator_ = new QAction(container_);
    separator_->setSeparator(true);
    separator_->setVisible(false);
    container_->addAction(separator_);
    action_ = action;
    button_ = button;
    container_->addAction(action_);
}

std::string QtControl::Caption() {
    check();
    return caption_;
}

void QtControl::setCaption(const std::string& caption) {
    check();
    caption_ = caption;
    showCaption();
    showTooltip();
}

void QtControl::showCaption() {
    action_->setText(text(caption_));
    if (button_)
        button_->setText(text(caption_)); // a button's text gives it its access key
}

void QtControl::showTooltip() {
    const QString tip = tooltip_.empty() ? plainCaption(caption_) : text(tooltip_);
    action_->setToolTip(tip);
    if (button_)
        button_->setToolTip(tip);
}

bool QtControl::BeginGroup() {
    check();
    return beginGroup_;
}

void QtControl::setBeginGroup(bool begin) {
    check();
    beginGroup_ = begin;
    if (separator_)
        separator_->setVisible(beginGroup_ && visible_);
}

bool QtControl::Enabled() {
    check();
    return enabled_;
}

void QtControl::setEnabled(bool enabled) {
    check();
    enabled_ = enabled;
    action_->setEnabled(enabled);
    if (button_)
        button_->setEnabled(enabled);
}

bool QtControl::Visible() {
    check();
    return visible_;
}

void QtControl::setVisible(bool visible) {
    check();
    visible_ = visible;
    action_->setVisible(visible);
    if (separator_)
        separator_->setVisible(beginGroup_ && visible_);
}

std::string QtControl::TooltipText() {
    check();
    return tooltip_;
}

void QtControl::setTooltipText(const std::string& tip) {
    check();
    tooltip_ = tip;
    showTooltip();
}

void QtControl::remove() {
    deleted_ = true;
    discard(container_, separator_);
    discard(container_, action_); // a widget action takes its tool button along
}

// ---- Buttons ----

QtButton::QtButton(std::shared_ptr<CommandBarContext> context, QWidget* container, bool inMenu, bool temporary)
    : QtControl(std::move(context), container, temporary), inMenu_(inMenu) {
    if (inMenu_) {
        place(new QAction(container), nullptr);
    } else {
        auto* button = new QToolButton(container);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        auto* action = new QWidgetAction(container);
        action->setDefaultWidget(button);
        place(action, button);
    }
    showStyle();
}

void QtButton::wire() {
    // The widgets may outlive the object (a window closing with the add-in
    // still holding nothing): a click then does nothing.
    std::weak_ptr<QtButton> weak = std::dynamic_pointer_cast<QtButton>(shared_from_this());
    auto clicked = [weak] {
        if (auto self = weak.lock())
            self->click();
    };
    if (button_)
        QObject::connect(button_, &QToolButton::clicked, button_, clicked);
    else
        QObject::connect(action_, &QAction::triggered, action_, clicked);
}

int QtButton::Style() {
    check();
    return style_;
}

void QtButton::setStyle(int style) {
    check();
    style_ = style;
    showStyle();
}

void QtButton::showStyle() {
    if (!button_)
        return;
    switch (style_) {
    case host::msoButtonIcon:
        button_->setToolButtonStyle(Qt::ToolButtonIconOnly);
        break;
    case msoButtonCaption:
        button_->setToolButtonStyle(Qt::ToolButtonTextOnly);
        break;
    case host::msoButtonIconAndCaption:
        button_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        break;
    default: // automatic: the face when there is one
        button_->setToolButtonStyle(face_.isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonIconOnly);
        break;
    }
}

void QtButton::PasteFace() {
    check();
    throw host::HostError("this window takes button faces directly, not from the clipboard");
}

bool QtButton::setPicture(const host::Bitmap& bytes) {
    check();
    QImage image;
    if (!image.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "BMP"))
        throw host::HostError("the button face is not a BMP picture");
    face_ = QIcon(QPixmap::fromImage(image));
    action_->setIcon(face_);
    if (button_)
        button_->setIcon(face_);
    showStyle();
    return true;
}

host::Subscription QtButton::onClick(ClickHandler handler) {
    check();
    return handlers_.add(std::move(handler));
}

void QtButton::click() {
    // The handlers may delete the button's widgets; the object stays while they run.
    auto self = std::dynamic_pointer_cast<QtButton>(shared_from_this());
    auto context = context_;
    context->dispatch([self, context] {
        self->handlers_.each([&](ClickHandler& handler) {
            bool cancelDefault = false;
            context->log.deliver("Click", [&] { handler(*self, cancelDefault); });
        });
    });
}

// ---- Popups ----

QtPopup::QtPopup(std::shared_ptr<CommandBarContext> context, QWidget* container, bool inMenu, bool temporary)
    : QtControl(context, container, temporary) {
    if (inMenu) {
        menu_ = new QMenu(container);
        place(menu_->menuAction(), nullptr);
    } else {
        auto* button = new QToolButton(container);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        menu_ = new QMenu(button);
        button->setMenu(menu_);
        auto* action = new QWidgetAction(container);
        action->setDefaultWidget(button);
        place(action, button);
    }
    controls_ = std::make_shared<QtControls>(std::move(context), menu_, true);
}

std::shared_ptr<host::CommandBarControls> QtPopup::Controls() {
    check();
    return controls_;
}

void QtPopup::showCaption() {
    QtControl::showCaption();
    if (menu_)
        menu_->setTitle(text(caption_));
}

void QtPopup::remove() {
    controls_->dropAll();
    if (!button_ && menu_) {
        // In a menu the action belongs to the submenu: the submenu goes.
        discard(container_, separator_);
        container_->removeAction(menu_->menuAction());
        menu_->deleteLater();
        action_ = nullptr;
    }
    QtControl::remove();
}

QtControls::QtControls(std::shared_ptr<CommandBarContext> context, QWidget* container, bool inMenu)
    : context_(std::move(context)), container_(container), inMenu_(inMenu) {}

int QtControls::Count() {
    if (!container_)
        throw host::HostError("the command bar has been deleted");
    return static_cast<int>(controls_.size());
}

std::shared_ptr<host::CommandBarControl> QtControls::Add(int type, bool temporary) {
    if (!container_)
        throw host::HostError("the command bar has been deleted");
    std::shared_ptr<QtControl> control;
    if (type == host::msoControlButton) {
        auto button = std::make_shared<QtButton>(context_, container_, inMenu_, temporary);
        button->wire();
        control = button;
    } else if (type == host::msoControlPopup)
        control = std::make_shared<QtPopup>(context_, container_, inMenu_, temporary);
    else
        throw host::HostError("no command bar control of type " + std::to_string(type));
    controls_.push_back(control);
    return control;
}

void QtControls::dropTemporary() {
    for (const auto& control : controls_) {
        if (control->temporary())
            control->remove();
        else if (auto popup = std::dynamic_pointer_cast<QtPopup>(control))
            popup->controls()->dropTemporary();
    }
    std::erase_if(controls_, [](const auto& control) { return control->temporary(); });
}

void QtControls::dropAll() {
    for (const auto& control : controls_)
        control->remove();
    controls_.clear();
}

// ---- Bars ----

namespace {

Qt::ToolBarArea areaOf(int position) {
    switch (position) {
    case 0:
        return Qt::LeftToolBarArea;
    case host::msoBarTop:
        return Qt::TopToolBarArea;
    case 2:
        return Qt::RightToolBarArea;
    case 3:
        return Qt::BottomToolBarArea;
    default:
        throw host::HostError("no docked command bar position " + std::to_string(position));
    }
}

} // namespace

QtCommandBar::QtCommandBar(std::shared_ptr<CommandBarContext> context, QMainWindow& window, const std::string& name,
                           bool builtIn, std::weak_ptr<std::vector<std::shared_ptr<QtCommandBar>>> collection)
    : name_(name), window_(&window), builtIn_(builtIn), collection_(std::move(collection)) {
    bar_ = new QToolBar(text(name), &window);
    bar_->setObjectName(text(name));
    bar_->setVisible(false);
    window.addToolBar(Qt::TopToolBarArea, bar_);
    controls_ = std::make_shared<QtControls>(std::move(context), bar_, false);
}

void QtCommandBar::check() const {
    if (deleted_ || !bar_ || !window_)
        throw host::HostError("the command bar " + name_ + " has been deleted");
}

std::string QtCommandBar::Name() {
    check();
    return name_;
}

std::shared_ptr<host::CommandBarControls> QtCommandBar::Controls() {
    check();
    return controls_;
}

void QtCommandBar::Delete() {
    check();
    if (builtIn_)
        throw host::HostError("the built-in command bar " + name_ + " cannot be deleted");
    deleted_ = true;
    controls_->dropAll();
    window_->removeToolBar(bar_);
    bar_->hide();
    bar_->setParent(nullptr);
    bar_->deleteLater();
    if (auto bars = collection_.lock())
        std::erase_if(*bars, [this](const auto& bar) { return bar.get() == this; });
}

bool QtCommandBar::Visible() {
    check();
    return visible_;
}

void QtCommandBar::setVisible(bool visible) {
    check();
    visible_ = visible;
    bar_->setVisible(visible);
}

int QtCommandBar::Position() {
    check();
    switch (window_->toolBarArea(bar_)) {
    case Qt::LeftToolBarArea:
        return 0;
    case Qt::RightToolBarArea:
        return 2;
    case Qt::BottomToolBarArea:
        return 3;
    default:
        return host::msoBarTop;
    }
}

void QtCommandBar::setPosition(int position) {
    check();
    const Qt::ToolBarArea area = areaOf(position);
    if (window_->toolBarArea(bar_) != area)
        window_->addToolBar(area, bar_);
    bar_->setVisible(visible_);
}

QtCommandBars::QtCommandBars(std::shared_ptr<CommandBarContext> context, QMainWindow& window)
    : context_(std::move(context)), window_(&window),
      bars_(std::make_shared<std::vector<std::shared_ptr<QtCommandBar>>>()) {}

int QtCommandBars::Count() {
    if (!window_)
        throw host::HostError("the window has been closed");
    return static_cast<int>(bars_->size());
}

std::shared_ptr<host::CommandBar> QtCommandBars::Item(int position) {
    if (!window_)
        throw host::HostError("the window has been closed");
    if (position < 1 || position > static_cast<int>(bars_->size()))
        throw host::HostError("no command bar at position " + std::to_string(position));
    return (*bars_)[static_cast<std::size_t>(position - 1)];
}

std::shared_ptr<QtCommandBar> QtCommandBars::make(const std::string& name, bool builtIn) {
    if (!window_)
        throw host::HostError("the window has been closed");
    auto bar = std::make_shared<QtCommandBar>(context_, *window_, name, builtIn, bars_);
    bars_->push_back(bar);
    return bar;
}

std::shared_ptr<host::CommandBar> QtCommandBars::Add(const std::string& name) {
    return make(name, false);
}

std::shared_ptr<QtCommandBar> QtCommandBars::addBuiltIn(const std::string& name) {
    auto bar = make(name, true);
    bar->setVisible(true);
    return bar;
}

void QtCommandBars::restore(const std::vector<std::string>& names) {
    for (const auto& name : names)
        make(name, false)->setVisible(true);
}

std::vector<std::string> QtCommandBars::savedLayout() const {
    std::vector<std::string> names;
    for (const auto& bar : *bars_)
        if (!bar->builtIn())
            names.push_back(bar->Name());
    return names;
}

void QtCommandBars::endSession() {
    for (const auto& bar : *bars_)
        bar->controls()->dropTemporary();
}

} // namespace skerrow::desktop
