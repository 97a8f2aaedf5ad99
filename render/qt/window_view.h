// One window on the screen: a dialog whose widgets mirror the window's
// controls. The model is the truth; the widgets only report what the user
// did and are redrawn from the model afterwards.
#pragma once

#include "addin/ui/window.h"

#include <QDialog>
#include <QRect>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QButtonGroup;
class QEventLoop;

namespace skerrow::qt {

class QtWindowManager;

class WindowView : public QDialog {
public:
    WindowView(QtWindowManager& manager, ui::Window& window, QWidget* parent);
    ~WindowView() override;

    // Draws what changed in the model since the last time, then puts the
    // focus where the model wants it.
    void sync();
    // The model unloaded the window: off the screen for good; modal loops
    // waiting for it end.
    void retire();
    bool retired() const { return retired_; }
    void addLoop(QEventLoop* loop) { loops_.push_back(loop); }
    void removeLoop(QEventLoop* loop);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Bound {
        std::string name;
        int index = -1;
        ui::ControlKind kind = ui::ControlKind::Label;
        QWidget* widget = nullptr;
        std::vector<QWidget*> pages; // tab strips
        bool hideSelection = true;   // list views
        bool buddied = false;        // labels whose access key leads to a control
    };

    void build();
    QWidget* parentFor(const ui::Control& control);
    QWidget* create(const ui::Control& control, QWidget* parent);
    void wire(const ui::Control& control, QWidget* widget);
    void linkBuddies();
    void setTabOrder();

    void syncControl(Bound& bound, const ui::Control& control);
    void syncList(Bound& bound, const ui::Control& control);
    void syncFocus();
    struct Placed {
        Bound* bound;
        QRect rect;
    };
    void place();
    void fitLabels(std::vector<Placed>& placed) const;
    void showSelection(const Bound& bound);

    // Runs a user action on the model, then redraws every shown window.
    void report(const std::function<void()>& act);
    Bound* bound(const std::string& name, int index = -1);
    // The control a widget (or a part of one) stands for.
    const Bound* owning(const QWidget* widget) const;
    int px(int twips) const;

    QtWindowManager& manager_;
    ui::Window& window_;
    std::vector<Bound> bound_;
    std::map<std::string, QButtonGroup*> groups_;
    std::vector<QEventLoop*> loops_;
    std::optional<unsigned> shownRevision_;
    bool syncing_ = false;
    bool retired_ = false;
};

} // namespace skerrow::qt
