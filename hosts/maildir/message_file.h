// One message file of a Maildir, read the cheap way first: the header block
// alone for what the headers decide, the whole MIME structure only when a
// body is asked for. Field values are interpreted by GMime.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

struct _GByteArray; // GLib's GByteArray

namespace skerrow::maildir {

// Sets GMime up; safe to call any number of times from any thread.
void initMime();

// What one mail may take in memory: a header block longer than this is cut
// here, and a body to be read or parsed must fit in it. A mail beyond that
// cannot be searched whole, so it is never judged by what it lacks.
inline constexpr std::size_t headerBlockLimit = 64u * 1024 * 1024;
inline constexpr std::size_t bodyReadLimit = 64u * 1024 * 1024;

// What the header block of a file says, before any field is interpreted.
struct HeaderBlock {
    // The bytes before the first empty line (or the whole file, up to
    // headerBlockLimit, when there is none), line ends included.
    std::string raw;
    // False when not one line of the block is a header field ("Name:"
    // with a name of printable ASCII): then the file is no message at all.
    // An empty file and a file starting with an empty line are not either.
    bool isMessage = false;
    // False when the block was cut at headerBlockLimit.
    bool whole = true;
    // Where the body starts (past the empty line); npos when there is none.
    std::size_t bodyOffset = std::string::npos;
    // The first of these fields, unfolded, as raw bytes.
    std::optional<std::string> from;
    std::optional<std::string> subject;
    std::optional<std::string> to;
    std::optional<std::string> contentType;
    std::optional<std::string> transferEncoding;
    // How many Content-Type fields the block has, and whether every line of
    // it is a field or continues one.
    int contentTypes = 0;
    bool onlyFields = true;
};

// Reads from the start of an open file in chunks, into bytes, until the
// blank line that ends the header block, the end of the file or
// headerBlockLimit. Throws std::system_error when reading fails.
void readHeaderBytes(int fd, std::string& bytes);

// Splits the block out of the bytes read and picks its fields.
HeaderBlock scanHeaderBlock(std::string_view bytes);

// The same without a copy of the block: raw is left empty and block (a
// view into bytes) is set instead.
HeaderBlock scanHeaderBlock(std::string_view bytes, std::string_view& block);

// Field interpretation. All results are valid UTF-8.
// The addr-spec of the first From mailbox; nothing for a group, an empty or
// unparsable field.
std::optional<std::string> senderAddress(const std::string& fromField);
// The RFC 2047-decoded text, trimmed.
std::string decodeSubject(const std::string& subjectField);
// The recipients in display form ("Name <addr>, addr").
std::string displayAddresses(const std::string& toField);

// The first text/plain and text/html parts that are not attachments,
// decoded to UTF-8 ("" when there is none).
struct MessageBodies {
    std::string plain;
    std::string html;
};

// How a message's body is to be read: one text part in UTF-8 or ASCII
// with no transfer encoding is the bytes after the header block as they
// stand; anything else needs the MIME parse.
enum class BodyShape { PlainText, HtmlText, NeedsParse };
BodyShape bodyShape(const std::optional<std::string>& contentType, const std::optional<std::string>& transferEncoding);
// The same for the commonest fields, without GMime (so from any thread);
// nothing when only GMime can tell.
std::optional<BodyShape> plainBodyShape(const std::optional<std::string>& contentType,
                                        const std::optional<std::string>& transferEncoding);

// A whole message file in memory, so that its header block and bodies come
// from one read. The bytes are in a buffer the calling thread keeps for its
// next file.
class WholeFile {
public:
    // Reads the file open on fd from its start. Throws std::system_error
    // when reading fails.
    explicit WholeFile(int fd);
    explicit WholeFile(std::string_view bytes);
    ~WholeFile();
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

    std::string_view bytes() const;
    // As parseBodies below.
    MessageBodies bodies() const;
    // The same as the header block's shape says: one plain or HTML text is
    // the bytes from bodyOffset as they stand (npos: none), all else the parse.
    MessageBodies bodies(BodyShape shape, std::size_t bodyOffset) const;

private:
    ::_GByteArray* bytes_;
};

// Reads the whole file open on fd (which it closes) and parses it. Throws
// std::runtime_error when GMime finds no message in it or cannot read all of
// its structure (too deeply nested), std::system_error (a runtime_error
// too) when reading fails.
MessageBodies parseBodies(int fd);

// Whether the text is ASCII without NUL: cleanUtf8 leaves it as it is.
bool isCleanAscii(std::string_view text);

// Valid UTF-8: valid sequences stay, every other byte (and NUL) becomes U+FFFD.
std::string cleanUtf8(std::string text);

} // namespace skerrow::maildir
