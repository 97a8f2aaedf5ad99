// A mail client over one IMAP account, for people whose mail lives on a
// server (their provider's, or their own Dovecot).
//
// - INBOX is the Inbox ("Inbox"); the mailbox flagged \Trash is Deleted
//   Items ("Deleted Items"), else "Trash", created on first use; other
//   mailboxes show by name with the server's separator as "/". Every
//   folder's StoreID is the account, user@host.
// - A folder's items come from one UID FETCH of FLAGS, INTERNALDATE and
//   BODY.PEEK[HEADER] over the whole mailbox, read as it streams in; later
//   walks fetch only the flags and the headers of new messages, unless the
//   listing was read a moment ago and only reads or the host's own moves,
//   all made as asked, came since. Bodies come with BODY.PEEK[] when asked
//   for. Nothing read here sets \Seen.
// - EntryID is "UIDVALIDITY.UID"; UnRead is the absence of \Seen;
//   ReceivedTime is the INTERNALDATE.
// - Delete is UID MOVE into Deleted Items where offered, else UID COPY,
//   UID STORE +FLAGS.SILENT (\Deleted) and UID EXPUNGE of exactly the
//   deleted messages; in Deleted Items it removes the message for good, at
//   once. Deletions from another folder are queued and sent together
//   before anything else looks at the mailbox (the next walk, another
//   folder, a wait, lost()) or when the add-in settles them; settling names
//   the deleted mails that were not moved after all. A mailbox whose
//   UIDVALIDITY changed since the walk moves nothing.
// - A connection that breaks under an operation is opened again once for
//   it; when that fails too the host stays disconnected and every later
//   operation throws, so nothing is moved after a lost connection.
#pragma once

#include "addin/host/host.h"
#include "hosts/imap/imap_client.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skerrow::imap {

struct ImapOptions {
    ConnectOptions connect;
    std::optional<std::string> address; // the user's own; nothing: no current user
    std::vector<std::string> contacts;  // vCard files or vdir folders, one address list each
};

struct HostContext;

class ImapHost {
public:
    // Connects and reads the address books. Throws ConnectError (one line
    // for the user) or host::HostError for an address book.
    explicit ImapHost(const ImapOptions& options);
    ~ImapHost();
    ImapHost(const ImapHost&) = delete;
    ImapHost& operator=(const ImapHost&) = delete;

    std::shared_ptr<host::Application> application() const { return application_; }
    host::ObjectFactory& objects() { return *objects_; }
    host::Clipboard& clipboard() { return *clipboard_; }

    const std::string& storeID() const;
    // Inbox first, then Deleted Items when it exists, then the others by name.
    std::vector<std::shared_ptr<host::Folder>> folders();

    // Sets or clears \Seen of a mail of this host on the server.
    void markRead(const std::shared_ptr<host::MailItem>& mail);
    void markUnread(const std::shared_ptr<host::MailItem>& mail);

    void setExplorer(std::shared_ptr<host::Explorer> explorer);
    // Raises NewMail. A handler's failure is recorded and the others still run.
    void raiseNewMail();
    const std::vector<std::string>& eventFailures() const;

    // Sends the deletions still queued, then says why the connection was
    // given up or deletions could not be made, if either happened.
    std::optional<std::string> lost();
    // Sends the deletions still queued and logs out, for a process about to
    // exit without freeing the host; every later operation throws.
    void endWork();

    // Waits on the Inbox (IDLE, else polling) until a message arrives
    // there, stopFd is readable or a signal comes. True for new mail.
    // Throws host::HostError when the connection cannot be kept.
    bool waitForMail(int stopFd);

private:
    std::shared_ptr<HostContext> context_;
    std::shared_ptr<host::Application> application_;
    std::unique_ptr<host::ObjectFactory> objects_;
    std::unique_ptr<host::Clipboard> clipboard_;
};

} // namespace skerrow::imap
