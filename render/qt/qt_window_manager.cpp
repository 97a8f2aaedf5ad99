#include "render/qt/qt_window_manager.h"

#include "render/qt/window_view.h"

#include <QEventLoop>

#include <vector>

namespace skerrow::qt {

QtWindowManager::QtWindowManager(QWidget* owner) : owner_(owner) {}

QtWindowManager::~QtWindowManager() {
    for (auto& [window, view] : views_)
        delete view.data();
}

WindowView& QtWindowManager::viewFor(ui::Window& window) {
    auto it = views_.find(&window);
    if (it != views_.end() && it->second && !it->second->retired())
        return *it->second;
    auto* view = new WindowView(*this, window, owner_);
    views_[&window] = view;
    return *view;
}

void QtWindowManager::showModeless(ui::Window& window) {
    if (!window.isLoaded())
        return;
    WindowView& view = viewFor(window);
    view.sync();
    view.show();
    view.raise();
    view.activateWindow();
}

void QtWindowManager::showModal(ui::Window& window) {
    if (!window.isLoaded())
        return;
    WindowView& view = viewFor(window);
    if (!view.isModal()) {
        // Modality can only change while the window is hidden.
        view.hide();
        view.setWindowModality(Qt::ApplicationModal);
    }
    view.sync();
    view.show();
    view.raise();
    view.activateWindow();

    QEventLoop loop;
    QPointer<WindowView> guard(&view);
    QObject::connect(&view, &QObject::destroyed, &loop, &QEventLoop::quit);
    view.addLoop(&loop);
    if (!view.retired())
        loop.exec(QEventLoop::DialogExec);
    if (guard)
        guard->removeLoop(&loop);
}

void QtWindowManager::closed(ui::Window& window) {
    auto it = views_.find(&window);
    if (it == views_.end())
        return;
    QPointer<WindowView> view = it->second;
    views_.erase(it);
    if (view)
        view->retire();
}

void QtWindowManager::refresh() {
    std::vector<QPointer<WindowView>> shown;
    for (auto& [window, view] : views_)
        shown.push_back(view);
    for (const QPointer<WindowView>& view : shown)
        if (view && !view->retired())
            view->sync();
}

QWidget* QtWindowManager::view(const ui::Window& window) const {
    auto it = views_.find(&window);
    if (it == views_.end() || !it->second || it->second->retired())
        return nullptr;
    return it->second.data();
}

} // namespace skerrow::qt
