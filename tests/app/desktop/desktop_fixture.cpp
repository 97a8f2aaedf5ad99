#include "tests/app/desktop/desktop_fixture.h"

#include "addin/forms.h"
#include "addin/startload.h"
#include "filter/settings.h"
#include "render/qt/qt_window_manager.h"
#include "review/checkspamfrm.h"

#include <QMenu>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QTest>

#include <utime.h>

#include <cstdlib>
#include <ctime>

namespace skerrow::test {

void DesktopTest::SetUp() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); // dates read the same everywhere
    dir = makeTempDir("skerrow-desktop");
    maildir = dir / "Maildir";
    configDir = dir / "config";
    dataDir = dir / "data";
    helpDir = dir / "help";
    for (const fs::path& made : {maildir / "cur", maildir / "new", maildir / "tmp", dataDir, helpDir})
        fs::create_directories(made);
}

void DesktopTest::TearDown() {
    if (session_ && !session_->ended())
        quit();
    session_.reset();
    settle();
    fs::remove_all(dir);
}

std::string DesktopTest::deliver(const std::string& where, const std::string& from, const std::string& subject,
                                 int minutesAgo, const std::string& to, const std::string& folder,
                                 const std::string& body) {
    const std::time_t when = std::time(nullptr) - static_cast<std::time_t>(minutesAgo) * 60;
    const std::string unique = std::to_string(when) + ".T" + std::to_string(++delivered_) + ".desktop-test";
    const fs::path base = folder.empty() ? maildir : maildir / folder;
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(base / sub);
    const fs::path temporary = base / "tmp" / unique;
    writeFile(temporary, mailText({"From: " + from, "To: " + to, "Subject: " + subject}, body));
    const struct utimbuf times{when, when};
    ::utime(temporary.c_str(), &times);
    fs::rename(temporary, base / where / unique);
    return unique;
}

std::string DesktopTest::listFile() const {
    posix::PosixPlatform platform(configDir.string(), dataDir.string());
    return getSystemDir(platform) + "/" + getUserName(platform);
}

void DesktopTest::writeListFile(const std::vector<std::string>& lines) {
    std::ofstream out(listFile(), std::ios::binary);
    for (const auto& line : lines)
        out << line << "\r\n";
}

desktop::DesktopSession& DesktopTest::start(std::vector<std::string> contacts) {
    desktop::DesktopOptions options;
    options.mail = {maildir.string(), desktopUser, std::move(contacts)};
    options.imap = imap;
    options.configDir = configDir.string();
    options.dataDir = dataDir.string();
    options.helpFolder = helpDir.string() + "/";
    session_.reset();
    session_ = std::make_unique<desktop::DesktopSession>(options);
    session_->start();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(session_->primaryWindow()));
    settle();
    return *session_;
}

void DesktopTest::quit() {
    for (desktop::MainWindow* each : session_->windows())
        if (!each->closed())
            each->close();
    EXPECT_TRUE(session_->ended());
    settle();
}

Varient& DesktopTest::addin() {
    return session_->addin().state();
}

bool DesktopTest::waitFor(const std::function<bool()>& condition, int milliseconds) {
    return QTest::qWaitFor(condition, milliseconds);
}

void DesktopTest::settle() {
    // Longer than the windows' refresh delay, so that what it queued has run.
    QTest::qWait(120);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

DesktopTest::ListRow DesktopTest::row(desktop::MainWindow& window, const std::string& subject) {
    const QAbstractItemModel& rows = *window.messageList()->model();
    for (int i = 0; i < rows.rowCount(); ++i)
        if (rows.index(i, desktop::SubjectColumn).data().toString().toStdString() == subject)
            return {rows.index(i, 0)};
    ADD_FAILURE() << "no message \"" << subject << "\" in the list";
    return {};
}

std::vector<std::string> DesktopTest::subjects(desktop::MainWindow& window) {
    std::vector<std::string> shown;
    const QAbstractItemModel& rows = *window.messageList()->model();
    for (int i = 0; i < rows.rowCount(); ++i)
        shown.push_back(rows.index(i, desktop::SubjectColumn).data().toString().toStdString());
    return shown;
}

void DesktopTest::clickRow(desktop::MainWindow& window, const std::string& subject, Qt::KeyboardModifiers modifiers) {
    const QModelIndex index = row(window, subject).index;
    if (!index.isValid())
        return;
    QTreeView* list = window.messageList();
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, list->visualRect(index).center());
}

void DesktopTest::clickFolder(desktop::MainWindow& window, const std::string& name) {
    QTreeWidget* tree = window.folderTree();
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        const QString text = (*it)->text(0);
        // "Inbox (3)": the count of unread mails follows the name.
        if (text.toStdString() == name || text.startsWith(QString::fromStdString(name + " ("))) {
            tree->scrollToItem(*it);
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(*it).center());
            return;
        }
    }
    ADD_FAILURE() << "no folder " << name;
}

std::vector<QToolBar*> DesktopTest::toolBars(desktop::MainWindow& window, const std::string& name) {
    std::vector<QToolBar*> bars;
    for (QToolBar* bar : window.findChildren<QToolBar*>())
        if (bar->windowTitle().toStdString() == name)
            bars.push_back(bar);
    return bars;
}

QToolButton* DesktopTest::toolButton(desktop::MainWindow& window, const std::string& caption) {
    for (QToolBar* bar : window.findChildren<QToolBar*>())
        for (QToolButton* button : bar->findChildren<QToolButton*>())
            if (button->text().toStdString() == caption)
                return button;
    ADD_FAILURE() << "no tool button " << caption;
    return nullptr;
}

QAction* DesktopTest::menuItem(desktop::MainWindow& window, const std::string& caption) {
    if (QToolButton* popup = toolButton(window, popupCaption))
        for (QAction* action : popup->menu()->actions())
            if (action->text().toStdString() == caption)
                return action;
    ADD_FAILURE() << "no menu item " << caption;
    return nullptr;
}

QWidget* DesktopTest::checkSpamView() {
    QWidget* view = session_->windowManager().view(addin().forms().checkSpamFrm());
    return view && view->isVisible() ? view : nullptr;
}

namespace {

// The window as a window manager frames it: a title bar with its caption.
QPixmap framed(QWidget& window) {
    const QPixmap body = window.grab();
    const int bar = 26;
    QPixmap picture(body.width() + 2, body.height() + bar + 1);
    picture.fill(QColor(40, 60, 100));
    QPainter painter(&picture);
    QLinearGradient shade(0, 0, 0, bar);
    shade.setColorAt(0, QColor(78, 118, 178));
    shade.setColorAt(1, QColor(44, 78, 140));
    painter.fillRect(QRect(0, 0, picture.width(), bar), shade);
    painter.drawPixmap(1, bar, body);
    QFont font = window.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(10, 0, picture.width() - 50, bar), Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
    painter.drawText(QRect(picture.width() - 30, 0, 24, bar), Qt::AlignCenter, QStringLiteral("\u2715"));
    return picture;
}

} // namespace

void DesktopTest::screenshot(QWidget& widget, const std::string& file, QWidget* over) {
    const char* chosen = std::getenv("SKERROW_SCREENSHOTS");
    const fs::path folder = chosen && *chosen ? fs::path(chosen) : fs::path(SKERROW_SCREENSHOT_DIR);
    fs::create_directories(folder);
    QPixmap picture = framed(widget);
    if (over) {
        // Where a window manager puts a dialog: in the middle of its owner.
        const QPixmap top = framed(*over);
        QPainter painter(&picture);
        const QPoint at((picture.width() - top.width()) / 2, (picture.height() - top.height()) / 2);
        painter.fillRect(QRect(at + QPoint(5, 5), top.size()), QColor(0, 0, 0, 70));
        painter.drawPixmap(at, top);
    }
    EXPECT_TRUE(picture.save(QString::fromStdString((folder / file).string()), "PNG")) << file;
}

} // namespace skerrow::test
