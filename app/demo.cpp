#include "app/demo.h"

#include "addin/startload.h"
#include "app/console.h"
#include "filter/settings.h"
#include "hosts/memory/memory_host.h"
#include "platform/memory/memory_platform.h"

#include <chrono>
#include <ostream>

namespace skerrow::app {

namespace {

constexpr const char* demoUser = "john.smith@example.com";

void deliver(memory::MemoryHost& host, const std::string& from, const std::string& subject, int minutesAgo,
             const std::string& to = demoUser) {
    memory::MailSpec mail;
    mail.senderAddress = from;
    mail.subject = subject;
    mail.headers = "From: " + from + "\r\nTo: " + to + "\r\nSubject: " + subject + "\r\n\r\n";
    mail.body = "Hello,\r\n" + subject + "\r\n";
    mail.to = to;
    mail.received = std::chrono::system_clock::now() - std::chrono::minutes(minutesAgo);
    host.deliver(std::move(mail));
}

void printToolbar(std::ostream& out, memory::MemoryHost& host) {
    for (const auto& bar : host.commandBars()->bars()) {
        out << "Toolbar \"" << bar->Name() << "\"" << (bar->Visible() ? " (visible, top)" : "") << ":\n";
        for (const auto& control : bar->controls()->all()) {
            out << "  " << (control->type() == host::msoControlPopup ? "menu   " : "button ") << control->Caption()
                << (control->Enabled() ? "" : " (disabled)") << "\n";
            if (auto popup = std::dynamic_pointer_cast<memory::MemoryPopup>(control))
                for (const auto& item : popup->controls()->all())
                    out << (item->BeginGroup() ? "    ---------\n" : "") << "    " << item->Caption()
                        << (item->Enabled() ? "" : " (disabled)") << "\n";
        }
    }
}

void printLists(std::ostream& out, Varient& v) {
    auto print = [&](const char* name, const FilterList& list) {
        out << "  " << name << ":";
        for (const auto& entry : list)
            out << " " << entry;
        out << "\n";
    };
    print("friendemail ", v.friendemail);
    print("frienddomain", v.frienddomain);
    print("enemyemail  ", v.enemyemail);
    print("enemydomain ", v.enemydomain);
}

} // namespace

int runDemo(std::ostream& out) {
    memory::MemoryHost host;
    memory::MemoryPlatform platform;
    host.setCurrentUser("John.Smith@example.com");
    host.addAddressList("Contacts", {"mary@example.org", "bob@example.net"});
    // Lists from an earlier run: a blacklisted sender and a blacklisted domain.
    platform.files[*platform.systemDir + "\\" + *platform.user] = "\r\n\r\nwinner@lottery.example\r\n*@spam.example\r\n";

    ConsoleDialogs dialogs(out);
    // The reviewer ticks the last listed mail (its sender's other mails are
    // ticked with it) and declares it junk.
    ConsoleWindows windows(out, [&](ui::Window& window) {
        if (window.formName() != "CheckSpamFrm" || window.control("ListView1").rows.empty())
            return;
        out << "-- the user ticks the last row and presses \"&Is Spam\"\n";
        window.userCheckRow("ListView1", static_cast<int>(window.control("ListView1").rows.size()) - 1, true);
        printWindow(out, window);
        window.userClick("Command1");
        out << "-- after the verdict\n";
        printWindow(out, window);
        out << "-- the user presses \"&Close\"\n";
    });

    startLoad addin(Services{platform, host.objects(), host.clipboard(), dialogs, windows});
    IDTExtensibility2::CustomValues custom;
    out << "* The mail client connects the add-in (first run: the address book becomes the friends list)\n";
    addin.OnConnection(host.application(), 0, nullptr, custom);
    printToolbar(out, host);
    printLists(out, addin.state());

    out << "\n* New mail arrives\n";
    deliver(host, "mary@example.org", "Lunch on Friday?", 50);
    deliver(host, "winner@lottery.example", "You have won!", 40);
    deliver(host, "promo@spam.example", "Cheap watches", 35);
    deliver(host, "newsletter@deals.example", "This week's deals", 30);
    deliver(host, "newsletter@deals.example", "Last chance", 20);
    deliver(host, "colleague@partner.example", "Meeting notes", 10);
    deliver(host, "someone@elsewhere.example", "Not for you", 5, "other.person@example.com");
    out << "  newMailPending = " << (addin.state().newMailPending ? "true" : "false") << "\n";

    out << "\n* The user clicks a mail in the Inbox: the automatic check runs\n";
    auto mails = host.inbox()->mails();
    host.explorer()->select({mails.front()});

    out << "\n* Afterwards\n";
    out << "  deleted by the last pass: " << addin.state().deletedThisPass
        << ", total deleted: " << addin.state().totalDeleted << "\n";
    out << "  newMailPending = " << (addin.state().newMailPending ? "true" : "false") << "\n";
    out << "  Inbox:";
    for (const auto& mail : host.inbox()->mails())
        out << " [" << mail->Subject() << "]";
    out << "\n  Deleted Items:";
    for (const auto& mail : host.deletedItems()->mails())
        out << " [" << mail->Subject() << "]";
    out << "\n";
    printLists(out, addin.state());

    out << "\n* The mail client disconnects the add-in\n";
    addin.OnDisconnection(0, custom);
    out << "  list file: "
        << platform.files[*platform.systemDir + "\\" + *platform.user].size() << " bytes, \"HaveAutoDeleteCount\" = "
        << platform.value(platform::RegistryRoot::CurrentUser, settingsKeyName, haveAutoDeleteCountValue).value_or("")
        << "\n";
    return 0;
}

} // namespace skerrow::app
