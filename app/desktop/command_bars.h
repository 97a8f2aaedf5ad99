// The host's command bars over Qt: each command bar is a QToolBar of a main
// window, a popup a tool button with a menu (a submenu inside a menu), a
// button a tool button on a toolbar or an action in a menu.
//
// The control objects hold the state the add-in sets (caption, group,
// enabled, visible, tooltip, style) and mirror it onto their widgets. The
// widgets belong to the window; a control whose widgets have gone (a
// closed window, a deleted bar, a temporary control dropped at the end of
// the session) throws host::HostError on every call, as a released Office
// control does.
#pragma once

#include "addin/host/host.h"
#include "app/desktop/events.h"

#include <QAction>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QToolBar>
#include <QToolButton>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace skerrow::desktop {

// Style 2 of the command bars: the caption alone.
inline constexpr int msoButtonCaption = 2;

// How a click reaches the add-in: the window wraps the handlers' work
// (making itself the active explorer, refreshing afterwards).
struct CommandBarContext {
    EventLog& log;
    std::function<void(const std::function<void()>& work)> dispatch;
};

class QtControls;

class QtControl : public virtual host::CommandBarControl, public std::enable_shared_from_this<QtControl> {
public:
    ~QtControl() override;

    std::string Caption() override;
    void setCaption(const std::string& caption) override;
    bool BeginGroup() override;
    void setBeginGroup(bool begin) override;
    bool Enabled() override;
    void setEnabled(bool enabled) override;
    bool Visible() override;
    void setVisible(bool visible) override;
    std::string TooltipText() override;
    void setTooltipText(const std::string& text) override;

    bool temporary() const { return temporary_; }
    bool deleted() const { return deleted_; }
    // The action that stands for the control in its toolbar or menu.
    QAction* action() const { return action_; }
    // The tool button on a toolbar; null in a menu.
    QToolButton* toolButton() const { return button_; }
    // Takes the control's widgets away for good.
    virtual void remove();

protected:
    QtControl(std::shared_ptr<CommandBarContext> context, QWidget* container, bool temporary);
    // Puts the control's action at the end of its container, after the
    // separator that a group start shows.
    void place(QAction* action, QToolButton* button);
    void check() const;
    virtual void showCaption();
    void showTooltip();

    std::shared_ptr<CommandBarContext> context_;
    QPointer<QWidget> container_;
    QPointer<QAction> action_;
    QPointer<QAction> separator_;
    QPointer<QToolButton> button_;
    std::string caption_;
    std::string tooltip_;

private:
    bool temporary_;
    bool deleted_ = false;
    bool beginGroup_ = false;
    bool enabled_ = true;
    bool visible_ = true;
};

class QtButton : public QtControl, public host::CommandBarButton {
public:
    QtButton(std::shared_ptr<CommandBarContext> context, QWidget* container, bool inMenu, bool temporary);

    int Style() override;
    void setStyle(int style) override;
    // This host has no clipboard route: faces come through setPicture.
    void PasteFace() override;
    // Takes the bytes of a BMP file; throws host::HostError when they are no picture.
    bool setPicture(const host::Bitmap& face) override;
    host::Subscription onClick(ClickHandler handler) override;

    const QIcon& face() const { return face_; }
    // Connects the widget's clicks; called once the object is shared.
    void wire();
    // What a click of the widget does: the handlers run in their turn, a
    // failing one is logged.
    void click();

private:
    void showStyle();

    bool inMenu_;
    int style_ = 0;
    QIcon face_;
    HandlerList<ClickHandler> handlers_;
};

class QtPopup : public QtControl, public host::CommandBarPopup {
public:
    QtPopup(std::shared_ptr<CommandBarContext> context, QWidget* container, bool inMenu, bool temporary);
    std::shared_ptr<host::CommandBarControls> Controls() override;
    void remove() override;

    QMenu* menu() const { return menu_; }
    std::shared_ptr<QtControls> controls() const { return controls_; }

protected:
    void showCaption() override;

private:
    QPointer<QMenu> menu_;
    std::shared_ptr<QtControls> controls_;
};

class QtControls : public host::CommandBarControls {
public:
    QtControls(std::shared_ptr<CommandBarContext> context, QWidget* container, bool inMenu);
    int Count() override;
    std::shared_ptr<host::CommandBarControl> Add(int type, bool temporary) override;

    const std::vector<std::shared_ptr<QtControl>>& all() const { return controls_; }
    void dropTemporary();
    void dropAll();

private:
    std::shared_ptr<CommandBarContext> context_;
    QPointer<QWidget> container_;
    bool inMenu_;
    std::vector<std::shared_ptr<QtControl>> controls_;
};

class QtCommandBars;

class QtCommandBar : public host::CommandBar {
public:
    QtCommandBar(std::shared_ptr<CommandBarContext> context, QMainWindow& window, const std::string& name,
                 bool builtIn, std::weak_ptr<std::vector<std::shared_ptr<QtCommandBar>>> collection);

    std::string Name() override;
    std::shared_ptr<host::CommandBarControls> Controls() override;
    void Delete() override;
    bool Visible() override;
    void setVisible(bool visible) override;
    // 0 left, 1 top, 2 right, 3 bottom of the window.
    int Position() override;
    void setPosition(int position) override;

    QToolBar* toolBar() const { return bar_; }
    std::shared_ptr<QtControls> controls() const { return controls_; }
    // Made by the window itself at every start, so never saved.
    bool builtIn() const { return builtIn_; }

private:
    void check() const;

    std::string name_;
    QPointer<QMainWindow> window_;
    QPointer<QToolBar> bar_;
    std::shared_ptr<QtControls> controls_;
    bool builtIn_;
    bool visible_ = false;
    bool deleted_ = false;
    std::weak_ptr<std::vector<std::shared_ptr<QtCommandBar>>> collection_;
};

class QtCommandBars : public host::CommandBars {
public:
    QtCommandBars(std::shared_ptr<CommandBarContext> context, QMainWindow& window);

    int Count() override;
    std::shared_ptr<host::CommandBar> Item(int position) override;
    // A new bar starts hidden at the top, as in Office.
    std::shared_ptr<host::CommandBar> Add(const std::string& name) override;

    // The window's own bar, made visible.
    std::shared_ptr<QtCommandBar> addBuiltIn(const std::string& name);
    // Bars kept from an earlier session: shown, with no controls.
    void restore(const std::vector<std::string>& names);
    // The names of the bars that outlive the session, in order.
    std::vector<std::string> savedLayout() const;
    // The session ends: temporary controls vanish, the bars stay.
    void endSession();

    const std::vector<std::shared_ptr<QtCommandBar>>& bars() const { return *bars_; }

private:
    std::shared_ptr<QtCommandBar> make(const std::string& name, bool builtIn);

    std::shared_ptr<CommandBarContext> context_;
    QPointer<QMainWindow> window_;
    std::shared_ptr<std::vector<std::shared_ptr<QtCommandBar>>> bars_;
};

} // namespace skerrow::desktop
