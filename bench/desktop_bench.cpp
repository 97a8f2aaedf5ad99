// Times the desktop program's main window as a user with a big mailbox meets
// it, on the offscreen Qt platform:
//
//   desktop_bench WORKDIR [--messages N] [--unread N]
//
// WORKDIR/gen holds a Maildir and list file made by `maildir_bench generate`
// (run from beside this program when missing). Each run works on a copy of
// it made of hard links, so the moves of one run do not touch the next.
// --unread N leaves the N newest mails unread and marks the others read in
// the copy, which sets the review window's size.
//
// Prints: the time from start to the first painted rows of the Inbox, the
// switches to Deleted Items and back to the Inbox (each until the list has
// been painted), the Check Spam command until the review window's rows have
// been painted, and the peak resident memory of the whole run.
#include "addin/startload.h"
#include "app/desktop/main_window.h"
#include "app/desktop/session.h"
#include "filter/settings.h"
#include "filter/varient.h"
#include "platform/posix/posix_platform.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QAction>
#include <QTreeWidget>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace skerrow;

constexpr const char* address = "me@bench.example";

// Remembers when each list view painted, and when it first painted rows.
class PaintWatch : public QObject {
public:
    struct Paints {
        int count = 0;
        qint64 last = 0;
        qint64 firstRows = 0;
    };
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            if (auto* view = qobject_cast<QAbstractItemView*>(watched->parent());
                view && view->viewport() == watched && view->model()) {
                Paints& paints = of[view];
                ++paints.count;
                paints.last = clock.nsecsElapsed();
                if (paints.firstRows == 0 && view->model()->rowCount() > 0)
                    paints.firstRows = paints.last;
            }
        return false;
    }
    QElapsedTimer clock;
    std::map<QAbstractItemView*, Paints> of;
};

bool pumpUntil(const std::function<bool()>& done, int seconds = 120) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > seconds * 1000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

double cpuSeconds() {
    struct rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double seconds(qint64 nanoseconds) {
    return static_cast<double>(nanoseconds) / 1e9;
}

QTreeWidgetItem* folderItem(desktop::MainWindow& window, const QString& name) {
    for (QTreeWidgetItemIterator it(window.folderTree()); *it; ++it)
        if ((*it)->text(0) == name || (*it)->text(0).startsWith(name + " ("))
            return *it;
    return nullptr;
}

desktop::DesktopOptions optionsFor(const fs::path& maildir, const fs::path& home) {
    desktop::DesktopOptions options;
    options.mail = {maildir.string(), address, {}};
    options.configDir = (home / "config").string();
    options.dataDir = (home / "data").string();
    return options;
}

// Leaves the newest `count` mails unread and the others read, as another
// client would have marked them.
void setUnread(const fs::path& maildir, long count) {
    std::vector<fs::path> files;
    for (const char* sub : {"new", "cur"})
        for (const auto& entry : fs::directory_iterator(maildir / sub))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() > b.filename(); });
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string name = files[i].filename().string();
        const std::string unique = name.substr(0, name.find(":2,"));
        const fs::path to = maildir / (i < static_cast<std::size_t>(count) ? "new" : "cur") /
                            (i < static_cast<std::size_t>(count) ? unique : unique + ":2,S");
        if (to != files[i])
            fs::rename(files[i], to);
    }
}

int run(const fs::path& work, long messages, long unread, const char* self) {
    const fs::path gen = work / "gen";
    if (!fs::exists(gen / "Maildir")) {
        fs::create_directories(gen);
        const std::string command = (fs::path(self).parent_path() / "maildir_bench").string() + " generate " +
                                    (gen / "Maildir").string() + " " + (gen / "list").string() + " --messages " +
                                    std::to_string(messages);
        if (std::system(command.c_str()) != 0)
            return std::fprintf(stderr, "desktop_bench: generating failed\n"), 1;
    }
    const fs::path runDir = work / "run";
    fs::remove_all(runDir);
    fs::create_directories(runDir / "empty");
    fs::copy(gen / "Maildir", runDir / "Maildir", fs::copy_options::recursive | fs::copy_options::create_hard_links);
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(runDir / "empty" / sub);
    if (unread >= 0)
        setUnread(runDir / "Maildir", unread);
    {
        posix::PosixPlatform platform((runDir / "home/config").string(), (runDir / "home/data").string());
        const fs::path list = fs::path(getSystemDir(platform)) / getUserName(platform);
        fs::create_directories(list.parent_path());
        fs::copy_file(gen / "list", list);
    }
    // The first run sets things up; the timed run is a later one.
    {
        desktop::DesktopSession setup(optionsFor(runDir / "empty", runDir / "home"));
        setup.start();
        for (auto* window : setup.windows())
            window->close();
    }

    QTimer tick; // wakes the waits below
    tick.start(2);
    PaintWatch watch;
    qApp->installEventFilter(&watch);
    watch.clock.start();
    desktop::DesktopSession session(optionsFor(runDir / "Maildir", runDir / "home"));
    session.start();
    const qint64 started = watch.clock.nsecsElapsed();
    desktop::MainWindow& window = *session.primaryWindow();
    QAbstractItemView* list = window.messageList();
    if (!pumpUntil([&] { return watch.of[list].firstRows != 0; }))
        return std::fprintf(stderr, "desktop_bench: the Inbox never showed rows\n"), 1;
    std::printf("start: first Inbox rows painted:  %7.3f s   goal <= 1.0   (start() returned after %.3f s; %d rows)\n",
                seconds(watch.of[list].firstRows), seconds(started), list->model()->rowCount());
    pumpUntil([] { return false; }, 1); // what start left queued

    // A switch without the automatic check: that is timed below.
    session.addin().state().newMailPending = false;
    auto switchTo = [&](const QString& name) {
        QTreeWidgetItem* item = folderItem(window, name);
        if (!item)
            return -1.0;
        const int before = watch.of[list].count;
        const qint64 from = watch.clock.nsecsElapsed();
        window.folderTree()->setCurrentItem(item);
        if (!pumpUntil([&] { return watch.of[list].count > before; }, 60))
            return -1.0;
        const double took = seconds(watch.of[list].last - from);
        pumpUntil([] { return false; }, 1);
        return took;
    };
    const double toTrash = switchTo("Deleted Items");
    const double toInbox = switchTo("Inbox");
    std::printf("switch to Deleted Items:          %7.3f s   goal <= 0.2\n", toTrash);
    std::printf("switch back to the Inbox:         %7.3f s   goal <= 0.2   (%d rows)\n", toInbox,
                list->model()->rowCount());

    struct rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory before the check:    %7.1f MiB\n", usage.ru_maxrss / 1024.0);

    QAction* command = nullptr;
    for (auto* action : window.findChildren<QAction*>())
        if (action->text() == QString::fromUtf8(checkSpamCaption))
            command = action;
    if (!command)
        return std::fprintf(stderr, "desktop_bench: no Check Spam command\n"), 1;
    const double cpuFrom = cpuSeconds();
    const qint64 from = watch.clock.nsecsElapsed();
    const int listPaints = watch.of[list].count;
    const int inboxRows = list->model()->rowCount();
    command->trigger();
    QAbstractItemView* review = nullptr;
    pumpUntil([&] {
        for (auto& [view, paints] : watch.of)
            if (view->window() != &window && paints.firstRows > from)
                review = view;
        return review != nullptr;
    });
    if (!review)
        return std::fprintf(stderr, "desktop_bench: the review window never showed rows\n"), 1;
    // The processor time as well: on a busy machine it says more than the wall clock.
    std::printf("Check Spam to review rows painted: %6.3f s   goal <= 1.0   (%d rows; %.3f s of processor time)\n",
                seconds(watch.of[review].firstRows - from), review->model()->rowCount(), cpuSeconds() - cpuFrom);
    // The purge moved mails away: the Inbox's list loses their rows.
    if (pumpUntil([&] { return watch.of[list].count > listPaints && list->model()->rowCount() < inboxRows; }, 60))
        std::printf("Inbox list updated after the check: %5.3f s           (%d rows)\n",
                    seconds(watch.of[list].last - from), list->model()->rowCount());

    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory:                      %7.1f MiB goal < 250\n", usage.ru_maxrss / 1024.0);
    double load[1] = {0};
    if (::getloadavg(load, 1) == 1)
        std::printf("load average %.2f on %ld processors\n", load[0], ::sysconf(_SC_NPROCESSORS_ONLN));
    for (auto* each : session.windows())
        each->close();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: desktop_bench WORKDIR [--messages N] [--unread N]\n");
        return 2;
    }
    long messages = 200000, unread = -1;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--messages")
            messages = std::atol(argv[i + 1]);
        else if (option == "--unread")
            unread = std::atol(argv[i + 1]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    try {
        return run(argv[1], messages, unread, argv[0]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "desktop_bench: %s\n", e.what());
        return 1;
    }
}
