#include "app/desktop/session.h"

#include "addin/startload.h"
#include "app/desktop/help_path.h"
#include "app/desktop/main_window.h"
#include "filter/trap.h"
#include "hosts/maildir/message_file.h"
#include "render/qt/qt_dialogs.h"
#include "render/qt/qt_window_manager.h"
#ifdef SKERROW_DESKTOP_IMAP
#include "hosts/imap/imap_host.h"
#endif

#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QPointer>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace skerrow::desktop {

namespace {

// The first field of that name in a header block, unfolded; nothing when
// there is none.
std::optional<std::string> headerField(const std::string& block, const std::string& name) {
    auto sameName = [&](std::size_t at) {
        if (at + name.size() >= block.size() || block[at + name.size()] != ':')
            return false;
        for (std::size_t i = 0; i < name.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(block[at + i])) !=
                std::tolower(static_cast<unsigned char>(name[i])))
                return false;
        return true;
    };
    for (std::size_t at = 0; at < block.size();) {
        std::size_t end = block.find('\n', at);
        if (end == std::string::npos)
            end = block.size();
        if (sameName(at)) {
            std::string value = block.substr(at + name.size() + 1, end - at - name.size() - 1);
            // Continuation lines start with white space.
            while (end + 1 < block.size() && (block[end + 1] == ' ' || block[end + 1] == '\t')) {
                const std::size_t next = block.find('\n', end + 1);
                const std::size_t stop = next == std::string::npos ? block.size() : next;
                value += block.substr(end + 1, stop - end - 1);
                end = stop;
            }
            std::erase(value, '\r');
            return value;
        }
        at = end + 1;
    }
    return std::nullopt;
}

template <class Host>
class StoreOf : public MailStore {
public:
    template <class Options>
    explicit StoreOf(const Options& options) : host_(options) {}
    std::shared_ptr<host::Application> application() const override { return host_.application(); }
    host::ObjectFactory& objects() override { return host_.objects(); }
    host::Clipboard& clipboard() override { return host_.clipboard(); }
    const std::string& storeID() const override { return host_.storeID(); }
    std::vector<std::shared_ptr<host::Folder>> folders() override { return host_.folders(); }
    void setExplorer(std::shared_ptr<host::Explorer> explorer) override { host_.setExplorer(std::move(explorer)); }
    void raiseNewMail() override { host_.raiseNewMail(); }
    void markRead(const std::shared_ptr<host::MailItem>& mail) override { host_.markRead(mail); }
    void markUnread(const std::shared_ptr<host::MailItem>& mail) override { host_.markUnread(mail); }

private:
    Host host_;
};

} // namespace

// A connection of its own that idles on the IMAP Inbox on a thread of its
// own: the host's connection serves the GUI thread alone. It tells of
// every change it hears of, and whether UIDNEXT grew: mail arrived.
class InboxIdler {
public:
    using Notice = std::function<void(bool arrived, const std::string& failure)>;

#ifdef SKERROW_DESKTOP_IMAP
    InboxIdler(imap::ConnectOptions options, Notice notice)
        : options_(std::move(options)), notice_(std::move(notice)) {
        if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error("cannot watch the Inbox");
        thread_ = std::thread([this] { run(); });
    }
#endif
    ~InboxIdler() {
        stopping_ = true;
        poke();
        if (thread_.joinable())
            thread_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    InboxIdler(const InboxIdler&) = delete;
    InboxIdler& operator=(const InboxIdler&) = delete;

    // Looks at the Inbox now (Get Mail).
    void poke() {
        const char byte = 1;
        (void)!::write(wake_[1], &byte, 1);
    }

private:
#ifdef SKERROW_DESKTOP_IMAP
    void run() {
        try {
            imap::ImapClient client(options_);
            // A dropped connection is opened again once for each look.
            auto look = [&] {
                try {
                    return client.select("INBOX");
                } catch (const imap::ConnectionLost&) {
                    client.reconnect();
                    return client.select("INBOX");
                }
            };
            std::uint32_t known = look().uidNext;
            while (!stopping_) {
                bool spoke = false;
                try {
                    spoke = client.hasIdle() ? client.idle(wake_[0], std::chrono::minutes(25)) : false;
                } catch (const imap::ConnectionLost&) {
                    spoke = true; // the next look opens it again
                }
                if (!client.hasIdle()) {
                    pollfd p{wake_[0], POLLIN, 0};
                    ::poll(&p, 1, 30'000);
                }
                char drained[64];
                while (::read(wake_[0], drained, sizeof drained) > 0) {
                }
                if (stopping_)
                    break;
                const std::uint32_t next = look().uidNext;
                if (spoke || next != known)
                    notice_(next != known, {});
                known = next;
            }
        } catch (const std::exception& e) {
            notice_(false, e.what());
        }
    }

    imap::ConnectOptions options_;
#endif
    Notice notice_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

std::vector<std::string> readToolbarLayout(const std::string& path) {
    std::vector<std::string> names;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            names.push_back(line);
    }
    return names;
}

void writeToolbarLayout(const std::string& path, const std::vector<std::string>& names) {
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(path).parent_path());
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const auto& name : names)
            out << name << "\n";
        out.flush();
        if (!out)
            throw std::runtime_error("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot replace " + path);
}

namespace {

std::unique_ptr<MailStore> openStore(const DesktopOptions& options) {
    if (options.imap) {
#ifdef SKERROW_DESKTOP_IMAP
        return std::make_unique<StoreOf<imap::ImapHost>>(*options.imap);
#else
        throw std::runtime_error("this build has no IMAP host");
#endif
    }
    return std::make_unique<StoreOf<maildir::MaildirHost>>(options.mail);
}

} // namespace

DesktopSession::DesktopSession(DesktopOptions options)
    : options_(std::move(options)), host_(openStore(options_)), platform_(options_.configDir, options_.dataDir) {
    // Reads the From fields for the message list, beside the add-in's own session.
    reader_ = std::dynamic_pointer_cast<host::MessagingSession>(host_->objects().CreateObject("MAPI.Session"));
    if (reader_)
        trap([&] { reader_->Logon("", "", false, false); });
}

DesktopSession::~DesktopSession() {
    idler_.reset();
    // The add-in's dialogs go first, then the windows they stand over.
    windowManager_.reset();
    dialogs_.reset();
    windows_.clear();
}

std::string DesktopSession::toolbarLayoutPath() const {
    const auto settings = platform_.settingsPath();
    if (!settings)
        return {};
    return (std::filesystem::path(*settings).parent_path() / toolbarLayoutFile).string();
}

void DesktopSession::start() {
    installHelpPath(platform_, options_.helpFolder);
    windows_.push_back(std::make_unique<MainWindow>(*this, true));
    MainWindow& primary = *windows_.front();
    if (const std::string layout = toolbarLayoutPath(); !layout.empty())
        primary.commandBars()->restore(readToolbarLayout(layout));
    windowActivated(primary);
    dialogs_ = std::make_unique<qt::QtDialogs>(&primary);
    windowManager_ = std::make_unique<qt::QtWindowManager>(&primary);
    addin_ = std::make_unique<startLoad>(
        Services{platform_, host_->objects(), host_->clipboard(), *dialogs_, *windowManager_});
    primary.show();
    // The user sees the mail before the add-in's start-up work on a big
    // Inbox; the window takes no input until the add-in is connected.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    if (options_.imap) {
#ifdef SKERROW_DESKTOP_IMAP
        noticeContext_ = std::make_unique<QObject>();
        auto notice = [this](bool arrived, const std::string& failure) {
            QMetaObject::invokeMethod(
                noticeContext_.get(),
                [this, arrived, failure] {
                    if (!failure.empty())
                        log_.record("watching the Inbox: " + failure);
                    else
                        mailNoticed(arrived);
                },
                Qt::QueuedConnection);
        };
        log_.deliver("watching the Inbox",
                     [&] { idler_ = std::make_unique<InboxIdler>(options_.imap->connect, std::move(notice)); });
#endif
    } else {
        seenInNew_ = newMailNames();
        inboxWatcher_ = std::make_unique<QFileSystemWatcher>();
        inboxWatcher_->addPath(QString::fromStdString(host_->storeID() + "/new"));
        QObject::connect(inboxWatcher_.get(), &QFileSystemWatcher::directoryChanged, [this] { checkNewMail(); });
    }

    dispatch(primary, [this] {
        IDTExtensibility2::CustomValues custom;
        log_.deliver("OnConnection", [&] { addin_->OnConnection(host_->application(), 0, nullptr, custom); });
        connected_ = true;
    });
    // Mail in new/ has been seen by no client yet: this is its arrival.
    if (!seenInNew_.empty())
        host_->raiseNewMail();
}

MainWindow* DesktopSession::primaryWindow() const {
    return windows_.empty() ? nullptr : windows_.front().get();
}

std::vector<MainWindow*> DesktopSession::windows() const {
    std::vector<MainWindow*> result;
    for (const auto& window : windows_)
        result.push_back(window.get());
    return result;
}

MainWindow* DesktopSession::openWindow() {
    if (ended_)
        return nullptr;
    windows_.push_back(std::make_unique<MainWindow>(*this, false));
    MainWindow* window = windows_.back().get();
    window->show();
    windowActivated(*window);
    return window;
}

std::vector<std::size_t> DesktopSession::newMailNames() const {
    std::vector<std::size_t> names;
    if (options_.imap)
        return names;
    // Read with readdir: a purge empties new/ of tens of thousands of files
    // at once, and a listing that looked at each one would hold up the
    // window's next paint. Only whether a name is new counts, so each is
    // kept as its 64-bit hash: a few bytes a mail, and a new name taken for
    // an old one about once in 2^64 arrivals per mail waiting there.
    const std::string path = host_->storeID() + "/new";
    DIR* dir = ::opendir(path.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat st{};
        const bool file = entry->d_type == DT_REG ||
                          ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
                           ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode));
        if (file)
            names.push_back(std::hash<std::string_view>{}(entry->d_name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void DesktopSession::checkNewMail() {
    if (ended_)
        return;
    auto names = newMailNames();
    const bool arrived = !std::includes(seenInNew_.begin(), seenInNew_.end(), names.begin(), names.end());
    seenInNew_ = std::move(names);
    mailNoticed(arrived);
}

void DesktopSession::mailNoticed(bool arrived) {
    if (ended_)
        return;
    // NewMail only raises the add-in's flag: it may come while a handler runs.
    if (arrived)
        host_->raiseNewMail();
    refreshAll();
}

void DesktopSession::getMail() {
    if (idler_)
        idler_->poke();
    else
        checkNewMail();
}

void DesktopSession::dispatch(MainWindow& from, const std::function<void()>& event, bool byUser) {
    if (running_ > 0) {
        QPointer<MainWindow> window(&from);
        waiting_.push_back([this, window, event, byUser] {
            if (window && !window->closed())
                dispatch(*window, event, byUser);
        });
        return;
    }
    if (byUser)
        windowActivated(from);
    ++running_;
    log_.deliver("event", event);
    --running_;
    refreshAll();
    while (running_ == 0 && !waiting_.empty()) {
        auto next = std::move(waiting_.front());
        waiting_.erase(waiting_.begin());
        next();
    }
}

void DesktopSession::refreshAll() {
    for (const auto& window : windows_)
        window->scheduleRefresh();
    if (windowManager_)
        windowManager_->refresh();
}

void DesktopSession::windowActivated(MainWindow& window) {
    if (window.closed() || active_ == &window)
        return;
    active_ = &window;
    host_->setExplorer(window.explorer());
}

void DesktopSession::windowClosed(MainWindow& window) {
    if (window.primary()) {
        if (const std::string layout = toolbarLayoutPath(); !layout.empty()) {
            std::vector<std::string> names;
            if (trap([&] { names = window.commandBars()->savedLayout(); }))
                log_.deliver("saving the toolbars", [&] { writeToolbarLayout(layout, names); });
        }
    }
    if (active_ == &window) {
        active_ = nullptr;
        host_->setExplorer(nullptr);
        for (const auto& other : windows_)
            if (!other->closed()) {
                windowActivated(*other);
                break;
            }
    }
    if (std::all_of(windows_.begin(), windows_.end(), [](const auto& each) { return each->closed(); }))
        end();
}

void DesktopSession::end() {
    if (ended_)
        return;
    ended_ = true;
    inboxWatcher_.reset();
    idler_.reset();
    if (connected_) {
        IDTExtensibility2::CustomValues custom;
        log_.deliver("OnDisconnection", [&] { addin_->OnDisconnection(0, custom); });
    }
    // The host ends: the controls made temporary go with it, the bars stay.
    for (const auto& window : windows_)
        window->commandBars()->endSession();
    if (onEnded_)
        onEnded_();
}

std::string DesktopSession::folderPath(const std::shared_ptr<host::Folder>& folder) {
    if (options_.imap)
        return {};
    const std::string& root = host_->storeID();
    auto mapi = attempt([&] { return host::must(host_->application()->GetNamespace("MAPI")); });
    if (mapi && folder == attempt([&] { return (*mapi)->GetDefaultFolder(host::olFolderInbox); }).value_or(nullptr))
        return root;
    if (mapi &&
        folder == attempt([&] { return (*mapi)->GetDefaultFolder(host::olFolderDeletedItems); }).value_or(nullptr))
        return root + "/.Trash";
    std::string name = attempt([&] { return folder->Name(); }).value_or(std::string());
    std::replace(name.begin(), name.end(), '/', '.');
    return root + "/." + name;
}

std::string DesktopSession::fromText(const std::shared_ptr<host::MailItem>& mail) {
    if (!reader_)
        return {};
    return attempt([&] {
               auto message = host::must(reader_->GetMessage(mail->EntryID(), host_->storeID()));
               auto headers = host::must(message->Fields(host::prTransportMessageHeaders))->Value();
               const auto from = headerField(headers, "From");
               return from ? maildir::displayAddresses(*from) : std::string();
           })
        .value_or(std::string());
}

void DesktopSession::markRead(const std::shared_ptr<host::MailItem>& mail) {
    // A mail deleted or moved away meanwhile stays as it is.
    trap([&] { host_->markRead(mail); });
}

void DesktopSession::markUnread(const std::shared_ptr<host::MailItem>& mail) {
    trap([&] { host_->markUnread(mail); });
}

bool DesktopSession::isDeletedItems(const std::shared_ptr<host::Folder>& folder) {
    auto mapi = attempt([&] { return host::must(host_->application()->GetNamespace("MAPI")); });
    return folder && mapi &&
           folder == attempt([&] { return (*mapi)->GetDefaultFolder(host::olFolderDeletedItems); }).value_or(nullptr);
}

ui::Dialogs& DesktopSession::dialogs() {
    return *dialogs_;
}

} // namespace skerrow::desktop
