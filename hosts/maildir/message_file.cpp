#include "hosts/maildir/message_file.h"

#include <gmime/gmime.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace skerrow::maildir {

namespace {

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GText = std::unique_ptr<char, GFree>;

GMimeParserOptions* parserOptions = nullptr;

GMimeParserOptions* options() {
    initMime();
    return parserOptions;
}

// Where the header block ends: the offset of the empty line that closes it,
// searching from `from`; npos when the bytes hold no empty line yet.
std::size_t blockEnd(std::string_view bytes, std::size_t from) {
    if (from == 0) {
        if (bytes.starts_with("\n") || bytes.starts_with("\r\n"))
            return 0;
    }
    for (std::size_t nl = bytes.find('\n', from); nl != std::string_view::npos; nl = bytes.find('\n', nl + 1)) {
        const std::size_t next = nl + 1;
        if (next < bytes.size() && bytes[next] == '\n')
            return next;
        if (next + 1 < bytes.size() && bytes[next] == '\r' && bytes[next + 1] == '\n')
            return next;
    }
    return std::string_view::npos;
}

bool isFieldNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 33 && u <= 126 && u != ':';
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return g_ascii_tolower(x) == g_ascii_tolower(y); });
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::string textOf(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content)
        return {};
    GPtr<GMimeStream> memory(g_mime_stream_mem_new());
    const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    GPtr<GMimeFilter> converter;
    if (charset && g_ascii_strcasecmp(charset, "utf-8") != 0 && g_ascii_strcasecmp(charset, "us-ascii") != 0)
        converter.reset(g_mime_filter_charset_new(charset, "utf-8")); // nothing for a charset iconv lacks
    if (converter) {
        GPtr<GMimeStream> filtered(g_mime_stream_filter_new(memory.get()));
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), converter.get());
        g_mime_data_wrapper_write_to_stream(content, filtered.get());
        g_mime_stream_flush(filtered.get());
    } else {
        g_mime_data_wrapper_write_to_stream(content, memory.get());
    }
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
    return cleanUtf8(std::string(reinterpret_cast<const char*>(bytes->data), bytes->len));
}

void collectBodies(GMimeObject* object, MessageBodies& out, bool& havePlain, bool& haveHtml) {
    if (!object || (havePlain && haveHtml))
        return;
    if (GMIME_IS_MULTIPART(object)) {
        auto* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            collectBodies(g_mime_multipart_get_part(multipart, i), out, havePlain, haveHtml);
        return;
    }
    // An attached message's text is not this message's body.
    if (!GMIME_IS_PART(object) || GMIME_IS_MESSAGE_PART(object))
        return;
    auto* part = GMIME_PART(object);
    if (g_mime_part_is_attachment(part))
        return;
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (!havePlain && (!type || g_mime_content_type_is_type(type, "text", "plain"))) {
        out.plain = textOf(part);
        havePlain = true;
    } else if (!haveHtml && type && g_mime_content_type_is_type(type, "text", "html")) {
        out.html = textOf(part);
        haveHtml = true;
    }
}

} // namespace

void initMime() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_mime_init();
        parserOptions = g_mime_parser_options_new();
        // Raw 8-bit header text is most often UTF-8, then a Windows code
        // page; Latin-1 takes any byte, so nothing is ever refused.
        const char* fallbacks[] = {"utf-8", "windows-1252", "iso-8859-1", nullptr};
        g_mime_parser_options_set_fallback_charsets(parserOptions, fallbacks);
    });
}

void readHeaderBytes(int fd, std::string& bytes) {
    // Most header blocks fit the first read; copying more than that out of
    // the page cache costs time on every file.
    constexpr std::size_t firstChunk = 4096;
    constexpr std::size_t laterChunk = 16384;
    bytes.clear();
    while (bytes.size() < headerBlockLimit) {
        const std::size_t old = bytes.size();
        const std::size_t want = std::min(old == 0 ? firstChunk : laterChunk, headerBlockLimit - old);
        bytes.resize(old + want);
        const ssize_t got = ::read(fd, bytes.data() + old, want);
        if (got < 0) {
            bytes.resize(old);
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "read");
        }
        bytes.resize(old + static_cast<std::size_t>(got));
        if (got == 0)
            break;
        // Two bytes back: the blank line may straddle the chunks.
        if (blockEnd(bytes, old < 2 ? 0 : old - 2) != std::string_view::npos)
            break;
    }
}

HeaderBlock scanHeaderBlock(std::string_view bytes) {
    std::string_view raw;
    HeaderBlock block = scanHeaderBlock(bytes, raw);
    block.raw = raw;
    return block;
}

HeaderBlock scanHeaderBlock(std::string_view bytes, std::string_view& raw) {
    HeaderBlock block;
    const std::size_t end = blockEnd(bytes, 0);
    raw = bytes.substr(0, std::min(end, headerBlockLimit));
    block.whole = end != std::string_view::npos || bytes.size() < headerBlockLimit;
    if (end != std::string_view::npos)
        block.bodyOffset = end + (bytes[end] == '\r' ? 2 : 1);

    std::string* field = nullptr; // the picked field that continuation lines extend
    std::size_t pos = 0;
    while (pos < raw.size()) {
        const std::size_t nl = raw.find('\n', pos);
        const std::size_t next = nl == std::string_view::npos ? raw.size() : nl + 1;
        std::string_view line(raw.data() + pos, (nl == std::string_view::npos ? raw.size() : nl) - pos);
        pos = next;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            if (field) // unfolding takes out the line break only
                field->append(line);
            block.onlyFields = block.onlyFields && block.isMessage;
            continue;
        }
        field = nullptr;
        std::size_t nameEnd = 0;
        while (nameEnd < line.size() && isFieldNameChar(line[nameEnd]))
            ++nameEnd;
        std::size_t colon = nameEnd;
        while (colon < line.size() && (line[colon] == ' ' || line[colon] == '\t'))
            ++colon;
        if (nameEnd == 0 || colon >= line.size() || line[colon] != ':') {
            block.onlyFields = false;
            continue;
        }
        block.isMessage = true;
        const std::string_view name = line.substr(0, nameEnd);
        block.contentTypes += sameName(name, "Content-Type");
        const std::string_view value = line.substr(colon + 1);
        for (auto [wanted, slot] :
             {std::pair{"From", &block.from}, std::pair{"Subject", &block.subject}, std::pair{"To", &block.to},
              std::pair{"Content-Type", &block.contentType},
              std::pair{"Content-Transfer-Encoding", &block.transferEncoding}}) {
            if (!*slot && sameName(name, wanted)) {
                slot->emplace(value);
                field = &**slot;
            }
        }
    }
    return block;
}

namespace {

bool isAtext(char c) {
    // strchr finds the terminator for NUL.
    return c != '\0' && (g_ascii_isalnum(c) || std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr);
}

// Letters and digits and the like, in dot-separated runs.
bool isDotAtom(std::string_view text, bool (*allowed)(char)) {
    if (text.empty() || text.front() == '.' || text.back() == '.' || text.find("..") != std::string_view::npos)
        return false;
    return std::all_of(text.begin(), text.end(), [&](char c) { return c == '.' || allowed(c); });
}

// The addr-spec of the plainest From fields ("addr", "Name <addr>" and
// "\"Name\" <addr>", ASCII with no comment, quoting or encoded domain), as
// GMime gives it; nothing for any other field, which GMime parses: most
// mail is this plain, and the parse costs a tenth of a check.
std::optional<std::string> plainSender(std::string_view field) {
    constexpr std::string_view space = " \t\r\n";
    const auto first = field.find_first_not_of(space);
    if (first == std::string_view::npos)
        return std::nullopt;
    field = field.substr(first, field.find_last_not_of(space) - first + 1);
    std::string_view addr = field;
    if (field.back() == '>') {
        const auto open = field.rfind('<');
        if (open == std::string_view::npos)
            return std::nullopt;
        addr = field.substr(open + 1, field.size() - open - 2);
        std::string_view name = field.substr(0, open);
        if (name.size() >= 2 && name.front() == '"' && name.find('"', 1) == name.find_last_not_of(space)) {
            name = name.substr(1, name.find('"', 1) - 1);
            if (!std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7f && c != '\\'; }))
                return std::nullopt;
        } else if (!std::all_of(name.begin(), name.end(), [](char c) { return c == ' ' || isAtext(c); })) {
            return std::nullopt;
        }
    }
    const auto at = addr.find('@');
    if (at == std::string_view::npos || !isDotAtom(addr.substr(0, at), isAtext))
        return std::nullopt;
    const std::string_view domain = addr.substr(at + 1);
    if (!isDotAtom(domain, [](char c) { return g_ascii_isalnum(c) || c == '-'; }))
        return std::nullopt;
    for (std::size_t label = 0; label != std::string_view::npos;) {
        if (g_ascii_strncasecmp(domain.data() + label, "xn--", std::min<std::size_t>(4, domain.size() - label)) == 0)
            return std::nullopt; // an international name GMime writes out
        const auto dot = domain.find('.', label);
        label = dot == std::string_view::npos ? dot : dot + 1;
    }
    return std::string(addr);
}

} // namespace

std::optional<std::string> senderAddress(const std::string& fromField) {
    if (auto plain = plainSender(fromField))
        return plain;
    GPtr<InternetAddressList> list(internet_address_list_parse(options(), fromField.c_str()));
    if (!list || internet_address_list_length(list.get()) == 0)
        return std::nullopt;
    InternetAddress* first = internet_address_list_get_address(list.get(), 0);
    if (!INTERNET_ADDRESS_IS_MAILBOX(first))
        return std::nullopt;
    const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(first));
    if (!addr || !*addr)
        return std::nullopt;
    return cleanUtf8(addr);
}

std::string decodeSubject(const std::string& subjectField) {
    // Most subjects are plain ASCII, which GMime hands back as it stands:
    // asking it costs more than the rest of a check's work on the subject.
    const bool plain = std::all_of(subjectField.begin(), subjectField.end(),
                                   [](char c) { return c != '\0' && static_cast<unsigned char>(c) < 0x80; }) &&
                       subjectField.find("=?") == std::string::npos;
    if (plain)
        return trimmed(subjectField);
    GText decoded(g_mime_utils_header_decode_text(options(), subjectField.c_str()));
    return decoded ? cleanUtf8(trimmed(decoded.get())) : std::string();
}

std::string displayAddresses(const std::string& toField) {
    GPtr<InternetAddressList> list(internet_address_list_parse(options(), toField.c_str()));
    if (!list || internet_address_list_length(list.get()) == 0)
        return decodeSubject(toField);
    GText text(internet_address_list_to_string(list.get(), nullptr, FALSE));
    return text ? cleanUtf8(text.get()) : std::string();
}

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && g_ascii_strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// The shape of the commonest Content-Type fields, as GMime would make it
// out, without asking it: every mail's field is looked at. Nothing for any
// field less plain than "multipart/...", "text/plain" or "text/html" with
// at most a charset of UTF-8 or ASCII.
std::optional<BodyShape> plainShape(std::string_view field) {
    constexpr std::string_view space = " \t\r\n";
    const auto first = field.find_first_not_of(space);
    if (first == std::string_view::npos)
        return std::nullopt;
    field = field.substr(first, field.find_last_not_of(space) - first + 1);
    if (startsWithNoCase(field, "multipart/"))
        return BodyShape::NeedsParse;
    BodyShape shape;
    if (startsWithNoCase(field, "text/plain"))
        shape = BodyShape::PlainText, field.remove_prefix(10);
    else if (startsWithNoCase(field, "text/html"))
        shape = BodyShape::HtmlText, field.remove_prefix(9);
    else
        return std::nullopt;
    auto skipSpace = [&] { field.remove_prefix(std::min(field.size(), field.find_first_not_of(space))); };
    skipSpace();
    if (field.empty())
        return shape;
    if (field.front() != ';')
        return std::nullopt;
    field.remove_prefix(1);
    skipSpace();
    if (!startsWithNoCase(field, "charset="))
        return std::nullopt;
    field.remove_prefix(8);
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
        field = field.substr(1, field.size() - 2);
    if (field.size() == 5 && startsWithNoCase(field, "utf-8"))
        return shape;
    if (field.size() == 8 && startsWithNoCase(field, "us-ascii"))
        return shape;
    return std::nullopt;
}

} // namespace

std::optional<BodyShape> plainBodyShape(const std::optional<std::string>& contentType,
                                        const std::optional<std::string>& transferEncoding) {
    if (transferEncoding) {
        const std::string encoding = trimmed(*transferEncoding);
        if (g_ascii_strcasecmp(encoding.c_str(), "7bit") != 0 && g_ascii_strcasecmp(encoding.c_str(), "8bit") != 0)
            return std::nullopt;
    }
    if (!contentType)
        return BodyShape::PlainText;
    return plainShape(*contentType);
}

BodyShape bodyShape(const std::optional<std::string>& contentType, const std::optional<std::string>& transferEncoding) {
    if (transferEncoding) {
        switch (g_mime_content_encoding_from_string(trimmed(*transferEncoding).c_str())) {
        case GMIME_CONTENT_ENCODING_DEFAULT:
        case GMIME_CONTENT_ENCODING_7BIT:
        case GMIME_CONTENT_ENCODING_8BIT:
        case GMIME_CONTENT_ENCODING_BINARY:
            break;
        default:
            return BodyShape::NeedsParse;
        }
    }
    if (!contentType)
        return BodyShape::PlainText;
    if (const auto plain = plainShape(*contentType))
        return *plain;
    GPtr<GMimeContentType> type(g_mime_content_type_parse(options(), contentType->c_str()));
    if (!type)
        return BodyShape::NeedsParse;
    const char* charset = g_mime_content_type_get_parameter(type.get(), "charset");
    if (charset && g_ascii_strcasecmp(charset, "utf-8") != 0 && g_ascii_strcasecmp(charset, "us-ascii") != 0)
        return BodyShape::NeedsParse;
    if (g_mime_content_type_is_type(type.get(), "text", "plain"))
        return BodyShape::PlainText;
    if (g_mime_content_type_is_type(type.get(), "text", "html"))
        return BodyShape::HtmlText;
    return BodyShape::NeedsParse;
}

namespace {

// The thread's buffer between files: a large file read into a new one
// each time would have its pages mapped and cleared anew.
struct SpareBuffer {
    GByteArray* bytes = nullptr;
    ~SpareBuffer() {
        if (bytes)
            g_byte_array_unref(bytes);
    }
};
thread_local SpareBuffer spare;

GByteArray* takeBuffer() {
    GByteArray* bytes = std::exchange(spare.bytes, nullptr);
    return bytes ? bytes : g_byte_array_new();
}

} // namespace

WholeFile::WholeFile(int fd) : bytes_(takeBuffer()) {
    struct stat st{};
    // One byte more than the size: the short read shows the end.
    std::size_t want = (::fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0) + 1;
    for (;;) {
        const guint have = bytes_->len;
        g_byte_array_set_size(bytes_, have + static_cast<guint>(want));
        const ssize_t got = ::pread(fd, bytes_->data + have, want, static_cast<off_t>(have));
        const int error = errno;
        g_byte_array_set_size(bytes_, have + static_cast<guint>(got > 0 ? got : 0));
        if (got < 0 && error == EINTR)
            continue;
        if (got < 0) {
            g_byte_array_unref(bytes_);
            throw std::system_error(error, std::generic_category(), "read");
        }
        if (static_cast<std::size_t>(got) < want)
            break;
        want = 64 * 1024; // grown since
    }
}

WholeFile::WholeFile(std::string_view bytes) : bytes_(takeBuffer()) {
    g_byte_array_append(bytes_, reinterpret_cast<const guint8*>(bytes.data()), static_cast<guint>(bytes.size()));
}

WholeFile::~WholeFile() {
    // A buffer grown for a rare large file is not kept.
    constexpr guint largestKept = 1024 * 1024;
    if (!spare.bytes && bytes_->len <= largestKept) {
        g_byte_array_set_size(bytes_, 0);
        spare.bytes = bytes_;
    } else {
        g_byte_array_unref(bytes_);
    }
}

std::string_view WholeFile::bytes() const {
    return {reinterpret_cast<const char*>(bytes_->data), bytes_->len};
}

namespace {

// The one Content-Type a header block of nothing but fields names, as
// GMime reads it; nothing when it names none or several.
GPtr<GMimeContentType> onlyContentType(const HeaderBlock& block) {
    if (!block.onlyFields || block.contentTypes != 1 || !block.contentType)
        return nullptr;
    return GPtr<GMimeContentType>(g_mime_content_type_parse(options(), block.contentType->c_str()));
}

// The message without the content of those parts of its top multipart that
// can hold no text (a PDF, a picture): GMime would otherwise go through
// every line of them to find where they end. A part is passed over unless
// its header block is nothing but fields and names one Content-Type, of
// neither text nor a multipart or message; of its content only a run
// without any '-' up to the start of a line is left out, so that no line
// that could be a boundary goes and every other part is parsed as before.
// Nothing when nothing is left out.
std::optional<std::string> withoutBinaryContent(std::string_view bytes) {
    std::string_view raw;
    const HeaderBlock top = scanHeaderBlock(bytes, raw);
    if (!top.whole || top.bodyOffset == std::string::npos)
        return std::nullopt;
    const GPtr<GMimeContentType> topType = onlyContentType(top);
    const char* boundary = topType && g_mime_content_type_is_type(topType.get(), "multipart", "*")
                               ? g_mime_content_type_get_parameter(topType.get(), "boundary")
                               : nullptr;
    if (!boundary || !*boundary)
        return std::nullopt;
    const std::string delimiter = std::string("--") + boundary;
    const char* const data = bytes.data();
    const auto nextDash = [&](std::size_t from) {
        const void* dash = from < bytes.size() ? std::memchr(data + from, '-', bytes.size() - from) : nullptr;
        return dash ? static_cast<std::size_t>(static_cast<const char*>(dash) - data) : std::string_view::npos;
    };
    std::string kept;
    std::size_t keptUpTo = 0;
    for (std::size_t at = nextDash(top.bodyOffset); at != std::string_view::npos;) {
        // A part starts after a line that is the delimiter alone.
        std::size_t lineEnd = at + delimiter.size();
        if (data[at - 1] != '\n' || bytes.compare(at, delimiter.size(), delimiter) != 0) {
            at = nextDash(at + 1);
            continue;
        }
        if (lineEnd < bytes.size() && data[lineEnd] == '\r')
            ++lineEnd;
        if (lineEnd >= bytes.size() || data[lineEnd] != '\n') {
            at = nextDash(at + 1);
            continue;
        }
        const std::size_t partAt = lineEnd + 1;
        const HeaderBlock part = scanHeaderBlock(bytes.substr(partAt), raw);
        if (part.bodyOffset == std::string::npos)
            break;
        const std::size_t contentAt = partAt + part.bodyOffset;
        at = nextDash(contentAt);
        const GPtr<GMimeContentType> type = onlyContentType(part);
        if (!type || g_mime_content_type_is_type(type.get(), "text", "*") ||
            g_mime_content_type_is_type(type.get(), "multipart", "*") ||
            g_mime_content_type_is_type(type.get(), "message", "*"))
            continue;
        if (at == std::string_view::npos || data[at - 1] != '\n' || at == contentAt)
            continue;
        kept.append(bytes.substr(keptUpTo, contentAt - keptUpTo));
        keptUpTo = at;
    }
    if (keptUpTo == 0)
        return std::nullopt;
    kept.append(bytes.substr(keptUpTo));
    return kept;
}

} // namespace

MessageBodies WholeFile::bodies() const {
    initMime();
    // Large files are mostly attachments, which are not read for their text.
    constexpr std::size_t binaryPartsWorthLeavingOut = 32 * 1024;
    std::optional<std::string> shorter;
    if (bytes_->len > binaryPartsWorthLeavingOut)
        shorter = withoutBinaryContent(bytes());
    // The parser scans the bytes where they are.
    GPtr<GMimeStream> stream(shorter ? g_mime_stream_mem_new_with_buffer(shorter->data(), shorter->size())
                                     : g_mime_stream_mem_new_with_byte_array(bytes_));
    if (!shorter)
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream.get()), FALSE);
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    // Parts nested beyond the parser's depth are skipped: the text in them
    // would be missed.
    struct Options {
        GMimeParserOptions* options = g_mime_parser_options_clone(parserOptions);
        ~Options() { g_mime_parser_options_free(options); }
    } parsing;
    bool tooDeep = false;
    g_mime_parser_options_set_warning_callback(
        parsing.options,
        [](gint64, GMimeParserWarning code, const gchar*, gpointer flag) {
            if (code == GMIME_CRIT_NESTING_OVERFLOW)
                *static_cast<bool*>(flag) = true;
        },
        &tooDeep);
    GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), parsing.options));
    if (!message)
        throw std::runtime_error("no MIME message in the file");
    if (tooDeep)
        throw std::runtime_error("its parts are nested too deeply to be read");
    MessageBodies bodies;
    bool havePlain = false;
    bool haveHtml = false;
    collectBodies(g_mime_message_get_mime_part(message.get()), bodies, havePlain, haveHtml);
    return bodies;
}

MessageBodies WholeFile::bodies(BodyShape shape, std::size_t bodyOffset) const {
    if (shape == BodyShape::NeedsParse)
        return bodies();
    MessageBodies result;
    const std::string_view all = bytes();
    (shape == BodyShape::PlainText ? result.plain : result.html) =
        cleanUtf8(std::string(bodyOffset < all.size() ? all.substr(bodyOffset) : std::string_view()));
    return result;
}

MessageBodies parseBodies(int fd) {
    struct Closing {
        int fd;
        ~Closing() { ::close(fd); }
    } closing{fd};
    // One read of the whole file: the parser then scans memory instead of
    // reading and seeking the file a few KiB at a time.
    return WholeFile(fd).bodies();
}

bool isCleanAscii(std::string_view text) {
    // Mail is mostly ASCII, which a word at a time confirms far faster
    // than a UTF-8 validator.
    std::uint64_t highBits = 0;
    bool nul = false;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        highBits |= word;
        nul |= ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
    }
    for (; i < text.size(); ++i) {
        highBits |= static_cast<unsigned char>(text[i]);
        nul |= text[i] == '\0';
    }
    return (highBits & 0x8080808080808080ull) == 0 && !nul;
}

std::string cleanUtf8(std::string text) {
    if (isCleanAscii(text))
        return text;
    const gchar* end = nullptr;
    if (g_utf8_validate_len(text.data(), text.size(), &end))
        return text;
    GText valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
    return std::string(valid.get());
}

} // namespace skerrow::maildir
