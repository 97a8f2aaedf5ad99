// One run of the desktop mail client: the Maildir or IMAP host, its main
// windows, the add-in connected to it, and the Qt renderer of the add-in's
// windows.
//
// Host events: NewMail when a message appears in the Inbox's new/ (and once
// at start when new/ holds mail no client has looked at), or when Get Mail
// finds one there; on IMAP, when the Inbox's UIDNEXT grows, as a second
// connection idling on it (or Get Mail) learns; SelectionChange at every change of a window's
// selection; Close when a window closes. Events the add-in's handlers set
// off while another of them runs (a selection that loses a mail deleted by
// a command) wait until it has returned.
#pragma once

#include "addin/host/host.h"
#include "app/desktop/events.h"
#include "hosts/maildir/maildir_host.h"
#include "platform/posix/posix_platform.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFileSystemWatcher;
class QObject;

namespace skerrow {
class startLoad;
namespace imap {
struct ImapOptions;
}
namespace ui {
class Dialogs;
}
namespace qt {
class QtDialogs;
class QtWindowManager;
} // namespace qt
} // namespace skerrow

namespace skerrow::desktop {

class MainWindow;
class InboxIdler;

// What the session needs of its mail client, a Maildir or an IMAP account.
class MailStore {
public:
    virtual ~MailStore() = default;
    virtual std::shared_ptr<host::Application> application() const = 0;
    virtual host::ObjectFactory& objects() = 0;
    virtual host::Clipboard& clipboard() = 0;
    virtual const std::string& storeID() const = 0;
    virtual std::vector<std::shared_ptr<host::Folder>> folders() = 0;
    virtual void setExplorer(std::shared_ptr<host::Explorer> explorer) = 0;
    virtual void raiseNewMail() = 0;
    virtual void markRead(const std::shared_ptr<host::MailItem>& mail) = 0;
    virtual void markUnread(const std::shared_ptr<host::MailItem>& mail) = 0;
};

struct DesktopOptions {
    maildir::MaildirOptions mail;
    // An IMAP account (its password known) instead of the Maildir.
    std::shared_ptr<const imap::ImapOptions> imap;
    // The folders of the settings (and the toolbar layout) and of the list
    // file; nothing: $XDG_CONFIG_HOME/skerrow and $XDG_DATA_HOME/skerrow.
    std::optional<std::string> configDir;
    std::optional<std::string> dataDir;
    // The folder that holds the help file, ending with "/"; empty: none.
    std::string helpFolder;
    // Shown in the main window's status bar (the demo says what it is).
    std::string note;
};

// The file under the configuration folder that keeps the toolbars.
inline constexpr const char* toolbarLayoutFile = "toolbars";

// The names of the toolbars kept in a layout file, one a line.
std::vector<std::string> readToolbarLayout(const std::string& path);
// Replaces the file whole; throws std::runtime_error when it cannot.
void writeToolbarLayout(const std::string& path, const std::vector<std::string>& names);

class DesktopSession {
public:
    // Opens the Maildir or connects to the account; throws std::exception
    // saying why it cannot.
    // Needs a QApplication.
    explicit DesktopSession(DesktopOptions options);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // Sets the help path up, opens the main window with the toolbars kept
    // from the last session, connects the add-in and watches for mail.
    void start();
    // A further main window on the Inbox, which the add-in does not watch.
    MainWindow* openWindow();
    // Looks for mail that has arrived in the Inbox and shows it.
    void getMail();

    // After the last main window has closed: the add-in is disconnected.
    bool ended() const { return ended_; }
    void setOnEnded(std::function<void()> onEnded) { onEnded_ = std::move(onEnded); }

    MailStore& host() { return *host_; }
    posix::PosixPlatform& platform() { return platform_; }
    startLoad& addin() { return *addin_; }
    EventLog& events() { return log_; }
    qt::QtWindowManager& windowManager() { return *windowManager_; }
    MainWindow* primaryWindow() const;
    std::vector<MainWindow*> windows() const;
    const DesktopOptions& options() const { return options_; }
    std::string toolbarLayoutPath() const;

    // For the windows. Runs an event of a window's (its handlers trap
    // their own failures) and refreshes what it changed; an event the user
    // set off makes the window the active one.
    void dispatch(MainWindow& from, const std::function<void()>& event, bool byUser = true);
    void windowActivated(MainWindow& window);
    void windowClosed(MainWindow& window);
    // The folder's directory; empty on IMAP.
    std::string folderPath(const std::shared_ptr<host::Folder>& folder);
    // The From field in display form ("Name <addr>"); empty when unreadable.
    std::string fromText(const std::shared_ptr<host::MailItem>& mail);
    void markRead(const std::shared_ptr<host::MailItem>& mail);
    void markUnread(const std::shared_ptr<host::MailItem>& mail);
    bool isDeletedItems(const std::shared_ptr<host::Folder>& folder);
    // The message boxes, as the add-in's own are shown.
    ui::Dialogs& dialogs();

private:
    void checkNewMail();
    void mailNoticed(bool arrived);
    // The hashes of the names of the files in new/, sorted.
    std::vector<std::size_t> newMailNames() const;
    void refreshAll();
    void end();

    DesktopOptions options_;
    EventLog log_;
    std::unique_ptr<MailStore> host_;
    posix::PosixPlatform platform_;
    std::shared_ptr<host::MessagingSession> reader_;
    std::unique_ptr<startLoad> addin_;
    std::vector<std::unique_ptr<MainWindow>> windows_;
    // Declared after the windows: the add-in's dialogs go before them.
    std::unique_ptr<qt::QtDialogs> dialogs_;
    std::unique_ptr<qt::QtWindowManager> windowManager_;
    std::unique_ptr<QFileSystemWatcher> inboxWatcher_;
    std::vector<std::size_t> seenInNew_;
    // Idles on the IMAP Inbox; hands what it notices to the GUI thread
    // through the context, which goes after it.
    std::unique_ptr<QObject> noticeContext_;
    std::unique_ptr<InboxIdler> idler_;
    MainWindow* active_ = nullptr;
    int running_ = 0; // events under way
    std::vector<std::function<void()>> waiting_;
    bool connected_ = false;
    bool ended_ = false;
    std::function<void()> onEnded_;
};

} // namespace skerrow::desktop
