// The classification rules: the Inbox purge, the suspect count, the Check
// Spam procedure and the two verdicts on one mail.
#pragma once

#include "filter/varient.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace skerrow {

namespace host {
class Application;
class Folder;
class MailItem;
} // namespace host

inline constexpr const char* checkSpamReportTitle = " Check Spam ";
inline constexpr const char* hostNoticeSubject = "Microsoft Outlook";

// The report's text for a number of deleted mails.
std::string checkSpamReport(std::int16_t deleted);

void checkSpam(Varient& v, const std::shared_ptr<host::Application>& application);
void purgeInbox(Varient& v, const std::shared_ptr<host::Application>& application);
std::int16_t countSuspects(Varient& v, const std::shared_ptr<host::Application>& application);
void markIsSpam(Varient& v, const std::shared_ptr<host::Application>& application,
                const std::shared_ptr<host::Folder>& folder, const std::string& entryID,
                const std::string& senderAddress);
void markNotSpam(Varient& v, const std::shared_ptr<host::Application>& application,
                 const std::shared_ptr<host::Folder>& folder, const std::string& entryID,
                 const std::string& senderAddress);
std::shared_ptr<host::MailItem> findMailByEntryID(Varient& v, const std::shared_ptr<host::Application>& application,
                                                  const std::shared_ptr<host::Folder>& folder,
                                                  const std::string& entryID);
void purgeHostNotices(Varient& v, const std::shared_ptr<host::Application>& application);

// Whether an unread mail from that sender is listed for review.
bool isSuspect(const Varient& v, const std::string& senderAddress);

// The sender of an unread suspect, nothing for any other mail; what the
// purge found is taken for the mails it judged.
std::optional<std::string> suspectSender(Varient& v, const std::shared_ptr<host::MailItem>& mail,
                                         const Varient::JudgedMails& judged);

} // namespace skerrow
