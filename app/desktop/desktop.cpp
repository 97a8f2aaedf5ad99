#include "app/desktop/desktop.h"

#include "addin/startload.h"
#include "app/desktop/demo_mailbox.h"
#include "app/desktop/main_window.h"
#include "app/desktop/session.h"
#include "platform/posix/posix_platform.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>

namespace skerrow::desktop {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

bool isMaildir(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path + "/cur", error) && std::filesystem::is_directory(path + "/new", error);
}

// Ctrl+C and a polite kill close the windows, so that the lists are stored.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

void closeOnSignals(DesktopSession& session, QObject& owner) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &owner);
    QObject::connect(notifier, &QSocketNotifier::activated, &owner, [&session] {
        char byte;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        for (MainWindow* window : session.windows())
            if (!window->closed())
                window->close();
    });
    struct sigaction action{};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// The help file sits beside the program in the build tree, and in
// share/skerrow beside bin/ once installed (also under a dpkg --root).
std::string installedHelpFolder(const QString& programFolder) {
    const QString help = QString::fromUtf8(helpFileName);
    const QString installed = QDir::cleanPath(programFolder + "/../share/skerrow");
    if (!QFileInfo::exists(programFolder + "/" + help) && QFileInfo::exists(installed + "/" + help))
        return installed.toStdString() + "/";
    return programFolder.toStdString() + "/";
}

} // namespace

bool displayAvailable() {
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

std::optional<std::string> findUserMaildir() {
    if (isSet("MAILDIR") && isMaildir(std::getenv("MAILDIR")))
        return std::string(std::getenv("MAILDIR"));
    if (isSet("HOME")) {
        const std::string home = std::string(std::getenv("HOME")) + "/Maildir";
        if (isMaildir(home))
            return home;
    }
    return std::nullopt;
}

int runDesktop(app::MailOptions options, bool addressGiven, int argc, char** argv, std::ostream& err,
               std::shared_ptr<const imap::ImapOptions> imap) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Skerrow");
    // The session ends with the last main window, whatever dialogs are left.
    QApplication::setQuitOnLastWindowClosed(false);

    auto fail = [&](const std::string& why) {
        err << "skerrow: " << why << "\n";
        // Started from a desktop menu nobody reads the terminal; offscreen nobody could answer.
        const QString platform = QGuiApplication::platformName();
        if (platform != "offscreen" && platform != "minimal")
            QMessageBox::critical(nullptr, "Skerrow", QString::fromStdString(why));
        return 1;
    };

    DesktopOptions desktop;
    desktop.imap = std::move(imap);
    if (!options.maildir && !desktop.imap)
        options.maildir = findUserMaildir();
    if (!options.maildir && !desktop.imap) {
        posix::PosixPlatform platform;
        const auto folder = platform.systemDirectory();
        if (!folder)
            return fail("no Maildir given and no data folder for the demo mailbox (is $HOME set?)");
        try {
            const DemoMailbox demo = prepareDemoMailbox(*folder, platform);
            options.maildir = demo.maildir;
            if (options.contacts.empty())
                options.contacts.push_back(demo.contacts);
            desktop.note = "Demo mailbox: " + demo.maildir;
        } catch (const std::exception& e) {
            return fail(std::string("cannot make the demo mailbox: ") + e.what());
        }
        if (!addressGiven)
            options.address = demoAddress;
    }
    if (!desktop.imap)
        desktop.mail = {*options.maildir, options.address, options.contacts};
    desktop.helpFolder = installedHelpFolder(QCoreApplication::applicationDirPath());

    std::unique_ptr<DesktopSession> session;
    try {
        session = std::make_unique<DesktopSession>(desktop);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    session->setOnEnded([] { QCoreApplication::quit(); });
    closeOnSignals(*session, application);
    session->start();
    const int status = session->ended() ? 0 : QApplication::exec();
    session.reset();
    return status;
}

} // namespace skerrow::desktop
