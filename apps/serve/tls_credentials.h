// The server's certificate and key (--tls-cert, --tls-key): read from PEM
// files, checked (readable, well formed, in date, a pair) and handed to
// every new TLS connection, HTTPS and RTSPS alike. Reload (on SIGHUP) reads
// them again; open connections keep what they started with, and a pair
// that does not load leaves the old one in place.
#ifndef TWINCAM_SERVE_TLS_CREDENTIALS_H
#define TWINCAM_SERVE_TLS_CREDENTIALS_H

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace twincam::serve {

// One loaded pair, as GnuTLS hands it to a handshake and as PEM text.
struct TlsPair;

class TlsCredentials {
public:
    TlsCredentials(std::string certFile, std::string keyFile) : certFile_(std::move(certFile)), keyFile_(std::move(keyFile)) {}
    // Reads and checks the files: false with *error naming the file and the reason.
    bool Load(std::string *error);
    // Load again; on success the listeners hear the new pair's PEM text.
    bool Reload(std::string *error);
    // The newest pair's certificate chain and key, as PEM text.
    std::string Pem() const;
    // listener(pem) runs on each successful reload.
    void OnReload(std::function<void(const std::string &pem)> listener);
    // libmicrohttpd's certificate callback (a GnuTLS retrieve function):
    // the process's newest pair.
    static void *RetrieveFunction();

private:
    const std::string certFile_, keyFile_;
    mutable std::mutex mutex_;
    std::vector<std::function<void(const std::string &)>> listeners_;
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_TLS_CREDENTIALS_H
