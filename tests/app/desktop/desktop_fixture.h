// The desktop program on a Maildir in a fresh temporary folder, with its own
// settings and data folders, shown on the offscreen platform, with helpers
// that play the user through the real widgets.
#pragma once

#include "app/desktop/main_window.h"
#include "app/desktop/session.h"
#include "filter/varient.h"
#include "tests/support/files.h"

#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace skerrow::test {

inline constexpr const char* desktopUser = "john.smith@example.com";

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A message file as a delivery agent leaves it: "new" for mail no
    // client has seen, "cur" for mail seen but unread. folder "" is the
    // Inbox, ".Name" another folder. Returns the unique name.
    std::string deliver(const std::string& where, const std::string& from, const std::string& subject,
                        int minutesAgo = 10, const std::string& to = desktopUser, const std::string& folder = "",
                        const std::string& body = "Hello.\n");
    // The list file, before the first start: four lines as the filter writes them.
    void writeListFile(const std::vector<std::string>& lines);
    std::string listFile() const;

    // Starts a session (the first one or, after quit, the next) and waits
    // for its main window.
    desktop::DesktopSession& start(std::vector<std::string> contacts = {});
    // Closes every main window; the session ends.
    void quit();
    desktop::DesktopSession& session() { return *session_; }
    desktop::MainWindow& window() { return *session_->primaryWindow(); }
    Varient& addin();

    // Pumps events until the condition holds; false after the time-out.
    static bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000);
    // Lets queued refreshes and file notifications run.
    static void settle();

    // A row of the message list as the view shows it.
    struct ListRow {
        QModelIndex index;
        QString text(int column) const { return index.siblingAtColumn(column).data().toString(); }
        QFont font(int column) const { return index.siblingAtColumn(column).data(Qt::FontRole).value<QFont>(); }
    };
    // The message list's row showing that subject; fails the test when none.
    ListRow row(desktop::MainWindow& window, const std::string& subject);
    static std::vector<std::string> subjects(desktop::MainWindow& window);
    void clickRow(desktop::MainWindow& window, const std::string& subject,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void clickFolder(desktop::MainWindow& window, const std::string& name);
    static std::vector<QToolBar*> toolBars(desktop::MainWindow& window, const std::string& name);
    // The tool button of that caption on the window's toolbars.
    static QToolButton* toolButton(desktop::MainWindow& window, const std::string& caption);
    // The item of that caption in the " &Corvalle" menu.
    static QAction* menuItem(desktop::MainWindow& window, const std::string& caption);

    // The Check Spam window on the screen, or null.
    QWidget* checkSpamView();

    // Writes a picture of the widget, and of the windows over it, to the
    // screenshot folder.
    static void screenshot(QWidget& widget, const std::string& file, QWidget* over = nullptr);

    fs::path dir;
    fs::path maildir;
    fs::path configDir;
    fs::path dataDir;
    fs::path helpDir;
    // The account start() opens instead of the Maildir, when set.
    std::shared_ptr<const imap::ImapOptions> imap;

private:
    std::unique_ptr<desktop::DesktopSession> session_;
    int delivered_ = 0;
};

} // namespace skerrow::test
