#include "app/desktop/main_window.h"

#include "addin/ui/dialogs.h"
#include "app/desktop/message_model.h"
#include "app/desktop/session.h"
#include "filter/trap.h"

#include <QCloseEvent>
#include <QFileSystemWatcher>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <map>

namespace skerrow::desktop {

namespace {

constexpr int itemRole = Qt::UserRole; // a folder's position in folderList_
constexpr int refreshDelayMs = 50;     // lets a burst of file changes settle

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

class ListSelection : public host::Selection {
public:
    explicit ListSelection(std::vector<std::shared_ptr<host::Item>> items) : items_(std::move(items)) {}
    int Count() override { return static_cast<int>(items_.size()); }
    std::shared_ptr<host::Item> Item(int position) override {
        if (position < 1 || position > Count())
            throw host::HostError("no selected item at position " + std::to_string(position));
        return items_[static_cast<std::size_t>(position - 1)];
    }

private:
    std::vector<std::shared_ptr<host::Item>> items_;
};

// Rows read when a folder is shown, before the view asks: more than a
// screen holds, so the first paint finds them ready.
constexpr int firstScreenRows = 80;

std::string entryIDOf(const std::shared_ptr<host::Item>& item) {
    if (auto mail = host::asMailItem(item))
        return attempt([&] { return mail->EntryID(); }).value_or(std::string());
    return {};
}

} // namespace

// ---- The explorer ----

WindowExplorer::WindowExplorer(MainWindow& window) : window_(&window) {}

MainWindow& WindowExplorer::window() {
    if (closed_ || !window_)
        throw host::HostError("the main window has been closed");
    return *window_;
}

std::shared_ptr<host::CommandBars> WindowExplorer::GetCommandBars() {
    return window().commandBars();
}

std::shared_ptr<host::Selection> WindowExplorer::GetSelection() {
    return std::make_shared<ListSelection>(window().selection());
}

std::shared_ptr<host::Folder> WindowExplorer::CurrentFolder() {
    return window().currentFolder();
}

host::Subscription WindowExplorer::onClose(host::EventHandler handler) {
    window();
    return closeHandlers_.add(std::move(handler));
}

host::Subscription WindowExplorer::onSelectionChange(host::EventHandler handler) {
    window();
    return selectionHandlers_.add(std::move(handler));
}

void WindowExplorer::raiseSelectionChange(EventLog& log) {
    if (closed_)
        return;
    selectionHandlers_.each([&](host::EventHandler& handler) { log.deliver("SelectionChange", handler); });
}

void WindowExplorer::raiseClose(EventLog& log) {
    if (closed_)
        return;
    closeHandlers_.each([&](host::EventHandler& handler) { log.deliver("Close", handler); });
    closed_ = true;
}

// ---- The window ----

MainWindow::MainWindow(DesktopSession& session, bool primary) : session_(session), primary_(primary) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(1040, 660);
    explorer_ = std::make_shared<WindowExplorer>(*this);
    auto context = std::make_shared<CommandBarContext>(CommandBarContext{
        session.events(), [this](const std::function<void()>& work) { session_.dispatch(*this, work); }});
    bars_ = std::make_shared<QtCommandBars>(context, *this);
    buildStandardBar();

    auto* split = new QSplitter(Qt::Horizontal, this);
    folders_ = new QTreeWidget(split);
    folders_->setObjectName("folders");
    folders_->setHeaderLabel(tr("Folders"));
    folders_->setRootIsDecorated(true);
    auto* right = new QSplitter(Qt::Vertical, split);
    messages_ = new QTreeView(right);
    messages_->setObjectName("messages");
    model_ = new MessageModel([this](const auto& mail) { return session_.fromText(mail); }, messages_);
    model_->setOnCountChanged([this] { updateStatus(); });
    messages_->setModel(model_);
    messages_->setRootIsDecorated(false);
    messages_->setItemsExpandable(false);
    messages_->setUniformRowHeights(true);
    messages_->setAllColumnsShowFocus(true);
    messages_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    messages_->header()->setStretchLastSection(true);
    messages_->setColumnWidth(SubjectColumn, 360);
    messages_->setColumnWidth(FromColumn, 280);
    reading_ = new QPlainTextEdit(right);
    reading_->setObjectName("reading");
    reading_->setReadOnly(true);
    right->setStretchFactor(0, 3);
    right->setStretchFactor(1, 2);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({200, 840});
    setCentralWidget(split);
    status_ = new QLabel(this);
    statusBar()->addWidget(status_, 1);
    if (!session.options().note.empty())
        statusBar()->addPermanentWidget(new QLabel(q(session.options().note), this));

    watcher_ = new QFileSystemWatcher(this);
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(refreshDelayMs);
    connect(refreshTimer_, &QTimer::timeout, this, [this] { refresh(); });
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { scheduleRefresh(); });
    connect(folders_, &QTreeWidget::itemSelectionChanged, this, [this] { folderClicked(); });
    connect(messages_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionChanged(); });
    auto* deleteKey = new QShortcut(QKeySequence::Delete, messages_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this,
            [this] { session_.dispatch(*this, [this] { deleteSelected(); }); });

    auto mapi = attempt([&] { return host::must(session.host().application()->GetNamespace("MAPI")); });
    // Deleted Items is always there to look in, as in any mail client.
    if (mapi)
        trap([&] { (*mapi)->GetDefaultFolder(host::olFolderDeletedItems); });
    fillFolders();
    auto inbox = attempt([&] { return host::must(mapi.value())->GetDefaultFolder(host::olFolderInbox); });
    if (inbox && *inbox)
        showFolder(*inbox);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildStandardBar() {
    auto bar = bars_->addBuiltIn(standardBarName);
    auto addCommand = [&](const char* caption, std::function<void()> work) {
        auto button = std::dynamic_pointer_cast<QtButton>(bar->Controls()->Add(host::msoControlButton, false));
        button->setCaption(caption);
        button->setStyle(msoButtonCaption);
        ownClicks_.push_back(button->onClick([work](host::CommandBarButton&, bool&) { work(); }));
    };
    addCommand(getMailCaption, [this] { session_.getMail(); });
    addCommand(newWindowCaption, [this] { session_.openWindow(); });
    addCommand(deleteCaption, [this] { deleteSelected(); });
    addCommand(markReadCaption, [this] { markSelected(true); });
    addCommand(markUnreadCaption, [this] { markSelected(false); });
}

void MainWindow::deleteSelected() {
    const auto items = selection();
    if (items.empty())
        return;
    if (session_.isDeletedItems(folder_)) {
        const auto answer = attempt([&] {
            return session_.dialogs().messageBox(deleteForGoodQuestion, ui::Buttons::YesNo, ui::Icon::Exclamation,
                                                 ui::programTitle);
        });
        if (answer != ui::Answer::Yes)
            return;
    }
    // The mail being read goes too; it is not marked read on its way out.
    shown_.reset();
    for (const auto& item : items) {
        // An unreadable file is an item of the host's own kind all the same.
        if (auto mail = std::dynamic_pointer_cast<host::MailItem>(item))
            trap([&] { mail->Delete(); });
    }
}

void MainWindow::markSelected(bool read) {
    for (const auto& item : selection()) {
        auto mail = host::asMailItem(item);
        if (!mail)
            continue;
        if (read) {
            session_.markRead(mail);
        } else {
            session_.markUnread(mail);
            // Marked unread while being read: moving on leaves it unread.
            if (shown_ && entryIDOf(shown_) == entryIDOf(mail))
                shown_.reset();
        }
    }
}

void MainWindow::fillFolders() {
    auto found = attempt([&] { return session_.host().folders(); });
    if (!found)
        return;
    std::string shown;
    if (folder_)
        shown = attempt([&] { return folder_->Name(); }).value_or(std::string());
    folderList_ = *found;
    const QSignalBlocker quiet(folders_);
    folders_->clear();
    // "Lists/dev" sits under "Lists", made up when the store has no such folder.
    std::map<QString, QTreeWidgetItem*> nodes;
    std::function<QTreeWidgetItem*(const QString&)> node = [&](const QString& path) -> QTreeWidgetItem* {
        if (auto it = nodes.find(path); it != nodes.end())
            return it->second;
        const auto cut = path.lastIndexOf(u'/');
        QTreeWidgetItem* item = cut < 0 ? new QTreeWidgetItem(folders_) : new QTreeWidgetItem(node(path.left(cut)));
        item->setText(0, cut < 0 ? path : path.mid(cut + 1));
        item->setFlags(Qt::ItemIsEnabled);
        nodes[path] = item;
        return item;
    };
    for (std::size_t i = 0; i < folderList_.size(); ++i) {
        const auto name = attempt([&] { return folderList_[i]->Name(); });
        if (!name)
            continue;
        QTreeWidgetItem* item = node(q(*name));
        item->setData(0, itemRole, static_cast<int>(i));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        int unread = 0;
        // From the file names: no message is opened for the count.
        trap([&] {
            for (const auto& each : folderList_[i]->Items())
                if (host::MailItem* mail = each->mailItem(); mail && mail->UnRead())
                    ++unread;
        });
        QFont font = item->font(0);
        font.setBold(unread > 0);
        item->setFont(0, font);
        if (unread > 0)
            item->setText(0, item->text(0) + QStringLiteral(" (%1)").arg(unread));
        if (*name == shown)
            item->setSelected(true);
    }
    folders_->expandAll();
}

void MainWindow::showFolder(const std::shared_ptr<host::Folder>& folder) {
    leaveShownMail();
    folder_ = folder;
    const std::string name = attempt([&] { return folder->Name(); }).value_or(std::string());
    setWindowTitle(q(name) + QString::fromUtf8(windowTitleSuffix));
    {
        const QSignalBlocker quiet(folders_);
        for (QTreeWidgetItemIterator it(folders_); *it; ++it) {
            const QVariant index = (*it)->data(0, itemRole);
            (*it)->setSelected(index.isValid() && folderList_[static_cast<std::size_t>(index.toInt())] == folder);
        }
    }
    watchFolder();
    filling_ = true;
    model_->reset(attempt([&] { return folder->Items(); }).value_or(std::vector<std::shared_ptr<host::Item>>()));
    model_->prefetch(0, firstScreenRows);
    messages_->scrollToTop();
    filling_ = false;
    updateStatus();
    reading_->clear();
    // Showing another folder empties the selection, which the add-in hears of.
    if (!closed_)
        session_.dispatch(*this, [this] { explorer_->raiseSelectionChange(session_.events()); });
}

void MainWindow::watchFolder() {
    if (!watcher_->directories().isEmpty())
        watcher_->removePaths(watcher_->directories());
    if (!folder_)
        return;
    const QString path = q(session_.folderPath(folder_));
    if (path.isEmpty())
        return;
    watcher_->addPaths({path + "/new", path + "/cur"});
}

void MainWindow::folderClicked() {
    const auto selected = folders_->selectedItems();
    if (selected.isEmpty())
        return;
    const QVariant index = selected.front()->data(0, itemRole);
    if (!index.isValid())
        return;
    auto folder = folderList_[static_cast<std::size_t>(index.toInt())];
    if (folder != folder_)
        showFolder(folder);
}

void MainWindow::updateRows() {
    auto items = attempt([&] { return folder_->Items(); });
    if (!items)
        return;
    const auto selected = selection();
    const QModelIndex current = messages_->currentIndex();
    std::vector<std::shared_ptr<host::Item>> kept = selected;
    if (current.isValid())
        kept.push_back(model_->item(current.row()));
    const int scrolled = messages_->verticalScrollBar()->value();
    filling_ = true;
    if (model_->update(*items)) {
        // Shown afresh: the selection comes back for the items still there.
        const std::vector<int> rows = model_->rowsOf(kept);
        QItemSelection again;
        for (std::size_t i = 0; i < selected.size(); ++i)
            if (rows[i] >= 0)
                again.select(model_->index(rows[i], 0), model_->index(rows[i], MessageColumnCount - 1));
        messages_->selectionModel()->select(again, QItemSelectionModel::Select);
        if (current.isValid() && rows.back() >= 0)
            messages_->selectionModel()->setCurrentIndex(model_->index(rows.back(), current.column()),
                                                         QItemSelectionModel::NoUpdate);
        messages_->verticalScrollBar()->setValue(scrolled);
    }
    filling_ = false;
    updateStatus();
}

std::vector<std::string> MainWindow::selectedIDs() const {
    std::vector<std::string> ids;
    for (const auto& item : selection())
        ids.push_back(entryIDOf(item));
    return ids;
}

std::vector<std::shared_ptr<host::Item>> MainWindow::selection() const {
    std::vector<int> picked;
    for (const QModelIndex& index : messages_->selectionModel()->selectedRows())
        if (index.row() < model_->size())
            picked.push_back(index.row());
    std::sort(picked.begin(), picked.end());
    std::vector<std::shared_ptr<host::Item>> items;
    for (int row : picked)
        items.push_back(model_->item(row));
    return items;
}

void MainWindow::refresh() {
    refreshTimer_->stop();
    if (closed_)
        return;
    const std::vector<std::string> before = selectedIDs();
    fillFolders();
    if (folder_)
        updateRows();
    const std::vector<std::string> after = selectedIDs();
    if (after != before) {
        showSelectedMail();
        session_.dispatch(*this, [this] { explorer_->raiseSelectionChange(session_.events()); }, false);
    } else if (shown_) {
        // The shown mail may have been changed by another program.
        showSelectedMail();
    }
}

void MainWindow::scheduleRefresh() {
    if (!closed_)
        refreshTimer_->start();
}

void MainWindow::selectionChanged() {
    if (filling_ || closed_)
        return;
    showSelectedMail();
    session_.dispatch(*this, [this] { explorer_->raiseSelectionChange(session_.events()); });
}

void MainWindow::leaveShownMail() {
    if (shown_)
        session_.markRead(shown_);
    shown_.reset();
}

void MainWindow::showSelectedMail() {
    const auto items = selection();
    std::shared_ptr<host::MailItem> mail = items.size() == 1 ? host::asMailItem(items.front()) : nullptr;
    if (shown_ && (!mail || entryIDOf(mail) != entryIDOf(shown_))) {
        // Read once the user has moved on from it, as Outlook 2000 counts it.
        leaveShownMail();
        scheduleRefresh();
    }
    shown_ = mail;
    if (!mail) {
        reading_->clear();
        return;
    }
    QString text;
    text += tr("From: ") + q(session_.fromText(mail)) + "\n";
    text += tr("To: ") + q(attempt([&] { return mail->To(); }).value_or(std::string())) + "\n";
    text += tr("Subject: ") + q(attempt([&] { return mail->Subject(); }).value_or(std::string())) + "\n";
    if (auto when = attempt([&] { return mail->ReceivedTime(); }))
        text += tr("Received: ") + receivedText(*when) + "\n";
    text += "\n";
    std::string body = attempt([&] { return mail->Body(); }).value_or(std::string());
    if (body.empty())
        if (auto html = attempt([&] { return mail->HTMLBody(); }); html && !html->empty())
            body = QTextDocumentFragment::fromHtml(q(*html)).toPlainText().toStdString();
    text += q(body);
    if (reading_->toPlainText() != text)
        reading_->setPlainText(text);
}

void MainWindow::updateStatus() {
    status_->setText(tr("%1 items, %2 unread").arg(model_->size()).arg(model_->unreadCount()));
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !closed_)
        session_.windowActivated(*this);
    QMainWindow::changeEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closed_) {
        leaveShownMail();
        closed_ = true;
        refreshTimer_->stop();
        watcher_->removePaths(watcher_->directories());
        explorer_->raiseClose(session_.events());
        session_.windowClosed(*this);
    }
    event->accept();
}

} // namespace skerrow::desktop
