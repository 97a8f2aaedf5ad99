// A message file as a mail server may hand it over: whatever the bytes, the
// header block scan, the field interpretation and the body parse must not
// crash, the two scans must agree, the quick body shape must agree with
// GMime's, and every text given out must be valid UTF-8.
#include "hosts/maildir/message_file.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

using namespace skerrow::maildir;

void require(bool holds) {
    if (!holds)
        std::abort();
}

void requireUtf8(const std::string& text) {
    require(cleanUtf8(text) == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool once = (initMime(), true);
    (void)once;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const HeaderBlock copied = scanHeaderBlock(bytes);
    std::string_view block;
    const HeaderBlock viewed = scanHeaderBlock(bytes, block);
    require(copied.raw == block && viewed.raw.empty());
    require(copied.isMessage == viewed.isMessage && copied.whole == viewed.whole &&
            copied.bodyOffset == viewed.bodyOffset && copied.from == viewed.from &&
            copied.subject == viewed.subject && copied.to == viewed.to &&
            copied.contentType == viewed.contentType && copied.transferEncoding == viewed.transferEncoding &&
            copied.contentTypes == viewed.contentTypes && copied.onlyFields == viewed.onlyFields);
    require(copied.bodyOffset == std::string::npos || copied.bodyOffset <= size);

    if (copied.from)
        if (const auto sender = senderAddress(*copied.from))
            requireUtf8(*sender);
    if (copied.subject)
        requireUtf8(decodeSubject(*copied.subject));
    if (copied.to)
        requireUtf8(displayAddresses(*copied.to));

    const BodyShape shape = bodyShape(copied.contentType, copied.transferEncoding);
    if (const auto quick = plainBodyShape(copied.contentType, copied.transferEncoding))
        require(*quick == shape);
    require(!isCleanAscii(bytes) || cleanUtf8(std::string(bytes)) == bytes);

    auto readBodies = [&](std::string_view message) {
        const WholeFile file(message);
        try {
            const MessageBodies parsed = file.bodies();
            requireUtf8(parsed.plain);
            requireUtf8(parsed.html);
            const MessageBodies quick = file.bodies(shape, copied.bodyOffset);
            requireUtf8(quick.plain);
            requireUtf8(quick.html);
        } catch (const std::runtime_error&) {
            // No message GMime can read: the host reports such a file.
        }
    };
    readBodies(bytes);
    // Large mails are read another way (their attachments are left out):
    // each "@@@" stands for 24 KiB of an attachment's lines.
    if (bytes.find("@@@") != std::string_view::npos) {
        std::string large;
        for (std::size_t at = 0;;) {
            const auto marker = bytes.find("@@@", at);
            large.append(bytes.substr(at, marker - at));
            if (marker == std::string_view::npos)
                break;
            for (int line = 0; line < 320; ++line)
                large.append(76, 'Q').append("\n");
            at = marker + 3;
        }
        readBodies(large);
    }
    return 0;
}
