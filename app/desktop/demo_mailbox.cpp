#include "app/desktop/demo_mailbox.h"

#include "filter/filter_store.h"
#include "filter/settings.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace skerrow::desktop {

namespace {

namespace fs = std::filesystem;

constexpr const char* demoUser = "Demo User <demo.user@example.com>";

struct DemoMail {
    const char* folder; // "" for the Inbox
    const char* from;
    const char* to;
    const char* subject;
    const char* body;
    int minutesAgo;
    bool read;
};

// Mary and Bob are in the address book, winner@ and the spam.example domain
// on the blacklist; the rest are strangers to the filter.
const DemoMail demoMails[] = {
    {"", "Microsoft Outlook <outlook@example.com>", demoUser, "Microsoft Outlook Test Message",
     "This is an e-mail message sent automatically by Microsoft Outlook while testing the settings for your "
     "account.\n",
     300, false},
    {"", "Mary Jones <mary@example.org>", demoUser, "Lunch on Friday?",
     "Hi,\n\nShall we have lunch on Friday? The new place on the corner is open.\n\nMary\n", 240, false},
    {"", "Prize Office <winner@lottery.example>", demoUser, "You have won!",
     "Congratulations! Your address has won our grand prize. Send us your bank details today.\n", 200, false},
    {"", "Deals Weekly <newsletter@deals.example>", demoUser, "This week's deals",
     "Dear customer,\n\nThis week only: everything half price.\n", 180, false},
    {"", "Watch Outlet <promo@spam.example>", demoUser, "Cheap watches",
     "Designer watches at a fraction of the price.\n", 150, false},
    {"", "Bob Miller <bob@example.net>", demoUser, "Photos from the weekend",
     "Hello,\n\nHere are the photos from Saturday. The one by the lake came out well.\n\nBob\n", 120, false},
    {"", "Carol White <colleague@partner.example>", demoUser, "Meeting notes",
     "Hello,\n\nThe notes of Tuesday's meeting are below. Please check the dates.\n\nCarol\n", 90, false},
    {"", "someone@elsewhere.example", "Other Person <other.person@example.com>", "Not for you",
     "This mail was sent to somebody else and reached you through a list you never joined.\n", 60, false},
    {"", "Deals Weekly <newsletter@deals.example>", demoUser, "Last chance: 70% off",
     "Dear customer,\n\nOnly today: 70% off everything.\n", 30, false},
    {".Archive", "Mary Jones <mary@example.org>", demoUser, "Trip plans",
     "Hi,\n\nThe train leaves at nine. See you at the station.\n\nMary\n", 60 * 24 * 3, true},
};

const char* const demoFriends[] = {"mary@example.org", "bob@example.net"};
const char* const demoBlacklistedAddresses[] = {"winner@lottery.example"};
const char* const demoBlacklistedDomains[] = {"*@spam.example"};

std::string rfc2822Date(std::time_t when) {
    std::tm tm{};
    ::gmtime_r(&when, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    return text;
}

void makeMaildirFolder(const fs::path& path) {
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(path / sub);
}

// As a delivery agent does: written in tmp/, renamed into place.
void deliver(const fs::path& folder, const DemoMail& mail, int number) {
    const std::time_t when = std::time(nullptr) - static_cast<std::time_t>(mail.minutesAgo) * 60;
    const std::string unique =
        std::to_string(when) + ".M" + std::to_string(number) + "P" + std::to_string(::getpid()) + ".skerrow-demo";
    const fs::path temporary = folder / "tmp" / unique;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "Return-Path: <" << mail.from << ">\n"
            << "From: " << mail.from << "\n"
            << "To: " << mail.to << "\n"
            << "Subject: " << mail.subject << "\n"
            << "Date: " << rfc2822Date(when) << "\n"
            << "Message-ID: <" << unique << "@demo.example>\n"
            << "MIME-Version: 1.0\n"
            << "Content-Type: text/plain; charset=utf-8\n"
            << "\n"
            << mail.body;
        out.flush();
        if (!out)
            throw std::runtime_error("cannot write " + temporary.string());
    }
    // The time of arrival a mail client shows is the file's.
    const struct utimbuf times{when, when};
    ::utime(temporary.c_str(), &times);
    const fs::path target = mail.read ? folder / "cur" / (unique + ":2,S") : folder / "new" / unique;
    fs::rename(temporary, target);
}

void writeContacts(const fs::path& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Mary Jones\r\nN:Jones;Mary;;;\r\nEMAIL;TYPE=INTERNET:mary@example.org\r\n"
           "END:VCARD\r\n"
        << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob Miller\r\nN:Miller;Bob;;;\r\nEMAIL;TYPE=INTERNET:bob@example.net\r\n"
           "END:VCARD\r\n";
    out.flush();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void seedListFile(platform::Platform& platform) {
    const std::string folder = getSystemDir(platform);
    if (folder.empty())
        return;
    const std::string path = folder + platform.pathSeparator() + getUserName(platform);
    if (platform.fileExists(path))
        return;
    FilterLists lists;
    for (const char* address : demoFriends)
        lists.friendemail = addToArray(std::move(lists.friendemail), address);
    for (const char* address : demoBlacklistedAddresses)
        lists.enemyemail = addToArray(std::move(lists.enemyemail), address);
    for (const char* domain : demoBlacklistedDomains)
        lists.enemydomain = addToArray(std::move(lists.enemydomain), domain);
    platform.replaceTextFile(path, formatListFile(lists));
}

} // namespace

DemoMailbox prepareDemoMailbox(const std::string& folder, platform::Platform& platform) {
    DemoMailbox demo;
    const fs::path root = fs::path(folder) / "demo-maildir";
    const fs::path contacts = fs::path(folder) / "demo-contacts.vcf";
    demo.maildir = root.string();
    demo.contacts = contacts.string();
    try {
        if (!fs::exists(contacts))
            writeContacts(contacts);
        if (fs::is_directory(root / "cur") && fs::is_directory(root / "new"))
            return demo;
        makeMaildirFolder(root);
        int number = 0;
        for (const DemoMail& mail : demoMails) {
            const fs::path target = *mail.folder ? root / mail.folder : root;
            makeMaildirFolder(target);
            if (*mail.folder) // marks a Maildir++ subfolder
                std::ofstream(target / "maildirfolder", std::ios::app);
            deliver(target, mail, ++number);
        }
    } catch (const fs::filesystem_error& e) {
        throw std::runtime_error(e.what());
    }
    demo.created = true;
    seedListFile(platform);
    return demo;
}

} // namespace skerrow::desktop
