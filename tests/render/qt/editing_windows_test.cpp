// The entry dialog and the options window on real widgets.
#include "tests/render/qt/qt_world.h"

#include "addin/forms.h"
#include "filter/addfilter.h"
#include "options/options.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>

namespace skerrow::test {
namespace {

using Entries = std::vector<std::string>;

class EntryDialog : public QtWindowTest {
protected:
    addFilter& dialog = v.forms().addFilterDialog();
};

TEST_F(EntryDialog, TypingEnablesOkAsTheDefaultAndEnterConfirms) {
    dialog.AddFilterObjectName = enemyemailKey;
    whenModal(dialog, [&](QWidget& view) {
        QPushButton* ok = widget<QPushButton>(dialog, "Command1");
        QPushButton* cancel = widget<QPushButton>(dialog, "Command2");
        EXPECT_FALSE(ok->isEnabled());
        EXPECT_TRUE(cancel->isDefault());

        QTest::keyClicks(widget<QLineEdit>(dialog, "Text1"), "x@junk.example");
        EXPECT_TRUE(ok->isEnabled());
        EXPECT_TRUE(ok->isDefault());
        EXPECT_FALSE(cancel->isDefault());
        press(view, Qt::Key_Return);
    });

    dialog.showModal();

    EXPECT_EQ(v.enemyemail.entries(), Entries({"x@junk.example"}));
}

// Every label shows its whole caption and lies over none of the controls
// beside it; the option labels keep to one line.
void expectLabelsFit(QWidget& view) {
    for (QLabel* label : view.findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty())
            continue;
        const std::string caption = label->text().toStdString();
        EXPECT_LE(label->heightForWidth(label->width()), label->height()) << caption << " is cut off";
        if (label->objectName().contains(QRegularExpression("^Label[6-9]$"))) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << caption << " wraps";
        }
        for (QWidget* other : label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (other != label && other->isVisible() && !qobject_cast<QGroupBox*>(other) &&
                !qobject_cast<QTabWidget*>(other)) {
                EXPECT_FALSE(label->geometry().intersects(other->geometry()))
                    << caption << " lies over " << other->objectName().toStdString();
            }
        }
    }
}

class OptionsWindow : public QtWindowTest {
protected:
    Options& options = v.forms().optionsWindow();

    QTreeView& list(const char* name) { return *widget<QTreeView>(options, name); }
    QStringList rows(const char* name) {
        QStringList texts;
        for (int i = 0; i < list(name).model()->rowCount(); ++i)
            texts << list(name).model()->index(i, 0).data().toString();
        return texts;
    }
    void click(const char* name) { QTest::mouseClick(widget<QWidget>(options, name), Qt::LeftButton); }
};

TEST_F(OptionsWindow, ControlsSitWhereTheirTwipsSayOnBothTabs) {
    whenModal(options, [&](QWidget& view) {
        auto* tabs = widget<QTabWidget>(options, "SSTab1");
        EXPECT_EQ(view.size(), px(0, 0, 7965, 6705).size());
        EXPECT_EQ(tabs->geometry(), px(120, 120, 7695, 5895));
        EXPECT_EQ(widget<QPushButton>(options, "Command1")->geometry(), px(3360, 6240, 1200, 360));
        EXPECT_EQ(widget<QPushButton>(options, "Command9")->geometry(), px(6240, 6240, 1200, 360));
        // Inside the tab strip, from its corner; inside a frame, from the frame's.
        EXPECT_EQ(widget<QGroupBox>(options, "Frame1")->mapTo(tabs, QPoint()), px(360, 840, 0, 0).topLeft());
        EXPECT_EQ(widget<QPushButton>(options, "Command3")->geometry(), px(4560, 600, 1200, 360));
        // An "&" shows as typed: doubled on a tab, as it is on a label.
        EXPECT_EQ(tabs->tabText(1), "Friends List && Blacklist");
        EXPECT_EQ(widget<QLabel>(options, "Label1")->text(), "Backup Friends List & Blacklist Settings to a File.");
        EXPECT_FALSE(widget<QPushButton>(options, "Command9")->isEnabled());
        expectLabelsFit(view);

        clickTab(*tabs, 1);
        EXPECT_EQ(options.control("SSTab1").currentTab, 1);
        EXPECT_TRUE(widget<QGroupBox>(options, "Frame3")->isVisible());
        EXPECT_EQ(widget<QGroupBox>(options, "Frame3")->mapTo(tabs, QPoint()), px(120, 600, 0, 0).topLeft());
        EXPECT_EQ(widget<QPushButton>(options, "Command8")->geometry(), px(3120, 4320, 1200, 360));
        expectLabelsFit(view);
        press(view, Qt::Key_C, Qt::AltModifier); // "&Cancel"
        EXPECT_TRUE(QTest::qWaitFor([&] { return !options.isLoaded(); }));
    });

    options.showModal();
}

TEST_F(OptionsWindow, DeleteActsOnTheListClickedLastWhoseSelectionStaysShown) {
    v.friendemail = {"amy@a.example", "bob@b.example"};
    v.enemydomain = {"*@junk.example"};
    whenModal(options, [&](QWidget& view) {
        clickTab(*widget<QTabWidget>(options, "SSTab1"), 1);
        // Moving the selection with the keys is no click.
        const auto arrow = [&](Qt::Key key) {
            list("ListView1").setFocus();
            press(view, key);
            press(view, key);
        };
        arrow(Qt::Key_Down);
        EXPECT_EQ(options.control("ListView1").selectedRow, 1);
        EXPECT_FALSE(widget<QPushButton>(options, "Command8")->isEnabled());

        clickRow(list("ListView2"), 0);
        EXPECT_TRUE(widget<QPushButton>(options, "Command8")->isEnabled());
        arrow(Qt::Key_Up);
        EXPECT_EQ(options.control("ListView1").selectedRow, 0);
        QTest::mouseClick(widget<QLineEdit>(options, "Text1"), Qt::LeftButton);
        EXPECT_EQ(list("ListView2").selectionModel()->selectedRows().size(), 1) << "the selection went with the focus";

        click("Command8");
        EXPECT_TRUE(rows("ListView2").isEmpty());
        EXPECT_EQ(rows("ListView1"), QStringList({"amy@a.example", "bob@b.example"}));
        EXPECT_EQ(widget<QLineEdit>(options, "Text1")->text(), "junk.example");
        click("Command2");
    });

    options.showModal();
}

// The refusal is the window's; that the option button of the array chose
// the domain list, and the emptied box shows and has the focus, are the
// renderer's.
TEST_F(OptionsWindow, AnEntryOfTheWrongFormIsRefusedInAMessageBoxAndTheTextBoxEmptied) {
    QString boxText;
    whenModal(options, [&](QWidget& view) {
        clickTab(*widget<QTabWidget>(options, "SSTab1"), 1);
        click("Option1(3)");
        EXPECT_FALSE(widget<QRadioButton>(options, "Option1(0)")->isChecked());
        QTest::keyClicks(widget<QLineEdit>(options, "Text1"), "*@junk.example");
        onNextDialog<QMessageBox>(view, [&](QMessageBox& box) {
            boxText = box.text();
            QTest::keyClick(&box, Qt::Key_Return);
        });
        click("Command7");
        EXPECT_TRUE(widget<QLineEdit>(options, "Text1")->text().isEmpty());
        EXPECT_EQ(view.focusWidget(), widget<QLineEdit>(options, "Text1"));
        click("Command2");
    });

    options.showModal();

    EXPECT_EQ(boxText, "Please enter domain name.");
}

} // namespace
} // namespace skerrow::test
