// Who sent a mail, and what the mail says, through the messaging session.
#pragma once

#include "filter/text.h"

#include <memory>
#include <optional>
#include <string>
#include <string>

namespace skerrow {

class Varient;
namespace host {
class Application;
class Folder;
class MailItem;
class MessagingSession;
class Message;
} // namespace host

// Stands in for every sender that cannot be resolved. It is a reserved
// domain, so it never names a real mailbox.
inline constexpr const char* fallbackSenderAddress = "unknown-sender@sender.invalid";
inline constexpr const char* invalidItemsMessage = "there are invail email in Inbox.Please delete it .";

// Never fails: the fallback address when the lookup does.
std::string getSenderAddress(const std::shared_ptr<host::MessagingSession>& session,
                             const std::shared_ptr<host::MailItem>& mail);
// The text after the first "@", trimmed of spaces; the whole text trimmed
// when there is no "@".
std::string getDomain(const std::string& address);
// "*@" followed by the domain of the address: a domain list's entry.
std::string domainKey(const std::string& address);
// The same, written into key: a caller asking for one per mail reuses the
// text's storage.
void domainKey(std::string_view address, std::string& key);
bool hasDomainPrefix(const std::string& text);
bool hasAt(const std::string& text);

// The message's internet headers followed by its body (HTML, or plain text
// when there is no HTML). Never fails: what cannot be read is empty.
std::string getMailText(const std::shared_ptr<host::MailItem>& mail,
                        const std::shared_ptr<host::MessagingSession>& session);

// A mail opened once through the session, for a caller that needs both its
// sender and its text.
class SessionMail {
public:
    SessionMail(const std::shared_ptr<host::MessagingSession>& session, std::shared_ptr<host::MailItem> mail);
    // As getSenderAddress.
    std::string senderAddress() const;
    // As mailTextContains.
    std::optional<bool> textContains(const CaseInsensitiveSearch& search) const;

private:
    std::shared_ptr<host::MailItem> mail_;
    std::shared_ptr<host::Message> message_; // nothing when it could not be opened
};

// Whether getMailText of the mail holds the searched text. Reads the
// headers first and the body only when they do not decide it. Nothing when
// the message could not be opened through the session: such a mail cannot
// be judged.
std::optional<bool> mailTextContains(const std::shared_ptr<host::MailItem>& mail,
                                     const std::shared_ptr<host::MessagingSession>& session,
                                     const CaseInsensitiveSearch& search);

// True, after telling the user, when the folder holds items that are not mails.
bool hasNonMailItems(Varient& v, const std::shared_ptr<host::Application>& application,
                     const std::shared_ptr<host::Folder>& folder);

} // namespace skerrow
