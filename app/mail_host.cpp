#include "app/mail_host.h"

#ifdef SKERROW_WITH_IMAP
#include "hosts/imap/imap_host.h"
#endif
#include "hosts/maildir/maildir_host.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace skerrow::app {

namespace {

std::string runPasswordCommand(const std::string& command) {
    std::istringstream words(command);
    std::vector<std::string> argv;
    for (std::string word; words >> word;)
        argv.push_back(word);
    if (argv.empty())
        throw std::runtime_error("--password-command is empty");
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot run the password command");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        throw std::runtime_error("cannot run the password command " + argv[0] + ": " + std::strerror(spawned));
    }
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the password command " + argv[0] + " failed");
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty())
        throw std::runtime_error("the password command " + argv[0] + " printed no password");
    return line;
}

std::string askOnTerminal(const std::string& account) {
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0 || !::isatty(tty)) {
        if (tty >= 0)
            ::close(tty);
        throw std::runtime_error("no IMAP password: give --password-command or SKERROW_IMAP_PASSWORD, "
                                 "or run on a terminal");
    }
    const std::string prompt = "Password for " + account + ": ";
    (void)!::write(tty, prompt.data(), prompt.size());
    termios old{};
    ::tcgetattr(tty, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
    std::string line;
    char c;
    while (::read(tty, &c, 1) == 1 && c != '\n')
        line += c;
    ::tcsetattr(tty, TCSAFLUSH, &old);
    (void)!::write(tty, "\n", 1);
    ::close(tty);
    return line;
}

// New files in the Maildir's new/, where deliveries land.
bool waitForDelivery(int events, int stopFd) {
    pollfd fds[2] = {{events, POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, -1);
    if (n <= 0 || fds[0].revents == 0)
        return false;
    char buffer[4096];
    while (::read(events, buffer, sizeof buffer) > 0) {
    }
    return true;
}

const char* kindText(maildir::HostFailure::Kind kind) {
    switch (kind) {
    case maildir::HostFailure::Kind::Move:
        return "mail could not be moved to the Trash and stays in place";
    case maildir::HostFailure::Kind::Read:
        return "part of the Maildir could not be read";
    case maildir::HostFailure::Kind::LinkedFolder:
        return "folder not used";
    }
    return "failure";
}

} // namespace

std::string imapPassword(const MailOptions& options, const std::string& account) {
    if (options.passwordCommand)
        return runPasswordCommand(*options.passwordCommand);
    if (const char* password = std::getenv("SKERROW_IMAP_PASSWORD"); password && *password)
        return password;
    return askOnTerminal(account);
}

#ifdef SKERROW_WITH_IMAP
imap::ImapOptions imapHostOptions(const MailOptions& options) {
    imap::ImapOptions o;
    try {
        o.connect.url = imap::parseImapUrl(*options.imap);
    } catch (const std::invalid_argument& e) {
        throw std::runtime_error(e.what());
    }
    o.connect.caFile = options.caFile;
    o.connect.allowPlaintext = options.allowPlaintext;
    o.connect.password = imapPassword(options, o.connect.url.user + "@" + o.connect.url.host);
    o.address = options.address;
    o.contacts = options.contacts;
    return o;
}
#endif

MailHost openMailHost(const MailOptions& options, bool waitsForMail) {
    MailHost mail;
    if (options.imap) {
#ifndef SKERROW_WITH_IMAP
        throw std::runtime_error("this build has no IMAP host (it was built without libetpan)");
#else
        auto host = std::make_shared<imap::ImapHost>(imapHostOptions(options));
        mail.application = host->application();
        mail.objects = &host->objects();
        mail.clipboard = &host->clipboard();
        mail.setExplorer = [h = host.get()](std::shared_ptr<host::Explorer> e) { h->setExplorer(std::move(e)); };
        mail.raiseNewMail = [h = host.get()] { h->raiseNewMail(); };
        mail.lost = [h = host.get()] { return h->lost(); };
        mail.failures = [] { return std::vector<std::pair<std::string, std::string>>(); };
        mail.nonMailFiles = [] { return std::vector<std::pair<std::string, bool>>(); };
        mail.waitForMail = [h = host.get()](int stopFd) { return h->waitForMail(stopFd); };
        mail.endWork = [h = host.get()] { h->endWork(); };
        mail.description = host->storeID();
        mail.owner = host;
        return mail;
#endif
    }
    if (!options.maildir)
        throw std::runtime_error("--maildir DIR or --imap URL is required");
    auto host = std::make_shared<maildir::MaildirHost>(
        maildir::MaildirOptions{*options.maildir, options.address, options.contacts, true, true});
    mail.application = host->application();
    mail.objects = &host->objects();
    mail.clipboard = &host->clipboard();
    mail.setExplorer = [h = host.get()](std::shared_ptr<host::Explorer> e) { h->setExplorer(std::move(e)); };
    mail.raiseNewMail = [h = host.get()] { h->raiseNewMail(); };
    mail.lost = [] { return std::optional<std::string>(); };
    mail.failures = [h = host.get()] {
        std::vector<std::pair<std::string, std::string>> all;
        for (const auto& failure : h->failures())
            all.emplace_back(kindText(failure.kind), failure.message);
        return all;
    };
    mail.nonMailFiles = [h = host.get()] {
        std::vector<std::pair<std::string, bool>> all;
        for (const auto& file : h->nonMailFiles())
            all.emplace_back(file.reason, file.unreadable);
        return all;
    };
    mail.description = host->storeID();
    mail.endWork = [h = host.get()] { h->endWork(); };
    mail.owner = host;
    // An inotify descriptor costs the process's exit some 15-20 ms: only
    // where mail is waited for.
    if (!waitsForMail)
        return mail;
    const std::string newDir = host->storeID() + "/new";
    auto events = std::shared_ptr<int>(new int(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), [](int* fd) {
        if (*fd >= 0)
            ::close(*fd);
        delete fd;
    });
    // A mail is there once it was renamed in from tmp/ or, written in place by
    // a careless deliverer, closed: its creation alone may show an empty file.
    if (*events < 0 || ::inotify_add_watch(*events, newDir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0)
        mail.waitForMail = [newDir](int) -> bool { throw std::runtime_error("cannot watch " + newDir); };
    else
        mail.waitForMail = [events](int stopFd) { return waitForDelivery(*events, stopFd); };
    return mail;
}

} // namespace skerrow::app
