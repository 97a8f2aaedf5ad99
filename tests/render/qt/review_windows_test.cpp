// The Check Spam window, the mail viewer and the about box on real widgets.
#include "tests/render/qt/qt_world.h"

#include "addin/forms.h"
#include "filter/checkspam.h"
#include "review/about.h"
#include "review/checkspamfrm.h"
#include "review/mailbody.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <QTreeView>

namespace skerrow::test {
namespace {

using namespace std::chrono;
using Entries = std::vector<std::string>;

host::Date at(int day, int hour, int minute) {
    return sys_days{year{2024} / 3 / day} + hours{hour} + minutes{minute};
}

QString shownDate(host::Date date) {
    const auto ms = duration_cast<milliseconds>(date.time_since_epoch()).count();
    return QLocale::system().toString(QDateTime::fromMSecsSinceEpoch(ms), QLocale::ShortFormat);
}

class CheckSpamWindow : public QtWindowTest {
protected:
    CheckSpamFrm& form = v.forms().checkSpamFrm();

    // As the Check Spam command opens it.
    QWidget& open() {
        v.newMailPending = true;
        checkSpam(v, host.application());
        QWidget* view = windows.view(form);
        if (!view)
            throw std::runtime_error("the Check Spam window did not open");
        EXPECT_TRUE(activate(*view));
        return *view;
    }
    QTreeView& list() { return *widget<QTreeView>(form, "ListView1"); }
    // "x" ticked, "-" not; "r" when red: as the user sees the rows.
    std::string shownTicks() {
        std::string marks;
        for (int i = 0; i < list().model()->rowCount(); ++i) {
            const QModelIndex item = list().model()->index(i, 0);
            marks += item.data(Qt::CheckStateRole).toInt() == Qt::Checked ? "x" : "-";
            marks += item.siblingAtColumn(1).data(Qt::ForegroundRole) == QBrush(QColor(255, 0, 0)) ? "r " : " ";
        }
        return marks;
    }
    QStringList column(int column, int role = Qt::DisplayRole) {
        QStringList texts;
        for (int i = 0; i < list().model()->rowCount(); ++i)
            texts << list().model()->index(i, column).data(role).toString();
        return texts;
    }
};

// Sorting and ticking are the window's; the renderer's are the dates in the
// user's format, the tooltips, the picture, and the ticks and red drawn.
TEST_F(CheckSpamWindow, ShowsTheSuspectsWithLocalDatesAndTooltips) {
    mail("bob@spam.example", "Cheap pills")->spec().received = at(1, 9, 30);
    mail("amy@unknown.example", "Hello again")->spec().received = at(2, 14, 5);

    open();

    EXPECT_FALSE(widget<QLabel>(form, "Picture1")->pixmap().isNull());
    EXPECT_EQ(list().model()->headerData(2, Qt::Horizontal).toString(), "Received");
    EXPECT_EQ(column(2), QStringList({shownDate(at(2, 14, 5)), shownDate(at(1, 9, 30))}));
    EXPECT_EQ(column(1, Qt::ToolTipRole)[0], "Sender address");
    EXPECT_EQ(column(2, Qt::ToolTipRole)[0], "Received time");
}

TEST_F(CheckSpamWindow, SpaceOrAClickOnTheBoxTicksAndAltNShowsTheRebuiltList) {
    mail("bob@spam.example", "Cheap pills");
    mail("amy@unknown.example", "Hello again");
    mail("bob@spam.example", "More pills");
    QWidget& view = open();

    clickRow(list(), 0);
    EXPECT_EQ(form.control("ListView1").selectedRow, 0);
    press(view, Qt::Key_Space);
    EXPECT_EQ(shownTicks(), "xr - - ");
    press(view, Qt::Key_N, Qt::AltModifier);

    EXPECT_TRUE(QTest::qWaitFor([&] { return list().model()->rowCount() == 2; }));
    EXPECT_EQ(v.friendemail.entries(), Entries({"amy@unknown.example"}));
    clickCheckBox(list(), 1);
    EXPECT_EQ(shownTicks(), "xr xr ");
}

// What Select All ticks is the window's; that the box shows its new caption
// and a closed window's widgets go are the renderer's.
TEST_F(CheckSpamWindow, SelectAllRelabelsTheBoxAndEscDestroysTheWindow) {
    mail("bob@spam.example", "Cheap pills");
    QWidget& view = open();
    QPointer<QWidget> shown(&view);
    QTest::mouseClick(widget<QCheckBox>(form, "Check2"), Qt::LeftButton);
    EXPECT_EQ(widget<QCheckBox>(form, "Check2")->text(), "Select None");
    press(view, Qt::Key_Escape);
    EXPECT_FALSE(form.isLoaded());
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.isNull(); })) << "the dialog is not destroyed";
}

TEST_F(CheckSpamWindow, DoubleClickShowsTheMailInTheViewerUntilEsc) {
    mail("amy@unknown.example", "Hello [*] again");
    open();
    mailbody& viewer = v.forms().mailBodyViewer();
    whenModal(viewer, [&](QWidget& shown) {
        // As the title bar shows it: Qt would take "[*]" for its modified mark.
        EXPECT_EQ(shown.windowHandle()->title(), "Hello [*] again");
        EXPECT_EQ(widget<QPlainTextEdit>(viewer, "Text1")->toPlainText(), "Dear John,\nsome text.\n");
        widget<QPlainTextEdit>(viewer, "Text1")->setFocus();
        press(shown, Qt::Key_Return);
        EXPECT_TRUE(viewer.isLoaded()) << "Enter in the body closed the viewer";
        press(shown, Qt::Key_Escape);
    });

    // As the system sends a double click: press, release, double click, release.
    const QPoint row = list().visualRect(list().model()->index(0, 0)).center();
    QTest::mouseClick(list().viewport(), Qt::LeftButton, Qt::NoModifier, row);
    QTest::mouseDClick(list().viewport(), Qt::LeftButton, Qt::NoModifier, row);
    QTest::mouseRelease(list().viewport(), Qt::LeftButton, Qt::NoModifier, row);

    EXPECT_EQ(windows.view(viewer), nullptr);
    EXPECT_EQ(column(0), QStringList({"Hello [*] again"})) << "the review window stays with its rows";
}

TEST_F(QtWindowTest, AboutBoxOpensThePagesAndClosesWithAltO) {
    about& box = v.forms().aboutBox();
    whenModal(box, [&](QWidget& shown) {
        EXPECT_EQ(shown.windowTitle(), "About Skerrow");
        QLabel* title = widget<QLabel>(box, "Label4");
        EXPECT_EQ(title->text(), "Skerrow  Version 1.3");
        EXPECT_TRUE(title->font().bold());
        EXPECT_EQ(title->font().pointSize(), 12);
        EXPECT_EQ(widget<QLabel>(box, "Picture1")->pixmap().size(), QSize(32, 32));
        EXPECT_EQ(widget<QLabel>(box, "Picture2")->pixmap().size(), QSize(126, 17));

        QTest::mouseClick(widget<QPushButton>(box, "Command3"), Qt::LeftButton);
        QTest::mouseClick(widget<QLabel>(box, "Picture2"), Qt::LeftButton);
        EXPECT_TRUE(box.isLoaded());
        press(shown, Qt::Key_O, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !box.isLoaded(); }));
    });

    box.showModal();

    EXPECT_EQ(platform.opened, (std::vector<std::string>{supportPageAddress, homePageAddress}));
}

} // namespace
} // namespace skerrow::test
