#include "app/watch.h"

#include "addin/startload.h"
#include "app/console.h"
#include "app/mail_host.h"
#include "platform/posix/posix_platform.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <ostream>

namespace skerrow::app {

namespace {

int stopWrite = -1;
volatile sig_atomic_t stopping = 0;

void onStop(int) {
    stopping = 1;
    const char byte = 1;
    (void)!::write(stopWrite, &byte, 1);
}

class NoConnection : public host::EventConnection {};

// The main window of nobody: it always shows the Inbox and selects nothing,
// so the add-in's selection handler runs its automatic check there.
class InboxExplorer : public host::Explorer {
public:
    explicit InboxExplorer(std::shared_ptr<host::Application> application) : application_(std::move(application)) {}

    std::shared_ptr<host::CommandBars> GetCommandBars() override { return nullptr; }
    std::shared_ptr<host::Selection> GetSelection() override { return nullptr; }
    std::shared_ptr<host::Folder> CurrentFolder() override {
        return host::must(application_.lock())->GetNamespace("MAPI")->GetDefaultFolder(host::olFolderInbox);
    }
    host::Subscription onClose(host::EventHandler) override { return std::make_unique<NoConnection>(); }
    host::Subscription onSelectionChange(host::EventHandler handler) override {
        selectionChange_ = std::move(handler);
        return std::make_unique<NoConnection>();
    }
    // The user looks at the Inbox.
    void showInbox() {
        if (selectionChange_)
            selectionChange_();
    }

private:
    std::weak_ptr<host::Application> application_; // the host owns its explorer
    host::EventHandler selectionChange_;
};

std::string now() {
    const std::time_t t = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
    return text;
}

} // namespace

int runWatch(const MailOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.maildir && !options.imap) {
        err << "skerrow watch: --maildir DIR or --imap URL is required\n";
        return 2;
    }
    int stopPipe[2];
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        err << "skerrow watch: cannot set up signal handling\n";
        return 1;
    }
    stopWrite = stopPipe[1];
    struct sigaction action{};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    MailHost host;
    try {
        host = openMailHost(options, true);
    } catch (const std::exception& e) {
        err << "skerrow watch: " << e.what() << "\n";
        return 1;
    }
    auto explorer = std::make_shared<InboxExplorer>(host.application);
    host.setExplorer(explorer);
    posix::PosixPlatform platform;
    ConsoleDialogs dialogs(out);
    ConsoleWindows windows(out);
    startLoad addin(Services{platform, *host.objects, *host.clipboard, dialogs, windows});
    IDTExtensibility2::CustomValues custom;
    addin.OnConnection(host.application, 0, nullptr, custom);
    out << "Watching the Inbox of " << host.description << "\n" << std::flush;

    int status = 0;
    while (!stopping) {
        bool arrived = false;
        try {
            arrived = host.waitForMail(stopPipe[0]);
        } catch (const std::exception& e) {
            err << "skerrow watch: " << e.what() << "\n";
            status = 1;
            break;
        }
        if (!arrived || stopping)
            continue;
        out << now() << " new mail: checking the Inbox\n";
        host.raiseNewMail();
        try {
            explorer->showInbox();
        } catch (const std::exception& e) {
            err << "skerrow watch: the check failed: " << e.what() << "\n";
        }
        out << now() << " deleted " << addin.state().deletedThisPass << " (" << addin.state().totalDeleted
            << " in all)\n"
            << std::flush;
        if (const auto lost = host.lost()) {
            err << "skerrow watch: " << *lost << "\n";
            status = 1;
            break;
        }
    }
    try {
        addin.OnDisconnection(0, custom);
    } catch (const std::exception& e) {
        err << "skerrow watch: the messaging session could not be closed: " << e.what() << "\n";
        status = 1;
    }
    host.setExplorer(nullptr);
    out << "Stopped watching\n" << std::flush;
    return status;
}

} // namespace skerrow::app
