#include "app/check.h"

#include "addin/startload.h"
#include "app/console.h"
#include "app/mail_host.h"
#include "filter/checkspam.h"
#include "platform/posix/posix_platform.h"

#include <functional>
#include <map>
#include <ostream>

namespace skerrow::app {

namespace {

// The failures of one run, by kind: how many, and the first one's text.
class FailureReport {
public:
    void note(const std::string& kind, const std::string& message) {
        auto& entry = kinds_[kind];
        if (entry.count++ == 0)
            entry.first = message;
    }
    bool empty() const { return kinds_.empty(); }
    void print(std::ostream& err) const {
        for (const auto& [kind, entry] : kinds_) {
            err << "skerrow check: " << kind << ": " << entry.first;
            if (entry.count > 1)
                err << " (and " << entry.count - 1 << " more)";
            err << "\n";
        }
    }

private:
    struct Entry {
        int count = 0;
        std::string first;
    };
    std::map<std::string, Entry> kinds_;
};

// The platform as the add-in uses it, noting what failed: the add-in traps
// every failure and goes on, the program still tells the user.
class ReportingPlatform : public posix::PosixPlatform {
public:
    explicit ReportingPlatform(FailureReport& report) : report_(report) {}

    std::optional<std::string> readValue(platform::RegistryRoot root, const std::string& subKey,
                                         const std::string& name) override {
        return noted("the settings could not be read", [&] { return PosixPlatform::readValue(root, subKey, name); });
    }
    void writeValue(platform::RegistryRoot root, const std::string& subKey, const std::string& name,
                    const std::string& value) override {
        noted("the settings could not be written", [&] { PosixPlatform::writeValue(root, subKey, name, value); });
    }
    std::string readTextFile(const std::string& path) override {
        return noted("the lists could not be read", [&] { return PosixPlatform::readTextFile(path); });
    }
    void createEmptyFile(const std::string& path) override {
        noted("the lists could not be written", [&] { PosixPlatform::createEmptyFile(path); });
    }
    void replaceTextFile(const std::string& path, const std::string& text) override {
        noted("the lists could not be written", [&] { PosixPlatform::replaceTextFile(path, text); });
    }

private:
    template <class Step>
    auto noted(const char* kind, Step&& step) -> decltype(step()) {
        try {
            return step();
        } catch (const std::exception& e) {
            report_.note(kind, e.what());
            throw;
        }
    }
    FailureReport& report_;
};

} // namespace

int runCheck(const MailOptions& options, std::ostream& out, std::ostream& err, bool exiting) {
    if (!options.maildir && !options.imap) {
        err << "skerrow check: --maildir DIR or --imap URL is required\n";
        return 2;
    }
    MailHost host;
    try {
        host = openMailHost(options, false);
    } catch (const std::exception& e) {
        err << "skerrow check: " << e.what() << "\n";
        return 1;
    }
    FailureReport report;
    ReportingPlatform platform(report);
    ConsoleDialogs dialogs(out);
    ConsoleWindows windows(out);
    startLoad addin(Services{platform, *host.objects, *host.clipboard, dialogs, windows});
    IDTExtensibility2::CustomValues custom;
    addin.OnConnection(host.application, 0, nullptr, custom);
    // What the Check Spam command does.
    checkSpam(addin.state(), addin.state().globalApplication);
    int status = 0;
    try {
        addin.OnDisconnection(0, custom);
    } catch (const std::exception& e) {
        err << "skerrow check: the messaging session could not be closed: " << e.what() << "\n";
        status = 1;
    }
    if (const auto lost = host.lost()) {
        err << "skerrow check: " << *lost << "\n";
        return 1;
    }
    // What the user must act on: the Inbox is not filtered while these stay.
    bool unreadable = false;
    for (const auto& [reason, cannotRead] : host.nonMailFiles()) {
        err << "skerrow check: not a mail: " << reason << "\n";
        unreadable = unreadable || cannotRead;
    }
    for (const auto& [kind, message] : host.failures())
        report.note(kind, message);
    report.print(err);
    if (exiting && host.endWork) {
        // Freeing a large mailbox's records one by one takes longer than
        // the rest of the exit; a pointer kept to them says they are not lost.
        host.endWork();
        static const MailHost* const leftToTheSystem = new MailHost(std::move(host));
        (void)leftToTheSystem;
    }
    return status != 0 ? status : report.empty() && !unreadable ? 0 : failureStatus;
}

} // namespace skerrow::app
