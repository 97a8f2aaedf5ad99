// Message boxes and file dialogs as QtDialogs shows them.
#include "render/qt/qt_dialogs.h"

#include "tests/render/qt/qt_world.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>


namespace skerrow::qt {
namespace {

using test::onNextDialog;

struct BoxCase {
    ui::Buttons buttons;
    ui::Icon icon;
    QMessageBox::StandardButtons shownButtons;
    QMessageBox::Icon shownIcon;
    QMessageBox::StandardButton pressed;
    ui::Answer answer;
};

TEST(QtDialogs, MessageBoxesShowTheButtonsIconAndTitleAskedForAndAnswerThePressedButton) {
    using B = QMessageBox;
    const BoxCase cases[] = {
        {ui::Buttons::OK, ui::Icon::None, B::Ok, B::NoIcon, B::Ok, ui::Answer::OK},
        {ui::Buttons::OK, ui::Icon::Information, B::Ok, B::Information, B::Ok, ui::Answer::OK},
        {ui::Buttons::OKCancel, ui::Icon::Exclamation, B::Ok | B::Cancel, B::Warning, B::Cancel, ui::Answer::Cancel},
        {ui::Buttons::YesNo, ui::Icon::Question, B::Yes | B::No, B::Question, B::No, ui::Answer::No},
        {ui::Buttons::YesNoCancel, ui::Icon::Critical, B::Yes | B::No | B::Cancel, B::Critical, B::Yes,
         ui::Answer::Yes},
    };
    QObject scope;
    QtDialogs dialogs;
    for (const BoxCase& c : cases) {
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString text, title;
        onNextDialog<QMessageBox>(scope, [&](QMessageBox& box) {
            buttons = box.standardButtons();
            icon = box.icon();
            text = box.text();
            title = box.windowTitle();
            box.button(c.pressed)->click();
        });

        const ui::Answer answer = dialogs.messageBox("User data\r\nbacked up", c.buttons, c.icon, " Backup ");

        EXPECT_EQ(buttons, c.shownButtons) << int(c.buttons);
        EXPECT_EQ(icon, c.shownIcon) << int(c.icon);
        EXPECT_EQ(text, "User data\nbacked up");
        EXPECT_EQ(title, " Backup ");
        EXPECT_EQ(answer, c.answer) << int(c.buttons);
    }
}

TEST(QtDialogs, FileDialogsOfferTheFilterInQtsFormAndReturnTheNameAsTyped) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QObject scope;
    QtDialogs dialogs;
    const struct {
        const char* filter;
        QStringList shown;
    } filters[] = {
        {"anti filter(*.flt)|*.flt", {"anti filter(*.flt) (*.flt)"}},
        {"Text|*.txt;*.log|All|*.*", {"Text (*.txt *.log)", "All (*.*)"}},
    };
    for (const auto& f : filters) {
        QStringList shown;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        onNextDialog<QFileDialog>(scope, [&](QFileDialog& dialog) {
            shown = dialog.nameFilters();
            mode = dialog.acceptMode();
            // As typed into the name box, then Enter.
            dialog.selectFile(folder.filePath("backup"));
            QTest::keyClick(&dialog, Qt::Key_Return);
        });

        const auto chosen = dialogs.saveFile(f.filter);

        EXPECT_EQ(shown, f.shown) << f.filter;
        EXPECT_EQ(mode, QFileDialog::AcceptSave);
        EXPECT_EQ(chosen, folder.filePath("backup").toStdString()) << "no extension is added";
    }

    onNextDialog<QFileDialog>(scope, [](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(dialogs.openFile("anti filter(*.flt)|*.flt"), std::nullopt) << "cancelled";
}

} // namespace
} // namespace skerrow::qt
