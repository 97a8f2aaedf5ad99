// The Maildir++ directory under the host objects: its folders, the message
// files found in them, the moves into .Trash, and the caches that let one
// check read each header block once and each folder listing rarely.
//
// Message files are immutable in a Maildir: other programs rename them
// (new/ to cur/, flag changes, moves between folders) but do not rewrite
// them. So a file's header data is cached on its record, which follows the
// file through renames by its unique name, and is dropped when the inode
// seen in the directory changes or when a writer closes the file (seen on
// local file systems only). A cache hit costs no system call, and reading
// a header block costs an openat, a read or two and a close; the blocks of
// a folder just listed are read ahead on a second thread, and the bodies a
// searching walk is coming to on a third.
//
// On a local file system the store watches new/ and cur/ of every folder
// it has listed (inotify). A walk reads the directories again only when an
// event contradicts the listing it keeps: the store's own moves do not,
// a delivery or another client's rename does. On network file systems,
// whose changes made elsewhere raise no events, every walk reads them.
#pragma once

#include "addin/host/host.h"
#include "filter/text.h"
#include "hosts/maildir/message_file.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <exception>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace skerrow::maildir {

// A failure of the system or a refusal of the store (a folder that is a
// symbolic link, a file that is no regular file), as opposed to a message
// that another program moved away meanwhile.
class StoreFailure : public host::HostError {
public:
    using host::HostError::HostError;
};

// Header-level facts of one file's content, read once: what the later
// steps of a check ask of every mail, and little more.
struct HeaderData {
    bool isMessage = false;
    // False when the header block was longer than headerBlockLimit: the
    // mail cannot be searched whole.
    bool whole = true;
    BodyShape shape = BodyShape::NeedsParse; // from Content-Type and -Transfer-Encoding
    bool senderParsed = false;
    bool subjectDecoded = false;
    bool toDecoded = false;
    // The header block is not kept (it is read again when asked): what the
    // purge looks for in it is searched as it is read, one bit a text.
    std::uint8_t searched = 0;
    std::uint8_t found = 0;
    // The same for the whole text (the header block followed by the body the
    // purge searches), found on the thread that searches the Inbox ahead or
    // by the walk that got there first. textState tells who searches it; the
    // other two are written before it says textSearched, and read only after.
    static constexpr std::uint8_t textUnsearched = 0, textQueued = 1, textSearching = 2, textClaimed = 3,
                                  textSearched = 4;
    std::atomic<std::uint8_t> textState{textUnsearched};
    std::uint8_t textSearchedFor = 0;
    std::uint8_t textFound = 0;
    std::size_t bodyOffset = std::string::npos;
    std::optional<host::Date> received; // the mtime, as the block was read
    // The fields as read; from, subject and to are each replaced by what
    // they say when first asked (the flags tell), so a mail keeps one text
    // a field: from by the sender's addr-spec (nothing when it names none),
    // subject by its decoded text, to by the recipients in display form
    // (to is not kept from the first reading: few mails are asked for it).
    std::optional<std::string> from;
    std::optional<std::string> subject;
    std::optional<std::string> to;
};

// One message file, known by its unique name within its folder. Snapshots
// and the folder's index share the record, so a rename seen by any later
// scan is seen by every item that holds it.
struct FileRecord {
    std::string unique;
    // The file's name in new/ or cur/ is the unique name (less the "cur/"
    // of a twin) followed by this: ":2," and the flags, or nothing. Kept
    // apart, it mostly needs no memory of its own.
    std::string info;
    bool inNew = false;
    ino_t inode = 0;
    std::uint64_t seconds = 0; // the unique name's leading digits
    std::uint64_t lastScan = 0;
    bool gone = false; // no longer in its folder
    std::shared_ptr<HeaderData> headers;
    bool isMessage = false; // headers->isMessage, one memory load nearer
    std::uint32_t prefetchSlot = UINT32_MAX; // its place in the header read-ahead, if any

    bool unread() const;
    std::string name() const;
    bool hasName(std::string_view name) const;
    // name starts with the unique name, as every name of this file does.
    void setName(std::string_view name);
};

// Looks names up without making a string of each directory entry.
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

class HeaderPrefetch;

struct FolderState {
    std::string dirName; // "" for the root, ".Trash", ".Name"
    std::string path;
    // Keyed by a view of the record's own unique name, which never changes.
    std::unordered_map<std::string_view, std::shared_ptr<FileRecord>, NameHash, std::equal_to<>> index;
    // The records of the last reading, in walking order; gone ones are
    // dropped at the next walk.
    std::vector<std::shared_ptr<FileRecord>> listing;
    bool listingValid = false; // watched, and nothing has contradicted it
    bool listingHasGone = false;
    std::uint64_t listingVersion = 0; // changes whenever listing does
    int watchNew = -1;
    int watchCur = -1;
    // The folder, and its new/ and cur/ as opened by the last reading: every
    // file is reached relative to them, never through a symbolic link.
    int dir = -1;
    int dirNew = -1;
    int dirCur = -1;
    std::uint64_t scans = 0;
    std::uint64_t changes = 0; // the change events seen for it
};

class MaildirStore {
public:
    // Throws host::HostError when root is not a Maildir (no cur/ and new/).
    explicit MaildirStore(const std::string& root);
    ~MaildirStore();
    MaildirStore(const MaildirStore&) = delete;
    MaildirStore& operator=(const MaildirStore&) = delete;

    // Ends the work of the store's threads, letting the moves under way end,
    // and its watches. Anything asked of the store later starts them again.
    void endWork();

    // The canonical absolute path of the root.
    const std::string& root() const { return root_; }

    std::shared_ptr<FolderState> inbox() { return inbox_; }
    // Creates .Trash (cur/, new/, tmp/) when missing.
    std::shared_ptr<FolderState> trash();
    // Every folder of the store, the Inbox first; folders made by other
    // programs are found here. A folder that is a symbolic link is left out
    // and named in refusedFolders().
    std::vector<std::shared_ptr<FolderState>> folders();

    // The folder's messages now. Records come in order of the unique names'
    // leading seconds (the delivery time by Maildir convention), then of
    // the unique names; a message seen in both new/ and cur/ (moved while
    // reading) comes once. Valid until the next call for that folder.
    const std::vector<std::shared_ptr<FileRecord>>& scan(FolderState& folder);
    // Starts reading a folder not read yet on a thread, its listing and
    // then its header blocks, for its first scan to take; watches it so
    // that a change meanwhile is seen (the scan then reads it afresh).
    void readAhead(FolderState& folder);

    // The message with that unique name, searched in the folders' indexes
    // (Inbox first) and then in every folder read afresh.
    // Throws host::HostError when no folder holds it.
    std::pair<std::shared_ptr<FolderState>, std::shared_ptr<FileRecord>> find(const std::string& unique);
    // The message whose name was asked for last: find looks there first.
    void noteNamed(const std::shared_ptr<FolderState>& folder, const std::shared_ptr<FileRecord>& record) {
        lastNamed_ = {folder, record};
    }

    // The header data, read when not cached. A file that was renamed is
    // found again by its unique name; throws host::HostError when it has
    // gone or cannot be read.
    std::shared_ptr<HeaderData> headers(FolderState& folder, FileRecord& record);
    // The header block as UTF-8-safe text, read again.
    std::shared_ptr<const std::string> rawHeaders(FolderState& folder, FileRecord& record);
    // The To field, unfolded, read again.
    std::optional<std::string> toField(FolderState& folder, FileRecord& record);
    // Whether rawHeaders holds needle, as CaseInsensitiveSearch finds
    // it; nothing when the block was read before that text was first asked
    // for, or is too large to be read whole. Header blocks read later are
    // searched for it as they are read (for a few texts at most).
    std::optional<bool> headersContain(FolderState& folder, FileRecord& record, std::string_view needle);
    // Searches every header block read from now on for needle.
    void searchHeadersFor(std::string_view needle);
    // The file's mtime: when the message was delivered.
    host::Date received(FolderState& folder, FileRecord& record);
    // The text bodies, read or parsed when not cached. The cache keeps the
    // most recently used within bodyBudget, and drops a message's bodies
    // when it goes to the Trash or another file takes its name.
    std::shared_ptr<const MessageBodies> bodies(FolderState& folder, FileRecord& record);
    // Whether the mail's header block followed by the body the purge
    // searches holds needle, as searched ahead for an Inbox mail whose
    // header block lacks it; nothing when that is not known yet (the caller
    // then reads the texts).
    std::optional<bool> textContains(FolderState& folder, FileRecord& record, std::string_view needle);

    // Moves the file into .Trash/cur with one rename; in .Trash it unlinks it.
    void remove(FolderState& folder, FileRecord& record);
    // The same, the rename left to a thread of its own so that a purge goes
    // on judging meanwhile: the record reads as moved at once. A rename that
    // fails there is made again by remove before the store next reads a
    // folder, and a move that fails then too is kept for settleMoves.
    void removeSoon(FolderState& folder, const std::shared_ptr<FileRecord>& record);
    struct FailedMove {
        std::shared_ptr<FileRecord> record;
        std::exception_ptr why; // what remove threw
    };
    // Waits for the moves under way; the moves that failed since last asked.
    std::vector<FailedMove> settleMoves();
    // Marks the message seen as a mail client does: new/ to cur/, and the S
    // flag added to the info in its sorted place. A seen message is left alone.
    void markRead(FolderState& folder, FileRecord& record);
    // Takes the S flag off a seen message; an unread one is left alone.
    void markUnread(FolderState& folder, FileRecord& record);

    const std::vector<std::string>& refusedFolders() const { return refusedFolders_; }
    // The path of the record's file, for messages.
    std::string pathOf(const FolderState& folder, const FileRecord& record) const;

    bool isTrash(const FolderState& folder) const { return folder.dirName == trashDirName; }

    static constexpr const char* trashDirName = ".Trash";
    static constexpr std::size_t bodyBudget = 8u * 1024 * 1024;

private:
    // Opens the record's file, scanning its folder again once when the name
    // it had is gone.
    int open(FolderState& folder, FileRecord& record, struct stat* status = nullptr);
    // Like open, for the file's status.
    struct stat status(FolderState& folder, FileRecord& record);
    std::shared_ptr<FolderState> folderState(const std::string& dirName);
    // Opens (making it first when asked) a folder below the root, and its
    // cur/ and new/, refusing symbolic links.
    void openFolder(FolderState& folder, bool make);
    void makeFolderDirs(const std::string& dirName);
    // Whether the folder's descriptors still show the folder named so.
    bool stillThere(const FolderState& folder) const;
    int openLinked(const std::string& path);
    void closeAll();
    void stopWatching() noexcept;
    void readDirectories(FolderState& folder);
    // Reads the directories whatever the events say.
    void rescan(FolderState& folder);
    void setSeen(FolderState& folder, FileRecord& record, bool seen);
    void watch(FolderState& folder);
    // Reads the pending change events and drops every listing they contradict.
    void takeEvents();

    std::string root_;
    int rootFd_ = -1;
    std::vector<std::string> refusedFolders_;
    std::shared_ptr<FolderState> inbox_;
    std::map<std::string, std::shared_ptr<FolderState>> folders_;
    int events_ = -1; // inotify; -1 when changes cannot be watched
    std::unordered_map<int, std::pair<FolderState*, bool>> watches_; // to folder and "is new/"
    // The decoded text bodies of the most recently used mails, within
    // bodyBudget: a purge asks for the same bodies again. An entry whose
    // header data has gone (another file took the name) is stale.
    struct CachedBodies {
        const HeaderData* key;
        std::weak_ptr<const HeaderData> owner;
        std::shared_ptr<const MessageBodies> bodies;
        std::size_t bytes = 0;
    };
    std::list<CachedBodies> bodiesByUse_; // least recently used first
    std::unordered_map<const HeaderData*, std::list<CachedBodies>::iterator> bodyIndex_;
    std::size_t bodyBytes_ = 0;
    void dropBodies(const HeaderData* data);
    std::string readBuffer_; // reused: most files are read only for their headers
    // Header blocks of the folder last read, read ahead on a second thread.
    std::unique_ptr<HeaderPrefetch> prefetch_;
    void startPrefetch(FolderState& folder);
    std::shared_ptr<HeaderData> prefetched(FolderState& folder, FileRecord& record);
    void forgetHeaders(FileRecord& record) {
        record.headers.reset();
        record.prefetchSlot = UINT32_MAX;
    }
    std::vector<std::pair<std::string, CaseInsensitiveSearch>> searches_;
    std::shared_ptr<const MessageBodies> readBodies(FolderState& folder, FileRecord& record, const HeaderData& data);
    // The whole texts of the Inbox's mails searched on a second thread, as
    // their header blocks come in.
    struct SearchAhead;
    std::unique_ptr<SearchAhead> searchAhead_;
    void searchTextAhead(FolderState& folder, FileRecord& record, const std::shared_ptr<HeaderData>& data);
    // Searches the whole text on this thread; keeps the answer when asked.
    std::optional<bool> searchHere(FolderState& folder, FileRecord& record, const std::shared_ptr<HeaderData>& data,
                                   std::uint8_t bit, bool keep);
    std::pair<std::shared_ptr<FolderState>, std::shared_ptr<FileRecord>> lastNamed_;
    class Mover;
    std::unique_ptr<Mover> mover_;
    std::shared_ptr<FolderState> movingTo_; // the Trash as found when the moves under way began
    std::vector<FailedMove> failedMoves_;
    // Waits for the moves under way and makes the failed ones again here.
    void finishMoves();
    // Takes the record out of its folder, as moved.
    void forget(FolderState& folder, FileRecord& record);
    struct TrashMove {
        std::string name;      // the file's name now
        std::string movedName; // its name in the Trash
        bool toNew = false;
    };
    static TrashMove trashMove(const FileRecord& record);
    // Gives the Trash's index the moved file's record when the Trash has been read.
    static std::shared_ptr<FileRecord> movedIntoTrash(FolderState& trashFolder, const FileRecord& record,
                                                      const TrashMove& move);
    // Well below the kernel's default queue of 16384 events.
    static constexpr std::uint64_t eventDrainInterval = 1024;
    std::uint64_t removals_ = 0;
};

} // namespace skerrow::maildir
