#include "tests/render/qt/qt_world.h"

#include "filter/settings.h"

#include <QScreen>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <cmath>

namespace skerrow::test {

int QtWindowTest::px(int twips) {
    return static_cast<int>(std::lround(twips * QGuiApplication::primaryScreen()->logicalDotsPerInch() / 1440.0));
}

QRect QtWindowTest::px(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

void QtWindowTest::TearDown() {
    EXPECT_EQ(waiting_, 0) << "a window the test waited for never came up";
}

void QtWindowTest::whenModal(ui::Window& window, std::function<void(QWidget&)> script) {
    ++waiting_;
    QTimer::singleShot(0, &scripts_, [this, &window, script = std::move(script)] {
        --waiting_;
        QWidget* view = windows.view(window);
        if (!view) {
            ADD_FAILURE() << window.formName() << " is not on the screen";
            window.unload();
            return;
        }
        EXPECT_TRUE(activate(*view));
        script(*view);
        if (window.isLoaded()) {
            ADD_FAILURE() << window.formName() << " was left open";
            window.unload();
        }
    });
}

bool QtWindowTest::activate(QWidget& view) {
    view.activateWindow();
    return QTest::qWaitForWindowActive(&view);
}

void QtWindowTest::press(QWidget& view, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QWidget* focused = view.focusWidget();
    QTest::keyClick(focused ? focused : &view, key, modifiers);
}

void QtWindowTest::clickTab(QWidget& tabs, int tab) {
    QTabBar* bar = static_cast<QTabWidget&>(tabs).tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(tab).center());
}

void QtWindowTest::clickRow(QTreeView& list, int row) {
    const QRect rect = list.visualRect(list.model()->index(row, 0));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

void QtWindowTest::clickCheckBox(QTreeView& list, int row) {
    // Where the style draws the box of the row's first cell.
    const QModelIndex item = list.model()->index(row, 0);
    QStyleOptionViewItem option;
    option.initFrom(list.viewport());
    option.rect = list.visualRect(item);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = item.data(Qt::CheckStateRole).value<Qt::CheckState>();
    option.text = item.data().toString();
    option.font = list.font();
    option.fontMetrics = list.fontMetrics();
    option.decorationSize = list.iconSize();
    option.showDecorationSelected = true;
    const QRect box = list.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &list);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
}

} // namespace skerrow::test
