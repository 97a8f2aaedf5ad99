#include "tests/support/world.h"

#include "filter/settings.h"

namespace skerrow::test {

World::World() {
    host.setCurrentUser(userAddress);
    v.globalApplication = host.application();
    auto session = std::dynamic_pointer_cast<host::MessagingSession>(host.objects().CreateObject("MAPI.Session"));
    session->Logon("test", "", false, false);
    v.messagingSession = session;
    v.ownAddress = userAddress;
    v.settingsKey = settingsKeyName;
    v.listFileUserName = *platform.user;
}

std::shared_ptr<memory::MemoryMailItem> World::mail(const std::string& sender, const std::string& subject,
                                                    bool unread) {
    memory::MailSpec spec;
    spec.subject = subject;
    spec.senderAddress = sender;
    spec.headers = "From: " + sender + "\r\nTo: " + userAddress + "\r\nSubject: " + subject + "\r\n\r\n";
    spec.body = "Dear John,\r\nsome text.\r\n";
    spec.to = "John Smith";
    spec.unread = unread;
    return host.inbox()->addMail(std::move(spec));
}

std::string World::listFile() const {
    return *platform.systemDir + "\\" + *platform.user;
}

} // namespace skerrow::test
