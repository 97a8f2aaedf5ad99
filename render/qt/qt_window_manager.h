// Shows the add-in's windows with Qt: each window becomes a dialog built
// from its declared controls, drawn from its model after every event.
#pragma once

#include "addin/ui/window.h"

#include <QPointer>

#include <map>

class QWidget;

namespace skerrow::qt {

class WindowView;

// Needs a QApplication and runs on its thread. The windows it is given must
// outlive it or be unloaded first; it owns the dialogs it builds.
class QtWindowManager : public ui::WindowManager {
public:
    // owner: the main window the dialogs stay in front of; may be null.
    explicit QtWindowManager(QWidget* owner = nullptr);
    ~QtWindowManager() override;
    QtWindowManager(const QtWindowManager&) = delete;
    QtWindowManager& operator=(const QtWindowManager&) = delete;

    // Runs a local event loop until the model unloads the window.
    void showModal(ui::Window& window) override;
    void showModeless(ui::Window& window) override;
    void closed(ui::Window& window) override;

    // Redraws the shown windows whose models changed. The dialogs call it
    // after each user event; a host calls it after acting on a shown window
    // itself.
    void refresh();

    // The dialog showing the window; null when it is not on the screen.
    QWidget* view(const ui::Window& window) const;

private:
    WindowView& viewFor(ui::Window& window);

    QPointer<QWidget> owner_;
    std::map<const ui::Window*, QPointer<WindowView>> views_;
};

} // namespace skerrow::qt
