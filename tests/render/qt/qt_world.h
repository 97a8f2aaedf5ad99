// The add-in's pieces over the in-memory mail client, shown through the Qt
// renderer on the offscreen platform, with helpers that play the user.
#pragma once

#include "render/qt/qt_dialogs.h"
#include "render/qt/qt_window_manager.h"
#include "tests/support/world.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <string>

class QTreeView;

namespace skerrow::test {

// Runs act on the next modal dialog of type D (a message box, a file
// dialog) once it is up, as long as scope lives.
template <typename D>
void onNextDialog(QObject& scope, std::function<void(D&)> act, int turns = 1000) {
    QTimer::singleShot(0, &scope, [&scope, act = std::move(act), turns]() mutable {
        if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget()))
            act(*dialog);
        else if (turns > 0)
            onNextDialog<D>(scope, std::move(act), turns - 1);
        else
            ADD_FAILURE() << "the dialog never came up";
    });
}

class QtWindowTest : public ::testing::Test, protected Wiring<qt::QtDialogs, qt::QtWindowManager> {
protected:
    void TearDown() override;

    // A widget of a window on the screen, by control name ("Option1(2)" for
    // an element of an array); fails the test when there is none.
    template <typename W>
    W* widget(const ui::Window& window, const char* name) {
        QWidget* view = windows.view(window);
        W* found = view ? view->findChild<W*>(QString::fromUtf8(name)) : nullptr;
        if (!found)
            ADD_FAILURE() << "no " << name << " on the screen for " << window.formName();
        return found;
    }

    // Twips to pixels at the screen's resolution.
    static int px(int twips);
    static QRect px(int left, int top, int width, int height);

    // Plays the user in the window once its modal loop runs; a window the
    // script leaves open fails the test and is unloaded.
    void whenModal(ui::Window& window, std::function<void(QWidget&)> script);

    static bool activate(QWidget& view);
    // A key as the user types it: to the widget with the focus.
    static void press(QWidget& view, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    static void clickTab(QWidget& tabs, int tab);
    static void clickRow(QTreeView& list, int row);
    static void clickCheckBox(QTreeView& list, int row);

private:
    // Scripts waiting for their window; they die with the test.
    QObject scripts_;
    int waiting_ = 0;
};

} // namespace skerrow::test
