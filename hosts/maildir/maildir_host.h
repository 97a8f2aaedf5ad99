// A mail client over one Maildir++ directory, for people whose mail lives
// in a Maildir (mutt, notmuch, Dovecot, mbsync...).
//
// - The root is the Inbox ("Inbox"), .Trash is Deleted Items ("Deleted
//   Items", made on first use), any other .Name folder shows as Name with
//   its "." separators as "/" (".Lists.dev" is "Lists/dev"; names stay in
//   the modified UTF-7 some servers write). Every folder's StoreID is the
//   root's canonical absolute path.
// - A folder's items are its files in new/ and cur/ (names starting with
//   "." are skipped), ordered by the leading seconds of the unique name and
//   then by the unique name. A file with no header field before its first
//   empty line (an empty file, a binary blob) is an "UnreadableItem".
// - A mail's EntryID is its unique name (the file name up to ":2,"); it is
//   unread in new/ or without the S flag; its ReceivedTime is the file's
//   mtime, the time a mail server reports as received.
// - Delete renames the file into .Trash/cur (adding ":2," when it comes
//   from new/; a name with no room left for it goes to .Trash/new as it
//   is); in .Trash it removes the file. A file renamed by another program
//   is found again by its unique name; one that has gone makes the
//   operation throw host::HostError. Out of the Trash the rename is made
//   on a thread of its own: the mail reads as deleted at once, the next
//   walk or a folder's settleDeletions waits for the renames under way,
//   and settleDeletions names the mails that could not be moved.
// - The store is walked from the root by directory descriptors: a folder
//   that is a symbolic link is refused, saying which. A message file is
//   read only when it is a regular file (through a link only to a file of
//   the store); anything else is an "UnreadableItem". A file of cur/ whose
//   unique name one in new/ has too is a message of its own ("cur/" and
//   the unique name is its EntryID).
// - A mail whose header block or body is larger than the store reads
//   whole fails its Fields and bodies, so that it is not judged by text
//   it seems to lack.
// - The messaging session ("MAPI.Session" of objects()) opens messages by
//   unique name and root path: the sender is the first From mailbox's
//   addr-spec, field 0x007D001E the header block as received.
//
// Everything runs on one thread (the store reads header blocks and bodies
// ahead on threads of its own). Host objects may outlive the host.
#pragma once

#include "addin/host/host.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace skerrow::maildir {

struct MaildirOptions {
    std::string root;                   // the Maildir++ directory
    std::optional<std::string> address; // the user's own; nothing: no current user
    std::vector<std::string> contacts;  // vCard files or vdir folders, one address list each
    // A mail whose Delete failed on a system error is left out of every
    // later walk of its folder: it was judged, and is not to be judged or
    // listed again as if it had not been.
    bool hideUndeletable = false;
    // The Inbox is read on a thread from the start, for the program's first
    // walk of it: its listing, then its header blocks.
    bool readInboxAhead = false;
};

// What the store failed to do for the add-in, which traps every failure:
// the add-in's host program reports these.
struct HostFailure {
    enum class Kind { Move, Read, LinkedFolder };
    Kind kind;
    std::string message; // the path and the system's reason
};

// A file of the Inbox that is not a mail, and why.
struct NonMailFile {
    std::string reason;      // with its path
    bool unreadable = false; // it could not be read (else it holds no header)
};

struct HostContext;

class MaildirHost {
public:
    // Opens the store and reads the address books. Throws host::HostError,
    // saying which path and why, for a root that is not a Maildir or an
    // address book that cannot be read.
    explicit MaildirHost(const MaildirOptions& options);
    ~MaildirHost();
    MaildirHost(const MaildirHost&) = delete;
    MaildirHost& operator=(const MaildirHost&) = delete;

    std::shared_ptr<host::Application> application() const { return application_; }
    // Creates "MAPI.Session" and nothing else.
    host::ObjectFactory& objects() { return *objects_; }
    // Does nothing: without a main window no button takes a face.
    host::Clipboard& clipboard() { return *clipboard_; }

    const std::string& storeID() const;
    // Inbox first, then Deleted Items when it exists, then the others by name.
    std::vector<std::shared_ptr<host::Folder>> folders();

    // The main window that ActiveExplorer gives, once a user interface
    // makes one; nothing until then (the add-in then builds no toolbar).
    // The explorer must not own the host.
    void setExplorer(std::shared_ptr<host::Explorer> explorer);

    // Marks a mail of this host read, as reading it in a main window does.
    // Throws host::HostError for a mail that has gone or is not this host's.
    void markRead(const std::shared_ptr<host::MailItem>& mail);
    // Marks a read mail of this host unread again (in cur/, without the S flag).
    void markUnread(const std::shared_ptr<host::MailItem>& mail);

    // Failures of the system met so far, in order, each path once per kind.
    std::vector<HostFailure> failures() const;
    // The Inbox's files that are not mails now.
    std::vector<NonMailFile> nonMailFiles();

    // Ends the work of the store's threads, for a process about to exit
    // that leaves the host's memory to the system instead of freeing it.
    void endWork();

    // Raises NewMail. A handler's failure is recorded and the others still run.
    void raiseNewMail();
    const std::vector<std::string>& eventFailures() const;

private:
    std::shared_ptr<HostContext> context_;
    std::shared_ptr<host::Application> application_;
    std::unique_ptr<host::ObjectFactory> objects_;
    std::unique_ptr<host::Clipboard> clipboard_;
};

} // namespace skerrow::maildir
