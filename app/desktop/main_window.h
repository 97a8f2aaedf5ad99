// The mail client's main window over the mail store: the folders on the left,
// the folder's messages at the top, the selected mail's text below, and the
// command bars on top. Its explorer object is what the add-in sees of it.
#pragma once

#include "addin/host/host.h"
#include "app/desktop/command_bars.h"
#include "app/desktop/events.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <string>
#include <vector>

class QFileSystemWatcher;
class QLabel;
class QPlainTextEdit;
class QSplitter;
class QTimer;
class QTreeView;
class QTreeWidget;

namespace skerrow::desktop {

class DesktopSession;
class MainWindow;
class MessageModel;

// Captions of the window's own commands.
inline constexpr const char* standardBarName = "Standard";
inline constexpr const char* getMailCaption = "&Get Mail";
inline constexpr const char* newWindowCaption = "&New Window";
inline constexpr const char* deleteCaption = "&Delete";
inline constexpr const char* markReadCaption = "Mark as &Read";
inline constexpr const char* markUnreadCaption = "Mark as &Unread";
// Asked before Delete removes items of Deleted Items for good.
inline constexpr const char* deleteForGoodQuestion =
    "The selected items will be deleted for good. Do you want to delete them?";
inline constexpr const char* windowTitleSuffix = " - Skerrow";

// Message list columns; saved state does not depend on their order.
enum MessageColumn { SubjectColumn, FromColumn, ReceivedColumn, MessageColumnCount };

// The explorer of one main window. Once the window has closed every call
// fails and no event comes any more.
class WindowExplorer : public host::Explorer {
public:
    explicit WindowExplorer(MainWindow& window);

    std::shared_ptr<host::CommandBars> GetCommandBars() override;
    std::shared_ptr<host::Selection> GetSelection() override;
    std::shared_ptr<host::Folder> CurrentFolder() override;
    host::Subscription onClose(host::EventHandler handler) override;
    host::Subscription onSelectionChange(host::EventHandler handler) override;

    void raiseSelectionChange(EventLog& log);
    void raiseClose(EventLog& log);
    std::size_t selectionChangeSubscribers() const { return selectionHandlers_.size(); }

private:
    MainWindow& window();

    QPointer<MainWindow> window_;
    bool closed_ = false;
    HandlerList<host::EventHandler> closeHandlers_;
    HandlerList<host::EventHandler> selectionHandlers_;
};

class MainWindow : public QMainWindow {
public:
    // The primary window is the one the session starts with: its toolbars
    // are the ones kept between sessions.
    MainWindow(DesktopSession& session, bool primary);
    ~MainWindow() override;

    bool primary() const { return primary_; }
    bool closed() const { return closed_; }
    std::shared_ptr<WindowExplorer> explorer() const { return explorer_; }
    std::shared_ptr<QtCommandBars> commandBars() const { return bars_; }

    // Shows a folder: its messages with nothing selected.
    void showFolder(const std::shared_ptr<host::Folder>& folder);
    std::shared_ptr<host::Folder> currentFolder() const { return folder_; }
    // The selected items, top to bottom.
    std::vector<std::shared_ptr<host::Item>> selection() const;

    // Reads the folders and the shown folder again, changing only the rows
    // of messages that came, went or were read. Selected messages that are
    // still there stay selected; when the selection loses one, the
    // selection has changed.
    void refresh();
    // Refreshes once the events queued now have been handled.
    void scheduleRefresh();

    QTreeWidget* folderTree() const { return folders_; }
    QTreeView* messageList() const { return messages_; }
    QPlainTextEdit* readingPane() const { return reading_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildStandardBar();
    void fillFolders();
    void watchFolder();
    // Brings the message list in line with the folder, keeping the selection.
    void updateRows();
    void folderClicked();
    void selectionChanged();
    // Shows the one selected mail; the mail shown before counts as read.
    void showSelectedMail();
    void leaveShownMail();
    void updateStatus();
    // The selected items go to Deleted Items; there, after a question, for good.
    void deleteSelected();
    void markSelected(bool read);
    std::vector<std::string> selectedIDs() const;

    DesktopSession& session_;
    bool primary_;
    bool closed_ = false;
    bool filling_ = false;
    std::shared_ptr<WindowExplorer> explorer_;
    std::shared_ptr<QtCommandBars> bars_;
    std::vector<host::Subscription> ownClicks_;

    QTreeWidget* folders_ = nullptr;
    QTreeView* messages_ = nullptr;
    MessageModel* model_ = nullptr;
    QPlainTextEdit* reading_ = nullptr;
    QLabel* status_ = nullptr;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* refreshTimer_ = nullptr;

    std::vector<std::shared_ptr<host::Folder>> folderList_;
    std::shared_ptr<host::Folder> folder_;
    std::shared_ptr<host::MailItem> shown_;
};

} // namespace skerrow::desktop
