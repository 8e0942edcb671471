// The floor of the FastAGI pool: the least a pre-forked service must pay to
// do one call's own I/O. It replays a recorded call: after the start-up
// block it writes the call's AGI command lines, reading one reply line after
// each, and sends its back-office requests byte for byte on one kept-alive
// connection per worker (TLS when asked), reading each answer by its
// Content-Length. Nothing is parsed beyond line ends and Content-Length.
// Usage: bench-pool-floor --script FILE --backoffice HOST:PORT [--ca FILE] [--workers N]
// The script holds steps "A <length>\n<bytes>" (an AGI line, its newline
// included) and "H <length>\n<bytes>" (an HTTP request). It prints
// "pool-floor: listening on 127.0.0.1:PORT" on standard error.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Step {
    bool agi;
    std::string bytes;
};

bool readScript(const char* path, std::vector<Step>& steps) {
    std::ifstream in(path, std::ios::binary);
    char kind;
    std::size_t length;
    while (in >> kind >> length) {
        in.get();  // the newline after the length
        std::string bytes(length, '\0');
        if (!in.read(&bytes[0], static_cast<std::streamsize>(length))) return false;
        steps.push_back({kind == 'A', std::move(bytes)});
    }
    return !steps.empty();
}

// A byte stream (a plain socket or TLS over one) read through one buffer.
class Stream {
public:
    Stream(int fd, SSL* tls) : fd_(fd), tls_(tls) {}
    ~Stream() {
        if (tls_ != nullptr) SSL_free(tls_);
        if (fd_ >= 0) ::close(fd_);
    }
    bool writeAll(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            int count = tls_ != nullptr
                            ? SSL_write(tls_, bytes.data() + done, static_cast<int>(bytes.size() - done))
                            : static_cast<int>(::write(fd_, bytes.data() + done, bytes.size() - done));
            if (count <= 0) return false;
            done += static_cast<std::size_t>(count);
        }
        return true;
    }
    // Everything up to and including `end`; false at end of stream.
    bool readUntil(const char* end, std::string& out) {
        for (;;) {
            std::size_t found = buffer_.find(end);
            if (found != std::string::npos) {
                out.assign(buffer_, 0, found + std::strlen(end));
                buffer_.erase(0, found + std::strlen(end));
                return true;
            }
            if (!fill()) return false;
        }
    }
    bool skip(std::size_t count) {
        while (buffer_.size() < count) {
            if (!fill()) return false;
        }
        buffer_.erase(0, count);
        return true;
    }

private:
    bool fill() {
        char chunk[65536];
        int count = tls_ != nullptr ? SSL_read(tls_, chunk, sizeof chunk)
                                    : static_cast<int>(::read(fd_, chunk, sizeof chunk));
        if (count <= 0) return false;
        buffer_.append(chunk, static_cast<std::size_t>(count));
        return true;
    }

    int fd_;
    SSL* tls_;
    std::string buffer_;
};

struct BackOffice {
    sockaddr_in address{};
    SSL_CTX* tls = nullptr;
};

Stream* connectBackOffice(const BackOffice& backOffice) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&backOffice.address), sizeof backOffice.address) != 0) {
        ::close(fd);
        return nullptr;
    }
    SSL* tls = nullptr;
    if (backOffice.tls != nullptr) {
        tls = SSL_new(backOffice.tls);
        SSL_set_fd(tls, fd);
        SSL_set1_host(tls, "127.0.0.1");
        if (SSL_connect(tls) != 1) {
            SSL_free(tls);
            ::close(fd);
            return nullptr;
        }
    }
    return new Stream(fd, tls);
}

// One answer: its headers, then as many bytes as Content-Length says.
// Interim (1xx) answers are skipped.
bool readAnswer(Stream& stream) {
    for (;;) {
        std::string head;
        if (!stream.readUntil("\r\n\r\n", head)) return false;
        if (head.compare(0, 10, "HTTP/1.1 1") == 0) continue;
        std::size_t length = 0;
        for (std::size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
            if (strncasecmp(head.c_str() + at + 2, "Content-Length:", 15) == 0) {
                length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
            }
        }
        return stream.skip(length);
    }
}

// One request on the worker's kept connection, opened again when the back
// office closed it while idle.
bool exchange(const BackOffice& backOffice, Stream*& connection, const std::string& request) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (connection == nullptr) connection = connectBackOffice(backOffice);
        if (connection == nullptr) return false;
        if (connection->writeAll(request) && readAnswer(*connection)) return true;
        delete connection;
        connection = nullptr;
    }
    return false;
}

void serveCall(int fd, const std::vector<Step>& steps, const BackOffice& backOffice, Stream*& connection) {
    Stream call(fd, nullptr);
    std::string line;
    if (!call.readUntil("\n\n", line)) return;  // the start-up block
    for (const Step& step : steps) {
        if (step.agi) {
            if (!call.writeAll(step.bytes) || !call.readUntil("\n", line)) return;
        } else if (!exchange(backOffice, connection, step.bytes)) {
            return;
        }
    }
}

[[noreturn]] void worker(int listening, const std::vector<Step>& steps, const BackOffice& backOffice) {
    Stream* connection = nullptr;
    for (;;) {
        int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        serveCall(fd, steps, backOffice, connection);
    }
}

bool parseAddress(const std::string& text, sockaddr_in& address) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1)));
    return ::inet_pton(AF_INET, text.substr(0, colon).c_str(), &address.sin_addr) == 1;
}

std::vector<pid_t> workers;

void stopWorkers(int) {
    for (pid_t pid : workers) ::kill(pid, SIGKILL);
    while (::wait(nullptr) > 0) {
    }
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    const char* scriptPath = nullptr;
    std::string backOfficeAddress;
    const char* caFile = nullptr;
    int workerCount = 24;
    for (int index = 1; index + 1 < argc; index += 2) {
        std::string name = argv[index];
        if (name == "--script") scriptPath = argv[index + 1];
        else if (name == "--backoffice") backOfficeAddress = argv[index + 1];
        else if (name == "--ca") caFile = argv[index + 1];
        else if (name == "--workers") workerCount = std::max(1, std::atoi(argv[index + 1]));
    }
    std::vector<Step> steps;
    BackOffice backOffice;
    if (scriptPath == nullptr || !readScript(scriptPath, steps) || !parseAddress(backOfficeAddress, backOffice.address)) {
        std::fprintf(stderr, "usage: bench-pool-floor --script FILE --backoffice HOST:PORT [--ca FILE] [--workers N]\n");
        return 2;
    }
    if (caFile != nullptr) {
        backOffice.tls = SSL_CTX_new(TLS_client_method());
        if (SSL_CTX_load_verify_locations(backOffice.tls, caFile, nullptr) != 1) {
            std::fprintf(stderr, "pool-floor: cannot read %s\n", caFile);
            return 1;
        }
        SSL_CTX_set_verify(backOffice.tls, SSL_VERIFY_PEER, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);

    int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (listening < 0 || ::bind(listening, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(listening, 256) != 0 || ::getsockname(listening, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        std::perror("pool-floor: listen");
        return 1;
    }
    for (int index = 0; index < workerCount; ++index) {
        pid_t pid = ::fork();
        if (pid == 0) worker(listening, steps, backOffice);
        if (pid > 0) workers.push_back(pid);
    }
    signal(SIGTERM, stopWorkers);
    signal(SIGINT, stopWorkers);
    std::fprintf(stderr, "pool-floor: listening on 127.0.0.1:%d\n", ntohs(local.sin_port));
    std::fflush(stderr);
    for (;;) ::pause();
}
