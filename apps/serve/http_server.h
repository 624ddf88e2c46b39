// The HTTP side of twincam-serve: one event-driven thread serves every
// connection (libmicrohttpd), limits on what any client may
// hold, sign-in when asked for, and the router's replies.
#ifndef TWINCAM_SERVE_HTTP_SERVER_H
#define TWINCAM_SERVE_HTTP_SERVER_H

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "front_end.h"
#include "head_deadlines.h"
#include "router.h"
#include "serve_options.h"
#include "sign_in.h"
#include "ticker.h"
#include "tls_credentials.h"

struct MHD_Daemon;
struct sockaddr;
struct MHD_Connection;
struct MHD_Response;

namespace twincam::serve {

class HttpServer : public FrontEnd {
public:
    // signIn: nullptr to serve everyone; tls: nullptr for plain HTTP.
    HttpServer(Served &served, const Limits &limits, SignIn *signIn, const TlsCredentials *tls = nullptr);
    ~HttpServer() override { Stop(); }
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Listens on host:port (port 0: a free one) and serves; false with
    // *error on failure.
    bool Start(const std::string &host, int port, std::string *error);
    int port() const { return port_; }
    // Whether the address listened on is reachable only from this machine.
    bool loopback() const { return loopback_; }
    // Ends the streams, then closes every connection.
    void Stop() override;
    const char *name() const override { return "HTTP"; }
    // Whether a request to the listening port gets an answer within timeout
    // (over TLS: whether a plain request is refused at once rather than left hanging).
    bool Answers(std::chrono::milliseconds timeout) const;

    // libmicrohttpd's callbacks.
    struct Exchange;  // a request's body so far, and its offer's answer while one is awaited
    bool Admit(const sockaddr *peer);
    int Answer(MHD_Connection *connection, const char *url, const char *method, const char *upload, size_t *size,
               void **state);
    void ConnectionEvent(MHD_Connection *connection, bool opened);
    void Answered(MHD_Connection *connection, void **state);

private:
    int CheckSignIn(MHD_Connection *connection, Exchange *exchange);
    int SignInRefused(MHD_Connection *connection, Exchange *exchange, SignIn::Result result);
    int Begin(MHD_Connection *connection, const char *url, const char *method, void **state);
    int Complete(MHD_Connection *connection, const char *url, const char *method, Exchange *exchange);
    int Offer(MHD_Connection *connection, Exchange *exchange, Reply &reply);
    int SendText(MHD_Connection *connection, int status, const std::string &text);
    struct Awaited;  // what a sleeping connection waits for
    int Sleep(MHD_Connection *connection, Awaited &awaited);
    void Wake(Awaited &awaited);
    int Send(MHD_Connection *connection, Reply &reply);
    MHD_Response *Pictures(MHD_Connection *connection, const Reply &reply);

    Served &served_;
    const Limits limits_;
    SignIn *const signIn_;
    const bool tls_;
    HeadDeadlines deadlines_;
    MHD_Daemon *daemon_ = nullptr;
    std::string host_;
    int port_ = 0;
    bool loopback_ = false;
    std::mutex perAddressMutex_;
    std::map<std::string, int> perAddress_;  // connections open, by client address
    std::atomic<int> parked_{0};  // MJPEG clients waiting for a JPEG, offers waiting for their answer
    common::Ticker reaper_;       // closes connections whose head is overdue
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_HTTP_SERVER_H
