#include "hosts/maildir/maildir_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace skerrow::maildir {

namespace {

constexpr const char* infoSeparator = ":2,";
constexpr std::size_t headerBlockChunk = 1024 * 1024;

StoreFailure systemFailure(const std::string& what, int error) {
    return StoreFailure(what + ": " + std::strerror(error));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Opens a folder below parent, never through a symbolic link: run by root
// on a user's store, a planted link must not lead the moves elsewhere.
int openDirectory(int parent, const std::string& name, const std::string& path) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    const int error = errno;
    struct stat st{};
    if ((error == ELOOP || error == ENOTDIR) && ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
        throw StoreFailure(path + " is a symbolic link: folders of the store are not followed");
    throw systemFailure("cannot open " + path, error);
}

bool isDirectoryAt(int parent, const char* name) {
    struct stat st{};
    return ::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode));
}


std::uint64_t leadingSeconds(std::string_view unique) {
    std::uint64_t seconds = 0;
    for (std::size_t i = 0; i < unique.size() && i < 19 && unique[i] >= '0' && unique[i] <= '9'; ++i)
        seconds = seconds * 10 + static_cast<std::uint64_t>(unique[i] - '0');
    return seconds;
}

// Never replaces a file already there: two programs giving a message the
// same name must not make one of them vanish.
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // The file system lacks the flag: look first; the window is tiny.
    struct stat st{};
    if (::fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::renameat(fromDir, from, toDir, to);
}

// Changes made on another machine raise no inotify event here.
bool onNetworkFileSystem(const std::string& path) {
    struct statfs fs{};
    if (::statfs(path.c_str(), &fs) != 0)
        return true;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE (sshfs and the like)
    case 0x01021997: // 9P
    case 0x00C36400: // Ceph
    case 0x5346414F: // AFS
    case 0x73757245: // Coda
        return true;
    default:
        return false;
    }
}

constexpr std::uint32_t watchedChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                                         IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

// A twin's unique name is "cur/" and its file's unique part: no file
// name holds a "/".
std::string_view uniquePart(const FileRecord& record) {
    std::string_view unique = record.unique;
    if (unique.starts_with("cur/"))
        unique.remove_prefix(4);
    return unique;
}

using Searches = std::vector<std::pair<std::string, CaseInsensitiveSearch>>;

// A message file's mtime, the time of its delivery: taken from the status
// read anyway when the file is opened for its header block.
host::Date modified(const struct stat& st) {
    return host::Date(std::chrono::duration_cast<host::Date::duration>(std::chrono::seconds(st.st_mtim.tv_sec) +
                                                                     std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
}

// What the header block at the start of bytes says, as the store keeps it;
// the shape is left to the caller, with the fields it is made from in block.
std::shared_ptr<HeaderData> headerDataOf(std::string_view bytes, const Searches& searches, HeaderBlock& block) {
    std::string_view raw;
    block = scanHeaderBlock(bytes, raw);
    auto data = std::make_shared<HeaderData>();
    data->isMessage = block.isMessage;
    data->whole = block.whole;
    data->bodyOffset = block.bodyOffset;
    data->from = std::move(block.from);
    data->subject = std::move(block.subject);
    // To is asked of the mail shown alone, and read again then.
    if (block.whole && !searches.empty()) {
        // Searched where it was read, unless it holds what is not UTF-8.
        std::string cleaned;
        if (!isCleanAscii(raw)) {
            cleaned = cleanUtf8(std::string(raw));
            raw = cleaned;
        }
        for (std::size_t i = 0; i < searches.size(); ++i)
            if (searches[i].second.foundIn(raw))
                data->found |= static_cast<std::uint8_t>(1u << i);
        data->searched = static_cast<std::uint8_t>((1u << searches.size()) - 1);
    }
    return data;
}

} // namespace

namespace {

// The message files of a folder's new/ and cur/ as one reading found them,
// in walking order: by the unique names' leading seconds, then the unique
// names, and new/ before cur/ under one unique name.
struct DirectoryListing {
    struct Entry {
        std::uint64_t seconds;
        std::uint32_t nameAt, nameSize, uniqueSize;
        bool inNew;
        ino_t inode;
    };
    std::string names;
    std::vector<Entry> entries;

    std::string_view name(const Entry& e) const { return std::string_view(names).substr(e.nameAt, e.nameSize); }
    std::string_view unique(const Entry& e) const { return std::string_view(names).substr(e.nameAt, e.uniqueSize); }
    void add(std::string_view name, bool inNew, ino_t inode) {
        const std::string_view unique = name.substr(0, name.find(infoSeparator));
        entries.push_back({leadingSeconds(unique), static_cast<std::uint32_t>(names.size()),
                           static_cast<std::uint32_t>(name.size()), static_cast<std::uint32_t>(unique.size()), inNew,
                           inode});
        names += name;
    }
};

// Reads new/ (first: a message moved to cur/ meanwhile is then seen in
// cur/ as well, never in neither) and cur/. Throws StoreFailure.
DirectoryListing listDirectories(int dirNew, int dirCur, const std::string& path, std::size_t expected) {
    DirectoryListing listing;
    listing.entries.reserve(expected);
    listing.names.reserve(expected * 64);
    for (const bool inNew : {true, false}) {
        const int listFd = ::openat(inNew ? dirNew : dirCur, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
        if (!dir) {
            const int error = errno;
            if (listFd >= 0)
                ::close(listFd);
            throw systemFailure("cannot read " + path + (inNew ? "/new" : "/cur"), error);
        }
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.' && entry->d_type != DT_DIR)
                listing.add(entry->d_name, inNew, entry->d_ino);
        ::closedir(dir);
    }
    std::sort(listing.entries.begin(), listing.entries.end(), [&](const auto& a, const auto& b) {
        if (a.seconds != b.seconds)
            return a.seconds < b.seconds;
        const int order = listing.unique(a).compare(listing.unique(b));
        return order != 0 ? order < 0 : a.inNew > b.inNew;
    });
    return listing;
}

// The entries a directory of that size holds at most, about: an entry
// takes its name and a few bytes more.
std::size_t entriesBySize(int dirNew, int dirCur) {
    struct stat newDir{}, curDir{};
    if (::fstat(dirNew, &newDir) != 0 || ::fstat(dirCur, &curDir) != 0)
        return 0;
    return static_cast<std::size_t>(newDir.st_size + curDir.st_size) / 64;
}

} // namespace

// Reads the header blocks of a folder's files on a second thread, from the
// end of the listing back, while the walks that want them run on the first
// from its start: the two meet once in the middle instead of taking turns
// file by file, where the first would wait for the second at every turn.
// On a warm page cache a header block costs the system calls that open and
// read it, which two processors share. The thread has its own copies of
// the names, of the directories' descriptors and of the searched texts. The
// first thread takes what it has read, or reads a file itself: one the
// thread has not reached (claiming it), or one it is slow to finish.
//
// Made for a folder not read yet, the thread reads the directories first,
// and the folder's reading takes that listing: a store just opened then
// has its first files' header blocks read while the program starts.
class HeaderPrefetch {
public:
    struct Job {
        std::atomic<int> state{open};
        // Set by whoever claimed the job, before it is done.
        std::shared_ptr<HeaderData> data; // nothing when it could not be read
        std::optional<BodyShape> shape;
        // The fields of a shape only GMime can tell.
        std::unique_ptr<std::pair<std::optional<std::string>, std::optional<std::string>>> mimeFields;
    };
    static constexpr int open = 0, claimed = 1, done = 2;

    // Reads the files listed, in their order.
    HeaderPrefetch(const FolderState& folder, DirectoryListing listing, Searches searches)
        : HeaderPrefetch(folder, std::move(searches)) {
        setListing(std::move(listing));
        listed_ = true;
        if (dirNew_ >= 0 && dirCur_ >= 0)
            thread_ = std::thread([this] { run(); });
    }
    // Lists the folder's directories first; changes: the folder's count of
    // changes seen when its directories were watched, just before.
    HeaderPrefetch(const FolderState& folder, Searches searches, std::uint64_t changes)
        : HeaderPrefetch(folder, std::move(searches)) {
        changes_ = changes;
        struct stat st{};
        for (auto [fd, inode] : {std::pair{dirNew_, &newInode_}, std::pair{dirCur_, &curInode_}})
            if (fd >= 0 && ::fstat(fd, &st) == 0)
                *inode = st.st_ino;
        if (dirNew_ < 0 || dirCur_ < 0 || newInode_ == 0 || curInode_ == 0) {
            listed_ = true; // no listing to take
            return;
        }
        thread_ = std::thread([this, path = folder.path, expected = entriesBySize(dirNew_, dirCur_)] {
            try {
                setListing(listDirectories(dirNew_, dirCur_, path, expected));
            } catch (...) {
                listingFailed_ = true; // read again by the folder's reading, which reports why
            }
            {
                std::lock_guard lock(mutex_);
                listed_ = true;
            }
            listedSignal_.notify_all();
            if (!listingFailed_)
                run();
        });
    }
    ~HeaderPrefetch() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        for (int fd : {dirNew_, dirCur_})
            if (fd >= 0)
                ::close(fd);
    }
    HeaderPrefetch(const HeaderPrefetch&) = delete;
    HeaderPrefetch& operator=(const HeaderPrefetch&) = delete;

    const FolderState* folder() const { return folder_; }
    std::size_t searchCount() const { return searches_.size(); }

    // The listing the thread read, for the folder's first reading since,
    // once it is there; nothing when the thread was given its listing,
    // when the folder changed or was replaced since it was watched, or when
    // the listing failed. The job of entry i is then slot i.
    const DirectoryListing* takeListing(const FolderState& folder) {
        if (newInode_ == 0 || takenBy_ != 0 || &folder != folder_ || folder.changes != changes_)
            return nullptr;
        struct stat newDir{}, curDir{};
        if (::fstat(folder.dirNew, &newDir) != 0 || ::fstat(folder.dirCur, &curDir) != 0 ||
            newDir.st_ino != newInode_ || curDir.st_ino != curInode_)
            return nullptr;
        std::unique_lock lock(mutex_);
        listedSignal_.wait(lock, [&] { return listed_; });
        if (listingFailed_)
            return nullptr;
        takenBy_ = folder.scans;
        return &listing_;
    }
    // Whether the folder's reading numbered scan took the listing.
    bool listedFor(std::uint64_t scan) const { return takenBy_ == scan; }

    // The header data read for the record, waiting a moment when the
    // thread is at it; nothing when the caller is to read it (not reached
    // yet, renamed since, not readable there, not read in that moment).
    std::shared_ptr<HeaderData> take(const FileRecord& record, std::uint32_t slot, BodyShape (*shapeOf)(const Job&)) {
        if (slot >= count_)
            return nullptr;
        ++settled_;
        const DirectoryListing::Entry& entry = listing_.entries[slot];
        if (entry.inNew != record.inNew || !record.hasName(listing_.name(entry)))
            return nullptr; // renamed since
        Job& job = jobs_[slot];
        int state = open;
        if (job.state.compare_exchange_strong(state, claimed, std::memory_order_acq_rel))
            return nullptr; // ours now: the thread will pass it over
        // The thread is at it: a header block takes it microseconds. Should
        // it have lost its processor meanwhile (on a loaded machine), the
        // caller reads the file again rather than wait for it.
        for (int spin = 0; spin < 16384 && state != done; ++spin)
            state = job.state.load(std::memory_order_acquire);
        if (state != done)
            return nullptr;
        if (job.data)
            job.data->shape = job.shape ? *job.shape : shapeOf(job);
        return std::move(job.data);
    }
    // Whether every job has been asked for.
    bool spent() const { return settled_ == count_; }

private:
    HeaderPrefetch(const FolderState& folder, Searches searches)
        : folder_(&folder), searches_(std::move(searches)), dirNew_(::fcntl(folder.dirNew, F_DUPFD_CLOEXEC, 0)),
          dirCur_(::fcntl(folder.dirCur, F_DUPFD_CLOEXEC, 0)) {}

    void setListing(DirectoryListing listing) {
        listing_ = std::move(listing);
        count_ = listing_.entries.size();
        jobs_.reset(new Job[count_]);
    }

    void run() {
        std::string buffer;
        for (std::size_t left = count_; left > 0; --left) {
            if (stop_)
                return;
            Job& job = jobs_[left - 1];
            int state = open;
            if (!job.state.compare_exchange_strong(state, claimed, std::memory_order_acq_rel))
                continue;
            try {
                read(listing_.entries[left - 1], job, buffer);
            } catch (...) {
                job.data.reset(); // read again by the first thread, which reports why
            }
            job.state.store(done, std::memory_order_release);
        }
    }

    void read(const DirectoryListing::Entry& entry, Job& job, std::string& buffer) {
        // As MaildirStore::open: no link followed, no FIFO waited for.
        const std::string name(listing_.name(entry));
        FileDescriptor fd(::openat(entry.inNew ? dirNew_ : dirCur_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st{};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
            return;
        readHeaderBytes(fd.get(), buffer);
        HeaderBlock block;
        job.data = headerDataOf(buffer, searches_, block);
        job.data->received = modified(st);
        job.shape = plainBodyShape(block.contentType, block.transferEncoding);
        if (!job.shape)
            job.mimeFields = std::make_unique<std::pair<std::optional<std::string>, std::optional<std::string>>>(
                std::move(block.contentType), std::move(block.transferEncoding));
        if (buffer.capacity() > 4 * headerBlockChunk)
            std::string().swap(buffer);
    }

    const FolderState* folder_;
    // Written by the thread before listed_ when it lists the directories.
    DirectoryListing listing_;
    std::unique_ptr<Job[]> jobs_;
    std::size_t count_ = 0;
    std::size_t settled_ = 0; // asked for by the first thread
    const Searches searches_;
    int dirNew_;
    int dirCur_;
    ino_t newInode_ = 0, curInode_ = 0; // of the directories listed by the thread
    std::uint64_t changes_ = 0;
    std::uint64_t takenBy_ = 0;
    std::mutex mutex_;
    std::condition_variable listedSignal_;
    bool listed_ = false;
    std::atomic<bool> listingFailed_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Renames files into the Trash in the order given, on a thread of its own:
// a rename costs the kernel tens of microseconds in a large folder, and a
// purge has thousands to make while it reads the next mails.
class MaildirStore::Mover {
public:
    struct Move {
        std::shared_ptr<FolderState> folder;
        std::shared_ptr<FileRecord> record;
        std::shared_ptr<FileRecord> inTrash; // what the Trash's index was given for it, if anything
        int fromDir = -1;
        std::string name;
        int toDir = -1;
        std::string movedName;
        int error = 0;
    };

    Mover() : thread_([this] { run(); }) {}
    ~Mover() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    Mover(const Mover&) = delete;
    Mover& operator=(const Mover&) = delete;

    void push(Move move) {
        bool wake;
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(move));
            // Woken for a batch: waking a thread costs about what a rename does.
            wake = queue_.size() >= batch;
        }
        if (wake)
            wake_.notify_one();
    }
    // Whether every move pushed has been tried, waiting at most that long.
    bool waitFor(std::chrono::milliseconds most) {
        std::unique_lock lock(mutex_);
        if (!queue_.empty())
            wake_.notify_one();
        return done_.wait_for(lock, most, [&] { return queue_.empty() && !busy_; });
    }
    // Waits until every move pushed has been tried; the ones that failed.
    std::vector<Move> finish() {
        std::unique_lock lock(mutex_);
        if (!queue_.empty())
            wake_.notify_one();
        done_.wait(lock, [&] { return queue_.empty() && !busy_; });
        return std::exchange(failed_, {});
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            Move move = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            move.error = renameNoReplace(move.fromDir, move.name.c_str(), move.toDir, move.movedName.c_str()) == 0 ? 0 : errno;
            Move done = move.error ? std::move(move) : Move{};
            lock.lock();
            if (done.record)
                failed_.push_back(std::move(done));
            busy_ = false;
            if (queue_.empty())
                done_.notify_all();
        }
    }

    static constexpr std::size_t batch = 64;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<Move> queue_;
    std::vector<Move> failed_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

namespace {

BodyShape shapeByMime(const HeaderPrefetch::Job& job) {
    return bodyShape(job.mimeFields->first, job.mimeFields->second);
}

} // namespace

// new/ and cur/ of one reading of a folder, for the thread below.
struct SearchDirectories {
    int dirNew = -1;
    int dirCur = -1;
    ~SearchDirectories() {
        for (int fd : {dirNew, dirCur})
            if (fd >= 0)
                ::close(fd);
    }
};

namespace {

// One bit a search: whether the whole text of the message file open on fd
// (its header block followed by the body the purge searches: the HTML
// body, or the plain one when there is no HTML) holds the searched text,
// as the add-in finds it in the texts bodies() and rawHeaders() give.
// Nothing when the file cannot be read whole.
std::optional<std::uint8_t> searchWholeText(int fd, const struct stat& st, BodyShape shape, std::size_t bodyOffset,
                                            const Searches& searches) {
    if (static_cast<std::uint64_t>(st.st_size) > bodyReadLimit)
        return std::nullopt;
    const WholeFile file(fd);
    std::string_view block;
    if (!scanHeaderBlock(file.bytes(), block).whole)
        return std::nullopt;
    const std::string headers = cleanUtf8(std::string(block));
    const MessageBodies bodies = file.bodies(shape, bodyOffset);
    const std::string& body = bodies.html.empty() ? bodies.plain : bodies.html;
    std::uint8_t found = 0;
    for (std::size_t i = 0; i < searches.size(); ++i) {
        const CaseInsensitiveSearch& search = searches[i].second;
        if (search.foundIn(headers) || search.foundIn(body) || search.foundAcross(headers, body))
            found |= static_cast<std::uint8_t>(1u << i);
    }
    return found;
}

} // namespace

// Searches, on a thread of its own, the whole text of the Inbox's mails
// whose header blocks lack a text the purge looks for: the header block
// followed by the body the purge would search, read and parsed as bodies()
// would. Parsing those bodies would otherwise be most of a purge's work on
// a large folder, done while it waits; here it is done as the headers come
// in, and only the answers are kept. The thread reads a file under the name
// it had when queued, and only when that name still leads to the file the
// folder's reading listed. A mail the walk reaches first it claims and
// reads itself.
class TextSearcher {
public:
    struct Job {
        std::shared_ptr<HeaderData> data;
        std::shared_ptr<const SearchDirectories> directories;
        std::shared_ptr<const Searches> searches;
        std::string name;
        bool inNew = false;
        ino_t inode = 0;
        BodyShape shape = BodyShape::NeedsParse;
        std::size_t bodyOffset = std::string::npos;
    };

    TextSearcher() : thread_([this] { run(); }) {}
    ~TextSearcher() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    TextSearcher(const TextSearcher&) = delete;
    TextSearcher& operator=(const TextSearcher&) = delete;

    void add(Job job) {
        bool wake;
        {
            std::lock_guard lock(mutex_);
            if (queue_.size() >= mostQueued)
                return; // left to the walk
            job.data->textState.store(HeaderData::textQueued, std::memory_order_relaxed);
            queue_.push_back(std::move(job));
            wake = idle_;
        }
        if (wake)
            wake_.notify_one();
    }

private:
    static constexpr std::size_t mostQueued = 65536;

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            idle_ = true;
            wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            idle_ = false;
            if (stop_)
                return;
            // Newest first: the walk that asks for the answers goes from the
            // oldest, so the two meet once rather than queue behind each
            // other mail by mail.
            Job job = std::move(queue_.back());
            queue_.pop_back();
            lock.unlock();
            std::uint8_t state = HeaderData::textQueued;
            if (job.data->textState.compare_exchange_strong(state, HeaderData::textSearching,
                                                            std::memory_order_acquire)) {
                bool searched = false;
                try {
                    searched = search(job);
                } catch (...) {
                    // read again by the walk, which reports why
                }
                job.data->textState.store(searched ? HeaderData::textSearched : HeaderData::textUnsearched,
                                          std::memory_order_release);
            }
            job = {};
            lock.lock();
        }
    }

    // As MaildirStore::open does; false when the walk is to read the mail
    // itself.
    static bool search(const Job& job) {
        FileDescriptor fd(::openat(job.inNew ? job.directories->dirNew : job.directories->dirCur, job.name.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st{};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_ino != job.inode)
            return false;
        const auto found = searchWholeText(fd.get(), st, job.shape, job.bodyOffset, *job.searches);
        if (!found)
            return false;
        job.data->textFound = *found;
        job.data->textSearchedFor = static_cast<std::uint8_t>((1u << job.searches->size()) - 1);
        return true;
    }

    std::mutex mutex_;
    std::condition_variable wake_; // a job was added, or the thread is to stop
    std::deque<Job> queue_;
    bool idle_ = false;
    bool stop_ = false;
    std::thread thread_;
};

struct MaildirStore::SearchAhead {
    std::shared_ptr<SearchDirectories> directories;
    const FolderState* folder = nullptr;
    std::uint64_t scans = 0; // the folder's reading the directories are of
    std::shared_ptr<const Searches> searches;
    TextSearcher searcher;
};

void MaildirStore::startPrefetch(FolderState& folder) {
    if (prefetch_ && prefetch_->folder() == &folder && prefetch_->listedFor(folder.scans))
        return; // its listing is this reading's
    // A thread for one file would not start before the walk reads it.
    constexpr std::size_t fewestPrefetched = 2;
    prefetch_.reset();
    DirectoryListing listing;
    for (const auto& record : folder.listing) {
        record->prefetchSlot = UINT32_MAX;
        if (record->headers || record->gone)
            continue;
        record->prefetchSlot = static_cast<std::uint32_t>(listing.entries.size());
        listing.add(record->name(), record->inNew, record->inode);
    }
    if (listing.entries.size() < fewestPrefetched)
        return;
    prefetch_ = std::make_unique<HeaderPrefetch>(folder, std::move(listing), searches_);
}

void MaildirStore::readAhead(FolderState& folder) {
    // Unwatched, a change meanwhile would go unseen.
    if (events_ < 0 || prefetch_ || folder.scans != 0 || folder.dirNew < 0 || folder.dirCur < 0)
        return;
    watch(folder); // first, so that no change slips in unseen
    if (folder.watchNew >= 0 && folder.watchCur >= 0)
        prefetch_ = std::make_unique<HeaderPrefetch>(folder, searches_, folder.changes);
}

std::shared_ptr<HeaderData> MaildirStore::prefetched(FolderState& folder, FileRecord& record) {
    const std::uint32_t slot = std::exchange(record.prefetchSlot, UINT32_MAX);
    if (slot == UINT32_MAX || !prefetch_ || prefetch_->folder() != &folder)
        return nullptr;
    if (prefetch_->searchCount() != searches_.size()) {
        prefetch_.reset(); // a text asked for since is to be searched in every block read from now on
        return nullptr;
    }
    auto data = prefetch_->take(record, slot, shapeByMime);
    if (prefetch_->spent())
        prefetch_.reset(); // its memory is wanted more elsewhere
    if (!data)
        return nullptr;
    record.isMessage = data->isMessage;
    record.headers = data;
    searchTextAhead(folder, record, data);
    return data;
}

bool FileRecord::unread() const {
    if (inNew)
        return true;
    const auto flags = info.find(infoSeparator);
    return flags == std::string::npos || info.find('S', flags + 3) == std::string::npos;
}

std::string FileRecord::name() const {
    std::string name(uniquePart(*this));
    name += info;
    return name;
}

bool FileRecord::hasName(std::string_view name) const {
    const std::string_view unique = uniquePart(*this);
    return name.size() == unique.size() + info.size() && name.starts_with(unique) && name.ends_with(info);
}

void FileRecord::setName(std::string_view name) {
    info = name.substr(std::min(name.size(), uniquePart(*this).size()));
}

MaildirStore::MaildirStore(const std::string& root) {
    initMime();
    char* canonical = ::realpath(root.c_str(), nullptr);
    if (!canonical)
        throw systemFailure("cannot open the Maildir " + root, errno);
    root_ = canonical;
    std::free(canonical);
    rootFd_ = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd_ < 0)
        throw systemFailure("cannot open the Maildir " + root_, errno);
    try {
        if (!isDirectoryAt(rootFd_, "cur") || !isDirectoryAt(rootFd_, "new"))
            throw host::HostError(root_ + " is not a Maildir: it has no cur/ and new/ folders");
        inbox_ = folderState("");
        openFolder(*inbox_, false);
    } catch (...) {
        closeAll();
        throw;
    }
    if (!onNetworkFileSystem(root_))
        events_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

MaildirStore::~MaildirStore() {
    endWork();
    closeAll();
}

void MaildirStore::endWork() {
    prefetch_.reset();
    searchAhead_.reset();
    mover_.reset(); // lets the moves under way end; nobody is left to hear of a failure
    stopWatching();
}

// Closing an inotify descriptor that still has watches waits for the
// kernel to retire them (some 15-20 ms); watches removed first cost little.
// A later reading watches again and reads the folder afresh.
void MaildirStore::stopWatching() noexcept {
    for (const auto& [wd, watched] : watches_) {
        ::inotify_rm_watch(events_, wd);
        auto [folder, inNew] = watched;
        (inNew ? folder->watchNew : folder->watchCur) = -1;
        folder->listingValid = false;
        ++folder->changes;
    }
    watches_.clear();
}

void MaildirStore::closeAll() {
    mover_.reset(); // it renames through these descriptors
    stopWatching();
    for (int* fd : {&events_, &rootFd_})
        if (*fd >= 0)
            ::close(std::exchange(*fd, -1));
    for (auto& [dirName, folder] : folders_)
        for (int* fd : {&folder->dir, &folder->dirNew, &folder->dirCur})
            if (*fd >= 0)
                ::close(std::exchange(*fd, -1));
}

std::shared_ptr<FolderState> MaildirStore::folderState(const std::string& dirName) {
    auto& slot = folders_[dirName];
    if (!slot) {
        slot = std::make_shared<FolderState>();
        slot->dirName = dirName;
        slot->path = dirName.empty() ? root_ : root_ + "/" + dirName;
    }
    return slot;
}

void MaildirStore::openFolder(FolderState& folder, bool make) {
    finishMoves(); // they rename through the descriptors closed here
    for (int* fd : {&folder.dir, &folder.dirNew, &folder.dirCur})
        if (*fd >= 0)
            ::close(std::exchange(*fd, -1));
    if (make)
        makeFolderDirs(folder.dirName);
    folder.dir = folder.dirName.empty() ? ::fcntl(rootFd_, F_DUPFD_CLOEXEC, 0)
                                        : openDirectory(rootFd_, folder.dirName, folder.path);
    if (folder.dir < 0)
        throw systemFailure("cannot open " + folder.path, errno);
    folder.dirCur = openDirectory(folder.dir, "cur", folder.path + "/cur");
    folder.dirNew = openDirectory(folder.dir, "new", folder.path + "/new");
}

void MaildirStore::makeFolderDirs(const std::string& dirName) {
    // A folder made here looks like the rest of the store, so that a mail
    // server running as the store's owner can use it too.
    struct stat rootStat{};
    if (::fstat(rootFd_, &rootStat) != 0)
        throw systemFailure("cannot read " + root_, errno);
    const mode_t mode = rootStat.st_mode & 07777;
    auto adopt = [&](int fd) {
        if (::geteuid() == 0 && (rootStat.st_uid != 0 || rootStat.st_gid != 0))
            (void)!::fchown(fd, rootStat.st_uid, rootStat.st_gid);
    };
    const std::string path = root_ + "/" + dirName;
    const bool made = ::mkdirat(rootFd_, dirName.c_str(), mode) == 0;
    if (!made && errno != EEXIST)
        throw systemFailure("cannot make " + path, errno);
    FileDescriptor dir(openDirectory(rootFd_, dirName, path));
    if (made)
        adopt(dir.get());
    for (const char* sub : {"cur", "new", "tmp"}) {
        if (::mkdirat(dir.get(), sub, mode) == 0)
            adopt(FileDescriptor(openDirectory(dir.get(), sub, path + "/" + sub)).get());
        else if (errno != EEXIST)
            throw systemFailure("cannot make " + path + "/" + sub, errno);
    }
    FileDescriptor marker(
        ::openat(dir.get(), "maildirfolder", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0666));
    if (marker.get() >= 0)
        adopt(marker.get());
}

bool MaildirStore::stillThere(const FolderState& folder) const {
    if (folder.dir < 0 || folder.dirCur < 0 || folder.dirNew < 0)
        return false;
    struct stat named{}, opened{};
    if (::fstatat(rootFd_, folder.dirName.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstat(folder.dir, &opened) != 0 || named.st_ino != opened.st_ino || named.st_dev != opened.st_dev)
        return false;
    for (int fd : {folder.dirCur, folder.dirNew})
        if (::fstat(fd, &opened) != 0 || opened.st_nlink == 0)
            return false;
    return true;
}

std::shared_ptr<FolderState> MaildirStore::trash() {
    auto folder = folderState(trashDirName);
    if (!stillThere(*folder)) { // made again if someone removed it meanwhile
        openFolder(*folder, true);
        folder->listingValid = false;
    }
    return folder;
}

std::vector<std::shared_ptr<FolderState>> MaildirStore::folders() {
    std::vector<std::shared_ptr<FolderState>> result{inbox_};
    const int listFd = ::fcntl(rootFd_, F_DUPFD_CLOEXEC, 0);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        const int error = errno;
        if (listFd >= 0)
            ::close(listFd);
        throw systemFailure("cannot read " + root_, error);
    }
    ::rewinddir(dir); // the copy shares its place with the root's descriptor
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() < 2 || name[0] != '.' || name == "..")
            continue;
        struct stat st{};
        if (::fstatat(rootFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISLNK(st.st_mode)) {
            const std::string path = root_ + "/" + name;
            if (std::find(refusedFolders_.begin(), refusedFolders_.end(), path) == refusedFolders_.end())
                refusedFolders_.push_back(path);
            continue;
        }
        if (S_ISDIR(st.st_mode) && isDirectoryAt(rootFd_, (name + "/cur").c_str()))
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto& name : names)
        result.push_back(folderState(name));
    return result;
}

void MaildirStore::readDirectories(FolderState& folder) {
    const std::uint64_t thisScan = ++folder.scans;
    std::vector<std::shared_ptr<FileRecord>>& records = folder.listing;
    records.clear();
    openFolder(folder, false); // afresh: the folder may have been replaced
    // The listing the read-ahead made, if it is still the folder's.
    const DirectoryListing* listing = prefetch_ ? prefetch_->takeListing(folder) : nullptr;
    DirectoryListing own;
    if (!listing) {
        if (prefetch_ && prefetch_->folder() == &folder)
            prefetch_.reset(); // its names and descriptors are of the last reading
        own = listDirectories(folder.dirNew, folder.dirCur, folder.path,
                              std::max(folder.index.size() + 16, entriesBySize(folder.dirNew, folder.dirCur)));
        listing = &own;
    }
    const auto& entries = listing->entries;
    records.reserve(entries.size());
    // Sized at once for a first reading: grown entry by entry, the index
    // of a large folder would be rebuilt a dozen times.
    const bool firstReading = folder.index.empty();
    if (firstReading)
        folder.index.reserve(entries.size());
    // Records are made in walking order: made in the directories' own
    // order they would lie scattered, and each walk of a pass would wait
    // on memory for every one of them. A first reading knows no name but
    // the one just before it: only the twin of a name can be known, and it
    // comes right before.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const DirectoryListing::Entry& entry = entries[i];
        const std::string_view name = listing->name(entry);
        const std::string_view unique = listing->unique(entry);
        const bool inNew = entry.inNew;
        auto known = firstReading && (i == 0 || listing->unique(entries[i - 1]) != unique)
                         ? folder.index.end()
                         : folder.index.find(unique);
        std::string twin;
        if (!inNew && known != folder.index.end() && known->second->lastScan == thisScan && known->second->inNew &&
            known->second->inode != entry.inode) {
            // Another message under a unique name that one in new/ has
            // (not that one moved while we read: it has its own inode).
            twin = "cur/" + std::string(unique);
            known = folder.index.find(twin);
        }
        if (known == folder.index.end()) {
            auto record = std::make_shared<FileRecord>();
            record->unique = twin.empty() ? std::string(unique) : twin;
            record->seconds = entry.seconds;
            record->inode = entry.inode;
            known = folder.index.emplace(record->unique, std::move(record)).first;
        }
        FileRecord& record = *known->second;
        if (record.lastScan != thisScan) {
            record.lastScan = thisScan;
            records.push_back(known->second);
        }
        if (record.inode != entry.inode) { // another file under that name now
            forgetHeaders(record);
            record.inode = entry.inode;
        }
        if (!record.hasName(name))
            record.setName(name);
        record.inNew = inNew;
        record.prefetchSlot = listing == &own ? UINT32_MAX : static_cast<std::uint32_t>(i);
    }
    std::erase_if(folder.index, [this, thisScan](const auto& entry) {
        if (entry.second->lastScan == thisScan)
            return false;
        entry.second->gone = true;
        if (entry.second->headers)
            dropBodies(entry.second->headers.get());
        return true;
    });
    ++folder.listingVersion;
    std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
        return a->seconds != b->seconds ? a->seconds < b->seconds : a->unique < b->unique;
    });
}

void MaildirStore::watch(FolderState& folder) {
    if (events_ < 0)
        return;
    for (const bool inNew : {true, false}) {
        int& wd = inNew ? folder.watchNew : folder.watchCur;
        if (wd >= 0)
            continue;
        wd = ::inotify_add_watch(events_, (folder.path + (inNew ? "/new" : "/cur")).c_str(), watchedChanges);
        if (wd >= 0)
            watches_[wd] = {&folder, inNew};
    }
}

void MaildirStore::takeEvents() {
    if (events_ < 0)
        return;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(events_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        for (const char* p = buffer; p < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                for (auto& [dirName, folder] : folders_) {
                    folder->listingValid = false;
                    ++folder->changes;
                }
                continue;
            }
            const auto watched = watches_.find(event->wd);
            if (watched == watches_.end())
                continue;
            auto [folder, inNew] = watched->second;
            ++folder->changes;
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                folder->listingValid = false;
                if (event->mask & IN_IGNORED) {
                    (inNew ? folder->watchNew : folder->watchCur) = -1;
                    watches_.erase(watched);
                }
                continue;
            }
            const std::string_view name = event->len ? event->name : "";
            if (name.empty() || name[0] == '.')
                continue;
            const auto known = folder->index.find(name.substr(0, name.find(infoSeparator)));
            const bool listed =
                known != folder->index.end() && known->second->hasName(name) && known->second->inNew == inNew;
            if (event->mask & IN_CLOSE_WRITE) {
                if (listed) // written after all: what was read may be partial
                    forgetHeaders(*known->second);
                continue;
            }
            const bool arrived = event->mask & (IN_CREATE | IN_MOVED_TO);
            if (arrived && listed) // another file put in its place
                forgetHeaders(*known->second);
            if (arrived || listed)
                folder->listingValid = false;
        }
    }
}

void MaildirStore::rescan(FolderState& folder) {
    // The event of a rename may trail the rename itself by a moment.
    folder.listingValid = false;
    scan(folder);
}

const std::vector<std::shared_ptr<FileRecord>>& MaildirStore::scan(FolderState& folder) {
    finishMoves(); // a move that failed puts its file back in the listing
    takeEvents();
    if (!folder.listingValid) {
        watch(folder); // first, so that no change slips in unseen
        readDirectories(folder);
        folder.listingValid = folder.watchNew >= 0 && folder.watchCur >= 0;
        startPrefetch(folder);
    } else if (folder.listingHasGone) {
        std::erase_if(folder.listing, [](const auto& record) { return record->gone; });
        ++folder.listingVersion;
    }
    folder.listingHasGone = false;
    return folder.listing;
}

std::pair<std::shared_ptr<FolderState>, std::shared_ptr<FileRecord>> MaildirStore::find(const std::string& unique) {
    if (lastNamed_.second && !lastNamed_.second->gone && lastNamed_.second->unique == unique)
        return lastNamed_;
    auto lookIn = [&](const FolderState& folder) -> std::shared_ptr<FileRecord> {
        auto it = folder.index.find(unique);
        return it != folder.index.end() ? it->second : nullptr;
    };
    if (auto record = lookIn(*inbox_))
        return {inbox_, record};
    for (const auto& [dirName, folder] : folders_)
        if (auto record = lookIn(*folder))
            return {folder, record};
    // Delivered or moved since the last look.
    finishMoves();
    for (const auto& folder : folders()) {
        try {
            scan(*folder);
        } catch (const StoreFailure&) {
            continue; // a folder that cannot be read (or is refused) holds nothing for us
        }
        if (auto record = lookIn(*folder))
            return {folder, record};
    }
    throw host::HostError("no message " + unique + " in " + root_);
}

std::string MaildirStore::pathOf(const FolderState& folder, const FileRecord& record) const {
    return folder.path + (record.inNew ? "/new/" : "/cur/") + record.name();
}

int MaildirStore::open(FolderState& folder, FileRecord& record, struct stat* status) {
    for (int attempt = 0;; ++attempt) {
        if (record.gone)
            throw host::HostError("the message " + record.unique + " is no longer in " + folder.path);
        const int dirFd = record.inNew ? folder.dirNew : folder.dirCur;
        // Not blocking: a FIFO put there must not stop the check.
        int fd = ::openat(dirFd, record.name().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ELOOP)
            fd = openLinked(pathOf(folder, record));
        if (fd >= 0) {
            struct stat st{};
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
                if (status)
                    *status = st;
                return fd;
            }
            ::close(fd);
            throw StoreFailure(pathOf(folder, record) + " is not a regular file");
        }
        if (errno != ENOENT || attempt > 0) {
            const int error = errno;
            throw systemFailure("cannot open " + pathOf(folder, record), error);
        }
        rescan(folder); // renamed by another program: find it by its unique name
    }
}

int MaildirStore::openLinked(const std::string& path) {
    // A message file that is a link is read only when it leads to a file of
    // this store.
    char* target = ::realpath(path.c_str(), nullptr);
    if (!target)
        throw systemFailure("cannot open " + path, errno);
    const std::string resolved = target;
    std::free(target);
    if (!resolved.starts_with(root_ + "/"))
        throw StoreFailure(path + " is a symbolic link out of the store: not read");
    return ::open(resolved.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

std::shared_ptr<HeaderData> MaildirStore::headers(FolderState& folder, FileRecord& record) {
    if (record.gone)
        throw host::HostError("the message " + record.unique + " is no longer in " + folder.path);
    if (record.headers)
        return record.headers;
    if (auto data = prefetched(folder, record))
        return data;
    struct stat st{};
    FileDescriptor fd(open(folder, record, &st));
    try {
        readHeaderBytes(fd.get(), readBuffer_);
    } catch (const std::system_error& e) {
        throw systemFailure("cannot read " + pathOf(folder, record), e.code().value());
    }
    HeaderBlock block;
    auto data = headerDataOf(readBuffer_, searches_, block);
    data->shape = bodyShape(block.contentType, block.transferEncoding);
    data->received = modified(st);
    record.isMessage = data->isMessage;
    record.headers = data;
    if (readBuffer_.capacity() > 4 * headerBlockChunk) // a rare giant: give its memory back
        std::string().swap(readBuffer_);
    searchTextAhead(folder, record, data);
    return data;
}

std::shared_ptr<const std::string> MaildirStore::rawHeaders(FolderState& folder, FileRecord& record) {
    auto data = headers(folder, record);
    if (!data->whole)
        throw host::HostError(pathOf(folder, record) + ": the header block is too large to be read whole");
    FileDescriptor fd(open(folder, record));
    try {
        readHeaderBytes(fd.get(), readBuffer_);
    } catch (const std::system_error& e) {
        throw systemFailure("cannot read " + pathOf(folder, record), e.code().value());
    }
    auto raw = std::make_shared<const std::string>(cleanUtf8(scanHeaderBlock(readBuffer_).raw));
    if (readBuffer_.capacity() > 4 * headerBlockChunk)
        std::string().swap(readBuffer_);
    return raw;
}

std::optional<std::string> MaildirStore::toField(FolderState& folder, FileRecord& record) {
    FileDescriptor fd(open(folder, record));
    try {
        readHeaderBytes(fd.get(), readBuffer_);
    } catch (const std::system_error& e) {
        throw systemFailure("cannot read " + pathOf(folder, record), e.code().value());
    }
    auto to = scanHeaderBlock(readBuffer_).to;
    if (readBuffer_.capacity() > 4 * headerBlockChunk)
        std::string().swap(readBuffer_);
    return to;
}

std::optional<bool> MaildirStore::headersContain(FolderState& folder, FileRecord& record, std::string_view needle) {
    auto data = headers(folder, record);
    const auto known = std::find_if(searches_.begin(), searches_.end(), [&](const auto& s) { return s.first == needle; });
    if (known == searches_.end()) {
        searchHeadersFor(needle);
        return std::nullopt;
    }
    const std::uint32_t bit = 1u << (known - searches_.begin());
    if (!data->whole || !(data->searched & bit))
        return std::nullopt;
    return (data->found & bit) != 0;
}

void MaildirStore::searchHeadersFor(std::string_view needle) {
    constexpr std::size_t mostSearches = 8;
    if (searches_.size() < mostSearches &&
        std::none_of(searches_.begin(), searches_.end(), [&](const auto& s) { return s.first == needle; }))
        searches_.emplace_back(std::string(needle), CaseInsensitiveSearch(needle));
}

struct stat MaildirStore::status(FolderState& folder, FileRecord& record) {
    for (int attempt = 0;; ++attempt) {
        if (record.gone)
            throw host::HostError("the message " + record.unique + " is no longer in " + folder.path);
        const int dirFd = record.inNew ? folder.dirNew : folder.dirCur;
        struct stat st{};
        if (::fstatat(dirFd, record.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            return st;
        if (errno != ENOENT || attempt > 0)
            throw systemFailure("cannot read " + pathOf(folder, record), errno);
        rescan(folder);
    }
}

host::Date MaildirStore::received(FolderState& folder, FileRecord& record) {
    auto data = headers(folder, record);
    if (!data->received)
        data->received = modified(status(folder, record));
    return *data->received;
}

void MaildirStore::dropBodies(const HeaderData* data) {
    const auto cached = bodyIndex_.find(data);
    if (cached == bodyIndex_.end())
        return;
    bodyBytes_ -= cached->second->bytes;
    bodiesByUse_.erase(cached->second);
    bodyIndex_.erase(cached);
}

std::shared_ptr<const MessageBodies> MaildirStore::bodies(FolderState& folder, FileRecord& record) {
    auto data = headers(folder, record);
    if (const auto cached = bodyIndex_.find(data.get()); cached != bodyIndex_.end()) {
        if (cached->second->owner.lock() == data) {
            bodiesByUse_.splice(bodiesByUse_.end(), bodiesByUse_, cached->second);
            return cached->second->bodies;
        }
        dropBodies(data.get()); // another mail's that had the same place
    }
    const auto parsed = readBodies(folder, record, *data);
    // The record may have been dropped meanwhile (a rescan while opening).
    const std::size_t bytes = parsed->plain.size() + parsed->html.size();
    if (bytes <= bodyBudget / 4 && !record.gone && record.headers == data) {
        bodyIndex_[data.get()] = bodiesByUse_.insert(bodiesByUse_.end(), CachedBodies{data.get(), data, parsed, bytes});
        bodyBytes_ += bytes;
        while (bodyBytes_ > bodyBudget)
            dropBodies(bodiesByUse_.front().key);
    }
    return parsed;
}

void MaildirStore::forget(FolderState& folder, FileRecord& record) {
    if (record.headers) // not asked for again
        dropBodies(record.headers.get());
    auto it = folder.index.find(record.unique);
    if (it != folder.index.end() && it->second.get() == &record)
        folder.index.erase(it);
    record.gone = true;
    folder.listingHasGone = true;
}

MaildirStore::TrashMove MaildirStore::trashMove(const FileRecord& record) {
    TrashMove move;
    move.name = record.name();
    // Moving to cur/ is what marks a message as seen by a client; its
    // info starts then.
    const bool hasInfo = move.name.find(infoSeparator) != std::string::npos;
    // A name with no room left for the info goes to new/ as it is.
    move.toNew = record.inNew && !hasInfo && move.name.size() + 3 > NAME_MAX;
    move.movedName = record.inNew && !hasInfo && !move.toNew ? move.name + infoSeparator : move.name;
    return move;
}

std::shared_ptr<FileRecord> MaildirStore::movedIntoTrash(FolderState& trashFolder, const FileRecord& record,
                                                        const TrashMove& move) {
    trashFolder.listingValid = false;
    if (trashFolder.scans == 0 || trashFolder.index.contains(record.unique))
        return nullptr;
    auto moved = std::make_shared<FileRecord>(record);
    moved->setName(move.movedName);
    moved->inNew = move.toNew;
    moved->gone = false;
    moved->lastScan = 0; // scans of another folder counted that
    trashFolder.index.emplace(moved->unique, moved);
    return moved;
}

void MaildirStore::removeSoon(FolderState& folder, const std::shared_ptr<FileRecord>& record) {
    if (isTrash(folder) || record->gone) {
        remove(folder, *record); // deleting for good is rare; remove says why a gone one cannot go
        return;
    }
    if (++removals_ % eventDrainInterval == 0)
        takeEvents();
    if (!movingTo_)
        movingTo_ = trash(); // looked for once a batch: a Trash removed meanwhile fails the renames, made again then
    if (!mover_)
        mover_ = std::make_unique<Mover>();
    const TrashMove move = trashMove(*record);
    const int fromDir = record->inNew ? folder.dirNew : folder.dirCur;
    forget(folder, *record);
    auto inTrash = movedIntoTrash(*movingTo_, *record, move);
    mover_->push({folderState(folder.dirName), record, std::move(inTrash), fromDir, move.name,
                  move.toNew ? movingTo_->dirNew : movingTo_->dirCur, move.movedName});
}

void MaildirStore::finishMoves() {
    if (!mover_)
        return;
    movingTo_.reset();
    // The renames queue change events as they are made: read them meanwhile,
    // or the kernel's queue overflows into a reading of every directory at
    // the next walk.
    while (!mover_->waitFor(std::chrono::milliseconds(5)))
        takeEvents();
    auto failed = mover_->finish();
    // Every one taken back before any is tried again: trying one may read
    // the folder, which would list the others as new files.
    for (auto& move : failed) {
        FileRecord& record = *move.record;
        record.gone = false;
        move.folder->index.try_emplace(record.unique, move.record);
        if (move.inTrash) {
            const auto trashFolder = folderState(trashDirName);
            if (auto it = trashFolder->index.find(record.unique); it != trashFolder->index.end() && it->second == move.inTrash)
                trashFolder->index.erase(it);
        }
    }
    for (auto& move : failed) {
        try {
            remove(*move.folder, *move.record); // as a move made here is
        } catch (const host::HostError&) {
            failedMoves_.push_back({move.record, std::current_exception()});
        }
    }
}

std::vector<MaildirStore::FailedMove> MaildirStore::settleMoves() {
    finishMoves();
    return std::exchange(failedMoves_, {});
}

std::shared_ptr<const MessageBodies> MaildirStore::readBodies(FolderState& folder, FileRecord& record,
                                                              const HeaderData& data) {
    FileDescriptor fd(open(folder, record));
    const std::string path = pathOf(folder, record);
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0)
        throw systemFailure("cannot read " + path, errno);
    if (!data.whole || static_cast<std::uint64_t>(st.st_size) > bodyReadLimit)
        throw host::HostError(path + " is too large to be read whole");
    try {
        return std::make_shared<const MessageBodies>(WholeFile(fd.get()).bodies(data.shape, data.bodyOffset));
    } catch (const std::system_error& e) {
        throw systemFailure("cannot read " + path, e.code().value());
    } catch (const std::runtime_error& e) {
        throw host::HostError(path + ": " + e.what());
    }
}

void MaildirStore::searchTextAhead(FolderState& folder, FileRecord& record, const std::shared_ptr<HeaderData>& data) {
    // The purge searches the Inbox only.
    if (!folder.dirName.empty() || searches_.empty() || !data->isMessage || !data->whole)
        return;
    const auto every = static_cast<std::uint8_t>((1u << searches_.size()) - 1);
    if ((data->searched & every) != every || (data->found & every) == every)
        return; // the headers decide for every text, or it is not known which
    if (!searchAhead_)
        searchAhead_ = std::make_unique<SearchAhead>();
    SearchAhead& ahead = *searchAhead_;
    if (!ahead.directories || ahead.folder != &folder || ahead.scans != folder.scans) {
        auto directories = std::make_shared<SearchDirectories>();
        directories->dirNew = ::fcntl(folder.dirNew, F_DUPFD_CLOEXEC, 0);
        directories->dirCur = ::fcntl(folder.dirCur, F_DUPFD_CLOEXEC, 0);
        if (directories->dirNew < 0 || directories->dirCur < 0)
            return;
        ahead.directories = std::move(directories);
        ahead.folder = &folder;
        ahead.scans = folder.scans;
    }
    if (!ahead.searches || ahead.searches->size() != searches_.size())
        ahead.searches = std::make_shared<const Searches>(searches_);
    ahead.searcher.add({data, ahead.directories, ahead.searches, record.name(), record.inNew, record.inode, data->shape,
                        data->bodyOffset});
}

std::optional<bool> MaildirStore::textContains(FolderState& folder, FileRecord& record, std::string_view needle) {
    const std::shared_ptr<HeaderData> data = record.headers;
    if (record.gone || !data || !data->whole || !folder.dirName.empty())
        return std::nullopt;
    const auto known = std::find_if(searches_.begin(), searches_.end(), [&](const auto& s) { return s.first == needle; });
    if (known == searches_.end())
        return std::nullopt;
    const auto bit = static_cast<std::uint8_t>(1u << (known - searches_.begin()));
    if ((data->searched & bit) && (data->found & bit))
        return true;
    std::uint8_t state = data->textState.load(std::memory_order_acquire);
    if (state == HeaderData::textQueued &&
        data->textState.compare_exchange_strong(state, HeaderData::textClaimed, std::memory_order_acquire))
        return searchHere(folder, record, data, bit, true); // the walk is there first
    // The thread is at it: a mail takes it well under a millisecond.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    for (int spin = 0; state == HeaderData::textSearching; ++spin) {
        if (spin >= 1024) {
            if (std::chrono::steady_clock::now() > until)
                return searchHere(folder, record, data, bit, false); // it lost its processor: the answer is here sooner
            std::this_thread::yield(); // the thread may be waiting for this processor
        }
        state = data->textState.load(std::memory_order_acquire);
    }
    if (state != HeaderData::textSearched || !(data->textSearchedFor & bit))
        return std::nullopt;
    return (data->textFound & bit) != 0;
}

std::optional<bool> MaildirStore::searchHere(FolderState& folder, FileRecord& record,
                                             const std::shared_ptr<HeaderData>& data, std::uint8_t bit, bool keep) {
    try {
        struct stat st{};
        FileDescriptor fd(open(folder, record, &st));
        if (record.headers != data)
            return std::nullopt; // another file has the name now
        const auto found = searchWholeText(fd.get(), st, data->shape, data->bodyOffset, searches_);
        if (!found)
            return std::nullopt;
        if (keep) {
            data->textFound = *found;
            data->textSearchedFor = static_cast<std::uint8_t>((1u << searches_.size()) - 1);
            data->textState.store(HeaderData::textSearched, std::memory_order_relaxed);
        }
        return (*found & bit) != 0;
    } catch (const std::exception&) {
        return std::nullopt; // read again by the caller, which reports why
    }
}

void MaildirStore::remove(FolderState& folder, FileRecord& record) {
    finishMoves();
    // A purge moves more files than the kernel queues events for: read
    // them as it goes, so that the queue does not overflow into a reading
    // of every directory at the next walk.
    if (++removals_ % eventDrainInterval == 0)
        takeEvents();
    if (isTrash(folder)) {
        for (int attempt = 0;; ++attempt) {
            if (record.gone)
                throw host::HostError("the message " + record.unique + " is no longer in " + folder.path);
            const std::string path = pathOf(folder, record);
            if (::unlinkat(record.inNew ? folder.dirNew : folder.dirCur, record.name().c_str(), 0) == 0) {
                forget(folder, record);
                return;
            }
            if (errno != ENOENT || attempt > 0)
                throw systemFailure("cannot remove " + path, errno);
            rescan(folder);
        }
    }
    for (int attempt = 0;; ++attempt) {
        auto trashFolder = trash(); // made again if someone removed it meanwhile
        if (record.gone)
            throw host::HostError("the message " + record.unique + " is no longer in " + folder.path);
        const TrashMove move = trashMove(record);
        const std::string from = pathOf(folder, record);
        const std::string to = trashFolder->path + (move.toNew ? "/new/" : "/cur/") + move.movedName;
        const int fromDir = record.inNew ? folder.dirNew : folder.dirCur;
        if (renameNoReplace(fromDir, move.name.c_str(), move.toNew ? trashFolder->dirNew : trashFolder->dirCur,
                            move.movedName.c_str()) == 0) {
            forget(folder, record);
            movedIntoTrash(*trashFolder, record, move);
            return;
        }
        const int error = errno;
        if (error == ENOENT && attempt == 0) {
            rescan(folder);
            continue;
        }
        if (error == EEXIST)
            throw StoreFailure("cannot move " + from + ": " + to + " already exists");
        throw systemFailure("cannot move " + from + " to " + to, error);
    }
}

void MaildirStore::markRead(FolderState& folder, FileRecord& record) {
    setSeen(folder, record, true);
}

void MaildirStore::markUnread(FolderState& folder, FileRecord& record) {
    setSeen(folder, record, false);
}

void MaildirStore::setSeen(FolderState& folder, FileRecord& record, bool seen) {
    finishMoves();
    for (int attempt = 0;; ++attempt) {
        if (record.gone)
            throw host::HostError("the message " + record.unique + " is no longer in " + folder.path);
        if (record.unread() != seen)
            return;
        const std::string name = record.name();
        std::string renamed = name;
        const auto info = renamed.find(infoSeparator);
        if (!seen) {
            // Read means in cur/ with an S flag: only the flag goes.
            renamed.erase(renamed.find('S', info + 3), 1);
        } else if (info == std::string::npos) {
            renamed += std::string(infoSeparator) + "S";
        } else if (renamed.find('S', info + 3) == std::string::npos) {
            // Readers expect the flags in ASCII order.
            auto at = info + 3;
            while (at < renamed.size() && renamed[at] < 'S')
                ++at;
            renamed.insert(at, 1, 'S');
        }
        const std::string from = pathOf(folder, record);
        const std::string to = folder.path + "/cur/" + renamed;
        if (renameNoReplace(record.inNew ? folder.dirNew : folder.dirCur, name.c_str(), folder.dirCur,
                            renamed.c_str()) == 0) {
            record.setName(renamed);
            record.inNew = false;
            return;
        }
        const int error = errno;
        if (error == ENOENT && attempt == 0) {
            rescan(folder); // renamed by another program meanwhile
            continue;
        }
        const char* what = seen ? " read" : " unread";
        if (error == EEXIST)
            throw StoreFailure("cannot mark " + from + what + ": " + to + " already exists");
        throw systemFailure("cannot mark " + from + what, error);
    }
}

} // namespace skerrow::maildir
