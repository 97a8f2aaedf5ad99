// The baseline of the IMAP benchmark (bench/imap_bench.sh): the least a
// client can do to read every header block of a mailbox.
//
//   imap_bench fetch HOST PORT USER PASSWORD CAFILE [MAILBOX]
//       connects with TLS (certificate verified against CAFILE), logs in,
//       selects the mailbox (INBOX) and sends one UID FETCH 1:*
//       (BODY.PEEK[HEADER]), reading the answer until its tagged end; prints
//       the wall and processor seconds of the whole, the messages and the
//       bytes received.
#include <gnutls/gnutls.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class Tls {
public:
    Tls(const std::string& host, int port, const std::string& caFile) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
            ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to " + host);
        gnutls_certificate_allocate_credentials(&credentials_);
        if (gnutls_certificate_set_x509_trust_file(credentials_, caFile.c_str(), GNUTLS_X509_FMT_PEM) <= 0)
            throw std::runtime_error("cannot read " + caFile);
        gnutls_init(&session_, GNUTLS_CLIENT);
        gnutls_set_default_priority(session_);
        gnutls_credentials_set(session_, GNUTLS_CRD_CERTIFICATE, credentials_);
        gnutls_session_set_verify_cert(session_, host.c_str(), 0);
        gnutls_transport_set_int(session_, fd_);
        int r;
        do
            r = gnutls_handshake(session_);
        while (r < 0 && !gnutls_error_is_fatal(r));
        if (r < 0)
            throw std::runtime_error(std::string("TLS: ") + gnutls_strerror(r));
    }
    ~Tls() {
        gnutls_deinit(session_);
        gnutls_certificate_free_credentials(credentials_);
        ::close(fd_);
    }
    void send(const std::string& text) {
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = gnutls_record_send(session_, text.data() + done, text.size() - done);
            if (n < 0)
                throw std::runtime_error("send failed");
            done += static_cast<std::size_t>(n);
        }
    }
    // Reads until a line starting with "tag "; returns that line and counts
    // the bytes and the "* n FETCH" lines on the way (literals included:
    // a header line never starts with "* " and a digit and " FETCH").
    std::string until(const std::string& tag, std::size_t& bytes, std::size_t& fetches) {
        const std::string start = tag + " ";
        std::string line;
        for (;;) {
            if (pos_ == end_) {
                ssize_t n;
                do // TLS 1.3 session tickets interrupt a read
                    n = gnutls_record_recv(session_, buffer_, sizeof buffer_);
                while (n < 0 && !gnutls_error_is_fatal(static_cast<int>(n)));
                if (n <= 0)
                    throw std::runtime_error("connection closed");
                pos_ = 0;
                end_ = static_cast<std::size_t>(n);
                bytes += end_;
            }
            const char* nl = static_cast<const char*>(std::memchr(buffer_ + pos_, '\n', end_ - pos_));
            const std::size_t stop = nl ? static_cast<std::size_t>(nl - buffer_) + 1 : end_;
            line.append(buffer_ + pos_, stop - pos_);
            pos_ = stop;
            if (!nl)
                continue;
            if (line.compare(0, start.size(), start) == 0)
                return line;
            if (line.size() > 2 && line[0] == '*' && line[1] == ' ' && line.find(" FETCH ") != std::string::npos)
                ++fetches;
            line.clear();
        }
    }

private:
    int fd_ = -1;
    gnutls_certificate_credentials_t credentials_ = nullptr;
    gnutls_session_t session_ = nullptr;
    char buffer_[65536];
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

int fetch(int argc, char** argv) {
    const std::string mailbox = argc > 7 ? argv[7] : "INBOX";
    const auto started = std::chrono::steady_clock::now();
    const double cpuStarted = cpuSeconds();
    Tls tls(argv[2], std::atoi(argv[3]), argv[6]);
    std::size_t bytes = 0, fetches = 0, ignored = 0;
    tls.until("*", bytes, ignored);
    tls.send(std::string("a LOGIN \"") + argv[4] + "\" \"" + argv[5] + "\"\r\n");
    if (tls.until("a", bytes, ignored).compare(0, 4, "a OK") != 0)
        throw std::runtime_error("login refused");
    tls.send("b SELECT " + mailbox + "\r\n");
    if (tls.until("b", bytes, ignored).compare(0, 4, "b OK") != 0)
        throw std::runtime_error("cannot select " + mailbox);
    tls.send("c UID FETCH 1:* (BODY.PEEK[HEADER])\r\n");
    if (tls.until("c", bytes, fetches).compare(0, 4, "c OK") != 0)
        throw std::runtime_error("the fetch failed");
    tls.send("d LOGOUT\r\n");
    tls.until("d", bytes, ignored);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
    std::printf("%.3f %.3f %zu %zu\n", wall.count(), cpuSeconds() - cpuStarted, fetches, bytes);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 7 && std::string(argv[1]) == "fetch") {
            gnutls_global_init();
            return fetch(argc, argv);
        }
        std::fprintf(stderr, "usage: imap_bench fetch HOST PORT USER PASSWORD CAFILE [MAILBOX]\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "imap_bench: %s\n", e.what());
        return 1;
    }
}
