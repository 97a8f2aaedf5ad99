#include "app/check.h"

#include "addin/startload.h"
#include "app/console.h"
#include "app/mail_host.h"
#include "filter/checkspam.h"
#include "platform/posix/posix_platform.h"

#include <ostream>

namespace skerrow::app {

int runCheck(const MailOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.maildir && !options.imap) {
        err << "skerrow check: --maildir DIR or --imap URL is required\n";
        return 2;
    }
    MailHost host;
    try {
        host = openMailHost(options);
    } catch (const std::exception& e) {
        err << "skerrow check: " << e.what() << "\n";
        return 1;
    }
    posix::PosixPlatform platform;
    ConsoleDialogs dialogs(out);
    ConsoleWindows windows(out);
    startLoad addin(Services{platform, *host.objects, *host.clipboard, dialogs, windows});
    IDTExtensibility2::CustomValues custom;
    addin.OnConnection(host.application, 0, nullptr, custom);
    // What the Check Spam command does.
    checkSpam(addin.state(), addin.state().globalApplication);
    try {
        addin.OnDisconnection(0, custom);
    } catch (const std::exception& e) {
        err << "skerrow check: the messaging session could not be closed: " << e.what() << "\n";
        return 1;
    }
    if (const auto lost = host.lost()) {
        err << "skerrow check: " << *lost << "\n";
        return 1;
    }
    return 0;
}

} // namespace skerrow::app
