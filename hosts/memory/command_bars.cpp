#include "hosts/memory/events.h"
#include "hosts/memory/memory_host.h"

#include <algorithm>
#include <utility>

namespace skerrow::memory {

namespace {

std::string flag(bool value) {
    return value ? "1" : "0";
}

// A deleted bar is gone from the host: every call on it fails.
void requireLive(bool deleted, const std::string& name) {
    if (deleted)
        throw host::HostError("the command bar " + name + " has been deleted");
}

} // namespace

// ---- Controls collection ----

MemoryControls::MemoryControls(MemoryHost& host, std::string ownerName)
    : host_(host), ownerName_(std::move(ownerName)) {}

int MemoryControls::Count() {
    host_.faults().check("Controls.Count", ownerName_);
    return static_cast<int>(controls_.size());
}

std::shared_ptr<host::CommandBarControl> MemoryControls::Add(int type, bool temporary) {
    host_.faults().check("Controls.Add", ownerName_);
    if (type != host::msoControlButton && type != host::msoControlPopup)
        throw host::HostError("cannot add a control of type " + std::to_string(type));
    auto control = addControl(type, temporary);
    // Handed out through the host interface of its kind.
    if (type == host::msoControlPopup)
        return std::shared_ptr<host::CommandBarPopup>(std::static_pointer_cast<MemoryPopup>(control));
    return std::shared_ptr<host::CommandBarButton>(std::static_pointer_cast<MemoryButton>(control));
}

std::shared_ptr<MemoryControl> MemoryControls::addControl(int type, bool temporary) {
    std::shared_ptr<MemoryControl> control;
    if (type == host::msoControlPopup)
        control = std::make_shared<MemoryPopup>(host_, temporary);
    else
        control = std::make_shared<MemoryButton>(host_, temporary);
    controls_.push_back(control);
    return control;
}

void MemoryControls::dropTemporary() {
    std::erase_if(controls_, [](const auto& control) { return control->temporary(); });
    for (const auto& control : controls_)
        if (auto popup = std::dynamic_pointer_cast<MemoryPopup>(control))
            popup->controls()->dropTemporary();
}

// ---- Controls ----

MemoryControl::MemoryControl(MemoryHost& host, int type, bool temporary)
    : host_(host), type_(type), temporary_(temporary) {}

std::string MemoryControl::Caption() {
    host_.faults().check("Control.Caption", caption_);
    return caption_;
}

void MemoryControl::setCaption(const std::string& caption) {
    host_.faults().check("Control.setCaption", caption);
    caption_ = caption;
    log_.push_back("Caption=" + caption);
}

bool MemoryControl::BeginGroup() {
    host_.faults().check("Control.BeginGroup", caption_);
    return beginGroup_;
}

void MemoryControl::setBeginGroup(bool begin) {
    host_.faults().check("Control.setBeginGroup", caption_);
    beginGroup_ = begin;
    log_.push_back("BeginGroup=" + flag(begin));
}

bool MemoryControl::Enabled() {
    host_.faults().check("Control.Enabled", caption_);
    return enabled_;
}

void MemoryControl::setEnabled(bool enabled) {
    host_.faults().check("Control.setEnabled", caption_);
    enabled_ = enabled;
    log_.push_back("Enabled=" + flag(enabled));
}

bool MemoryControl::Visible() {
    host_.faults().check("Control.Visible", caption_);
    return visible_;
}

void MemoryControl::setVisible(bool visible) {
    host_.faults().check("Control.setVisible", caption_);
    visible_ = visible;
    log_.push_back("Visible=" + flag(visible));
}

std::string MemoryControl::TooltipText() {
    host_.faults().check("Control.TooltipText", caption_);
    return tooltip_;
}

void MemoryControl::setTooltipText(const std::string& text) {
    host_.faults().check("Control.setTooltipText", caption_);
    tooltip_ = text;
    log_.push_back("TooltipText=" + text);
}

MemoryPopup::MemoryPopup(MemoryHost& host, bool temporary)
    : MemoryControl(host, host::msoControlPopup, temporary), controls_(std::make_shared<MemoryControls>(host, "")) {}

std::shared_ptr<host::CommandBarControls> MemoryPopup::Controls() {
    host_.faults().check("Popup.Controls", caption());
    return controls_;
}

MemoryButton::MemoryButton(MemoryHost& host, bool temporary)
    : MemoryControl(host, host::msoControlButton, temporary),
      handlers_(events::makeHandlers<ClickHandler>()) {}

int MemoryButton::Style() {
    host_.faults().check("Button.Style", caption());
    return style_;
}

void MemoryButton::setStyle(int style) {
    host_.faults().check("Button.setStyle", caption());
    style_ = style;
    log_.push_back("Style=" + std::to_string(style));
}

void MemoryButton::PasteFace() {
    host_.faults().check("Button.PasteFace", caption());
    if (host_.clipboard().bitmap().empty())
        throw host::HostError("the clipboard holds no picture");
    face_ = host_.clipboard().bitmap();
    log_.push_back("PasteFace");
}

host::Subscription MemoryButton::onClick(ClickHandler handler) {
    host_.faults().check("Button.onClick", caption());
    return events::subscribe(handlers_, std::move(handler));
}

void MemoryButton::click() {
    bool cancelDefault = false;
    MemoryHost& host = host_;
    events::raise(handlers_, [&](const ClickHandler& handler) {
        host.runHandler([&] { handler(*this, cancelDefault); });
    });
}

int MemoryButton::subscribers() const {
    return static_cast<int>(handlers_->size());
}

// ---- Bars ----

MemoryCommandBar::MemoryCommandBar(MemoryHost& host, std::string name)
    : host_(host), name_(name), controls_(std::make_shared<MemoryControls>(host, std::move(name))) {}

std::string MemoryCommandBar::Name() {
    host_.faults().check("CommandBar.Name", name_);
    requireLive(deleted_, name_);
    return name_;
}

std::shared_ptr<host::CommandBarControls> MemoryCommandBar::Controls() {
    host_.faults().check("CommandBar.Controls", name_);
    requireLive(deleted_, name_);
    return controls_;
}

void MemoryCommandBar::Delete() {
    host_.faults().check("CommandBar.Delete", name_);
    requireLive(deleted_, name_);
    deleted_ = true;
    host_.commandBars()->remove(this);
}

bool MemoryCommandBar::Visible() {
    host_.faults().check("CommandBar.Visible", name_);
    requireLive(deleted_, name_);
    return visible_;
}

void MemoryCommandBar::setVisible(bool visible) {
    host_.faults().check("CommandBar.setVisible", name_);
    requireLive(deleted_, name_);
    visible_ = visible;
}

int MemoryCommandBar::Position() {
    host_.faults().check("CommandBar.Position", name_);
    requireLive(deleted_, name_);
    return position_;
}

void MemoryCommandBar::setPosition(int position) {
    host_.faults().check("CommandBar.setPosition", name_);
    requireLive(deleted_, name_);
    position_ = position;
}

MemoryCommandBars::MemoryCommandBars(MemoryHost& host) : host_(host) {}

int MemoryCommandBars::Count() {
    host_.faults().check("CommandBars.Count");
    return static_cast<int>(bars_.size());
}

std::shared_ptr<host::CommandBar> MemoryCommandBars::Item(int position) {
    host_.faults().check("CommandBars.Item");
    if (position < 1 || position > static_cast<int>(bars_.size()))
        throw host::HostError("no command bar at position " + std::to_string(position));
    return bars_[static_cast<std::size_t>(position - 1)];
}

std::shared_ptr<host::CommandBar> MemoryCommandBars::Add(const std::string& name) {
    host_.faults().check("CommandBars.Add", name);
    auto bar = std::make_shared<MemoryCommandBar>(host_, name);
    bars_.push_back(bar);
    return bar;
}

std::vector<std::shared_ptr<MemoryCommandBar>> MemoryCommandBars::bars() const {
    return bars_;
}

std::shared_ptr<MemoryCommandBar> MemoryCommandBars::addLeftover(const std::string& name, int controls) {
    auto bar = std::make_shared<MemoryCommandBar>(host_, name);
    for (int i = 0; i < controls; ++i)
        bar->controls()->addControl(host::msoControlButton, false);
    bars_.push_back(bar);
    return bar;
}

void MemoryCommandBars::remove(const MemoryCommandBar* bar) {
    std::erase_if(bars_, [bar](const auto& held) { return held.get() == bar; });
}

void MemoryCommandBars::endSession() {
    for (const auto& bar : bars_)
        bar->controls()->dropTemporary();
}

} // namespace skerrow::memory
