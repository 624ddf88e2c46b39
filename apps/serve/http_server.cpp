#include "http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "health_probe.h"
#include "mjpeg_response.h"
#include "webrtc_service.h"

namespace twincam::serve {
namespace {

// A connection's memory: its request head and its send buffer. A head that
// does not fit is answered 431.
constexpr size_t kConnectionMemory = 32 * 1024;

bool IsLoopback(const sockaddr *addr) {
    if (addr->sa_family == AF_INET) {
        return (ntohl(reinterpret_cast<const sockaddr_in *>(addr)->sin_addr.s_addr) >> 24) == 127;
    }
    return addr->sa_family == AF_INET6 && IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6 *>(addr)->sin6_addr);
}

// The client's address as text, the key its sign-ins are counted by.
std::string AddressText(const sockaddr *addr) {
    char text[INET6_ADDRSTRLEN] = "";
    if (addr->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(addr)->sin_addr, text, sizeof text);
    } else if (addr->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(addr)->sin6_addr, text, sizeof text);
    }
    return text;
}

// A listening socket on host:port; -1 with *error on failure.
int Listen(const std::string &host, int port, int *bound, bool *loopback, std::string *error) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    if (const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0) {
        *error = "cannot listen on " + host + ": " + gai_strerror(rc);
        return -1;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
    const int fd = socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    const int on = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
        *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    sockaddr_storage addr{};
    socklen_t size = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &size);
    *bound = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port
                                              : reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    *loopback = IsLoopback(reinterpret_cast<sockaddr *>(&addr));
    return fd;
}

// Every connection is a file descriptor: as many as the system lets us have.
void RaiseFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Past the limit a connection is closed as soon as it is accepted, rather
// than left waiting in the listen queue.
MHD_Result OnAccept(void *cls, const sockaddr *peer, socklen_t) {
    return static_cast<HttpServer *>(cls)->Admit(peer) ? MHD_YES : MHD_NO;
}

MHD_Result OnRequest(void *cls, MHD_Connection *connection, const char *url, const char *method, const char *,
                     const char *upload, size_t *size, void **state) {
    return static_cast<MHD_Result>(static_cast<HttpServer *>(cls)->Answer(connection, url, method, upload, size, state));
}

void OnConnection(void *cls, MHD_Connection *connection, void **, MHD_ConnectionNotificationCode code) {
    static_cast<HttpServer *>(cls)->ConnectionEvent(connection, code == MHD_CONNECTION_NOTIFY_STARTED);
}

void OnCompleted(void *cls, MHD_Connection *connection, void **state, MHD_RequestTerminationCode) {
    static_cast<HttpServer *>(cls)->Answered(connection, state);
}

ssize_t ReadStream(void *cls, uint64_t, char *buf, size_t max) { return static_cast<MjpegResponse *>(cls)->Read(buf, max); }
void FreeStream(void *cls) { delete static_cast<MjpegResponse *>(cls); }

}  // namespace

// A password check's outcome, or an offer's answer, comes on another
// thread; the connection sleeps until it does.
struct HttpServer::Awaited {
    std::mutex mutex;
    std::optional<Reply> reply;
    std::optional<SignIn::Result> result;
    MHD_Connection *suspended = nullptr;
};

struct HttpServer::Exchange {
    std::string body;
    bool tooLarge = false, done = false, signedIn = false;
    std::shared_ptr<Awaited> signIn, awaited;
};

HttpServer::HttpServer(Served &served, const Limits &limits, SignIn *signIn, const TlsCredentials *tls)
    : served_(served),
      limits_(limits),
      signIn_(signIn),
      tls_(tls != nullptr),
      deadlines_(std::chrono::seconds(limits.headSeconds)) {}

bool HttpServer::Start(const std::string &host, int port, std::string *error) {
    RaiseFileLimit();
    host_ = host;
    const int fd = Listen(host, port, &port_, &loopback_, error);
    if (fd < 0) return false;
    // poll, not epoll: with epoll this libmicrohttpd misses a client's close
    // that comes with its last bytes, and holds the connection (and memory
    // it does not give back) until a timeout.
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_ALLOW_SUSPEND_RESUME;
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, fd, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, limits_.maxConnections + 1, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, limits_.idleSeconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&OnConnection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&OnCompleted), this},
    };
    if (tls_) {
        // Each handshake takes the newest certificate, so a reload reaches new connections.
        flags |= MHD_USE_TLS;
        options.push_back({MHD_OPTION_HTTPS_CERT_CALLBACK, 0, TlsCredentials::RetrieveFunction()});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    daemon_ = MHD_start_daemon(flags, 0, &OnAccept, this, &OnRequest, this, MHD_OPTION_ARRAY, options.data(),
                               MHD_OPTION_END);
    if (daemon_ == nullptr) {
        close(fd);
        *error = "the HTTP server did not start";
        return false;
    }
    reaper_.Start(std::chrono::milliseconds(250), [this] { deadlines_.Expire(HeadDeadlines::Clock::now()); });
    return true;
}

void HttpServer::Stop() {
    if (daemon_ == nullptr) return;
    // Parked streams are woken and end; none may stay suspended when the
    // daemon stops.
    for (Channel *channel : served_.channels.all()) channel->jpeg().EndStreams();
    for (int wait = 0; wait < 200 && parked_.load() > 0; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    reaper_.Stop();
}

bool HttpServer::Answers(std::chrono::milliseconds timeout) const {
    return serve::Answers(Probe{host_, port_, "HEAD / HTTP/1.0\r\n\r\n", "HTTP/1.", tls_}, timeout);
}

// The watchdog's probe is let past the limits, so that a flood from its own
// address cannot stop the pings. Runs on the daemon's one thread, as do
// the connections' opening and closing.
bool HttpServer::Admit(const sockaddr *peer) {
    if (IsProbe(peer)) return true;
    std::lock_guard<std::mutex> lock(perAddressMutex_);
    const auto held = perAddress_.find(AddressText(peer));
    return served_.connections.load() < limits_.maxConnections &&
           (held == perAddress_.end() || held->second < limits_.maxPerAddress);
}

void HttpServer::ConnectionEvent(MHD_Connection *connection, bool opened) {
    const std::string address =
        AddressText(MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)->client_addr);
    if (opened) {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        deadlines_.Opened(connection, info->connect_fd, HeadDeadlines::Clock::now());
        ++served_.connections;
    } else {
        deadlines_.Closed(connection);
        --served_.connections;
    }
    std::lock_guard<std::mutex> lock(perAddressMutex_);
    if ((perAddress_[address] += opened ? 1 : -1) <= 0) perAddress_.erase(address);
}

void HttpServer::Answered(MHD_Connection *connection, void **state) {
    delete static_cast<Exchange *>(*state);
    *state = nullptr;
    deadlines_.Answered(connection, HeadDeadlines::Clock::now());
}

// Called once the head is in, again with each piece of a body, and once
// more when the body is whole (or, for an offer, its answer has come).
int HttpServer::Answer(MHD_Connection *connection, const char *url, const char *method, const char *upload,
                       size_t *size, void **state) {
    auto *exchange = static_cast<Exchange *>(*state);
    if (exchange == nullptr) return Begin(connection, url, method, state);
    if (*size > 0) {
        exchange->tooLarge = exchange->tooLarge || exchange->body.size() + *size > kMaxBody;
        if (!exchange->tooLarge && !exchange->done) exchange->body.append(upload, *size);
        *size = 0;
        return MHD_YES;
    }
    if (exchange->done) return MHD_YES;
    return Complete(connection, url, method, exchange);
}

int HttpServer::Begin(MHD_Connection *connection, const char *url, const char *method, void **state) {
    auto *exchange = new Exchange;
    *state = exchange;
    deadlines_.HeadIn(connection);
    const char *length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if (length != nullptr && std::strtoull(length, nullptr, 10) > kMaxBody) {
        exchange->done = true;
        return SendText(connection, 413, "a request's body may hold at most 64 KiB\n");
    }
    // Only a POST has a body worth waiting for; the rest are answered now.
    return std::strcmp(method, "POST") == 0 ? MHD_YES : Complete(connection, url, method, exchange);
}

int HttpServer::Complete(MHD_Connection *connection, const char *url, const char *method, Exchange *exchange) {
    if (exchange->awaited != nullptr) {  // back with its answer
        std::lock_guard<std::mutex> lock(exchange->awaited->mutex);
        exchange->done = true;
        return Send(connection, *exchange->awaited->reply);
    }
    if (exchange->tooLarge) {
        exchange->done = true;
        return SendText(connection, 413, "a request's body may hold at most 64 KiB\n");
    }
    if (signIn_ != nullptr && !exchange->signedIn) {
        if (const int refused = CheckSignIn(connection, exchange); refused >= 0) return refused;
    }
    const char *range = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE);
    const char *type = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    Reply reply = Route(served_, Request{method, url, range != nullptr ? range : "", type != nullptr ? type : "",
                                         exchange->body});
    if (reply.kind == Reply::Body::kOffer) return Offer(connection, exchange, reply);
    exchange->done = true;
    return Send(connection, reply);
}

// -1 when the request is signed in; otherwise what was done: a refusal
// queued, or the connection asleep while the password is checked on the
// checker's thread (then this is called again with the outcome).
int HttpServer::CheckSignIn(MHD_Connection *connection, Exchange *exchange) {
    if (exchange->signIn == nullptr) {
        char *password = nullptr;
        char *user = MHD_basic_auth_get_username_password(connection, &password);
        const std::string name = user != nullptr ? user : "", secret = password != nullptr ? password : "";
        const bool given = user != nullptr && password != nullptr;
        MHD_free(user);
        MHD_free(password);
        if (!given) return SignInRefused(connection, exchange, SignIn::Result::kFailed);
        auto awaited = std::make_shared<Awaited>();
        exchange->signIn = awaited;
        const auto *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        signIn_->CheckLater(AddressText(info->client_addr), name, secret, [this, awaited](SignIn::Result result) {
            std::lock_guard<std::mutex> lock(awaited->mutex);
            awaited->result = result;
            Wake(*awaited);
        });
    }
    std::lock_guard<std::mutex> lock(exchange->signIn->mutex);
    if (!exchange->signIn->result) return Sleep(connection, *exchange->signIn);
    exchange->signedIn = *exchange->signIn->result == SignIn::Result::kPassed;
    return exchange->signedIn ? -1 : SignInRefused(connection, exchange, *exchange->signIn->result);
}

int HttpServer::SignInRefused(MHD_Connection *connection, Exchange *exchange, SignIn::Result result) {
    exchange->done = true;
    if (result == SignIn::Result::kThrottled || result == SignIn::Result::kBusy) {
        const bool throttled = result == SignIn::Result::kThrottled;
        Reply reply{throttled ? 429 : 503, "text/plain; charset=utf-8",
                    throttled ? "too many failed sign-ins from your address: try again in a minute\n"
                              : "too many sign-ins at once: try again\n",
                    {{"Retry-After", throttled ? "60" : "1"}}};
        return Send(connection, reply);
    }
    const std::string text = "sign in to see the cameras\n";
    MHD_Response *response = MHD_create_response_from_buffer(text.size(), const_cast<char *>(text.data()),
                                                              MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    const MHD_Result queued = MHD_queue_basic_auth_fail_response(connection, "twincam", response);
    MHD_destroy_response(response);
    return queued;
}

// The connection sleeps, holding no thread, until the camera's WebRTC answers.
int HttpServer::Offer(MHD_Connection *connection, Exchange *exchange, Reply &reply) {
    auto awaited = std::make_shared<Awaited>();
    exchange->awaited = awaited;
    served_.webrtc->Offer(reply.channel, std::move(reply.body), std::move(reply.slot), [this, awaited](Reply answer) {
        std::lock_guard<std::mutex> lock(awaited->mutex);
        awaited->reply = std::move(answer);
        Wake(*awaited);
    });
    std::lock_guard<std::mutex> lock(awaited->mutex);
    if (!awaited->reply) return Sleep(connection, *awaited);
    exchange->done = true;
    return Send(connection, *awaited->reply);
}

// Both under awaited.mutex: the connection sleeps until what it awaits has
// come, and is woken when it comes (if it has gone to sleep by then).
int HttpServer::Sleep(MHD_Connection *connection, Awaited &awaited) {
    ++parked_;
    awaited.suspended = connection;
    MHD_suspend_connection(connection);
    return MHD_YES;
}

void HttpServer::Wake(Awaited &awaited) {
    if (MHD_Connection *sleeping = std::exchange(awaited.suspended, nullptr)) {
        MHD_resume_connection(sleeping);
        --parked_;
    }
}

int HttpServer::SendText(MHD_Connection *connection, int status, const std::string &text) {
    Reply reply{status, "text/plain; charset=utf-8", text, {}};
    return Send(connection, reply);
}

// A camera's JPEGs as the client's socket takes them: a stream, or one snapshot.
MHD_Response *HttpServer::Pictures(MHD_Connection *connection, const Reply &reply) {
    const bool multipart = reply.kind == Reply::Body::kStream;
    auto *response = new MjpegResponse(
        &reply.channel->jpeg(), multipart,
        [this, connection] {
            ++parked_;
            MHD_suspend_connection(connection);
        },
        [this, connection] {
            MHD_resume_connection(connection);
            --parked_;
        },
        [this, multipart] {
            if (multipart) EndStream(served_);
        });
    return MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, &ReadStream, response, &FreeStream);
}

int HttpServer::Send(MHD_Connection *connection, Reply &reply) {
    MHD_Response *response = nullptr;
    if (reply.kind == Reply::Body::kFile) {
        // The file goes from the kernel's cache to the socket; libmicrohttpd closes it.
        const int fd = open(reply.body.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            response = MHD_create_response_from_fd_at_offset64(static_cast<uint64_t>(reply.length), fd,
                                                               static_cast<uint64_t>(reply.offset));
        }
        if (response == nullptr) {
            if (fd >= 0) close(fd);
            reply = Reply{404, "text/plain; charset=utf-8", "no such recording\n", {}};
        }
    } else if (reply.kind != Reply::Body::kFixed) {
        response = Pictures(connection, reply);
    }
    if (response == nullptr) {
        response = MHD_create_response_from_buffer(reply.body.size(), reply.body.data(), MHD_RESPMEM_MUST_COPY);
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.type.c_str());
    for (const auto &[name, value] : reply.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

}  // namespace twincam::serve
