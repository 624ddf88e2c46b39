#include "tls_credentials.h"

#include <gnutls/abstract.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace twincam::serve {

struct TlsPair {
    TlsPair() = default;
    TlsPair(const TlsPair &) = delete;
    TlsPair &operator=(const TlsPair &) = delete;
    ~TlsPair() {
        for (gnutls_pcert_st &cert : chain) gnutls_pcert_deinit(&cert);
        if (key != nullptr) gnutls_privkey_deinit(key);
    }
    std::string pem;  // the chain, then the key
    std::vector<gnutls_pcert_st> chain;
    gnutls_privkey_t key = nullptr;
};

namespace {

// Every pair ever loaded: a handshake may still be using an older one, and
// renewals come a few times a year.
std::mutex g_pairsMutex;
std::vector<std::unique_ptr<TlsPair>> g_pairs;

const TlsPair *Newest() {
    std::lock_guard<std::mutex> lock(g_pairsMutex);
    return g_pairs.empty() ? nullptr : g_pairs.back().get();
}

int Retrieve(gnutls_session_t, const gnutls_datum_t *, int, const gnutls_pk_algorithm_t *, int,
             gnutls_pcert_st **chain, unsigned int *length, gnutls_privkey_t *key) {
    const TlsPair *pair = Newest();
    if (pair == nullptr) return -1;
    *chain = const_cast<gnutls_pcert_st *>(pair->chain.data());
    *length = static_cast<unsigned>(pair->chain.size());
    *key = pair->key;
    return 0;
}

// The file's bytes; false with *error.
bool ReadFile(const std::string &path, const char *option, std::string *text, std::string *error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = std::string(option) + " " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

// GnuTLS's reason, without its full stop, to go inside a sentence.
std::string Reason(int rc) {
    std::string text = gnutls_strerror(rc);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

gnutls_datum_t Datum(const std::string &text) {
    return gnutls_datum_t{reinterpret_cast<unsigned char *>(const_cast<char *>(text.data())),
                          static_cast<unsigned>(text.size())};
}

std::string Date(time_t t) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&t));
    return text;
}

// The public key's DER bytes, to tell whether a key and a certificate are a pair.
std::string PublicKey(gnutls_pubkey_t pub) {
    gnutls_datum_t der{};
    std::string bytes;
    if (gnutls_pubkey_export2(pub, GNUTLS_X509_FMT_DER, &der) == 0) bytes.assign(reinterpret_cast<char *>(der.data), der.size);
    gnutls_free(der.data);
    gnutls_pubkey_deinit(pub);
    return bytes;
}

// The certificates, checked to be in date; "" or what is wrong.
std::string ImportChain(const std::string &pem, TlsPair *pair, std::string *leafKey) {
    gnutls_x509_crt_t *certs = nullptr;
    unsigned count = 0;
    const gnutls_datum_t data = Datum(pem);
    if (const int rc = gnutls_x509_crt_list_import2(&certs, &count, &data, GNUTLS_X509_FMT_PEM, 0); rc < 0 || count == 0) {
        return std::string("not a PEM certificate: ") + (rc < 0 ? Reason(rc) : "none found");
    }
    std::string wrong;
    const time_t now = std::time(nullptr);
    if (const time_t end = gnutls_x509_crt_get_expiration_time(certs[0]); end < now) wrong = "expired on " + Date(end);
    else if (const time_t start = gnutls_x509_crt_get_activation_time(certs[0]); start > now) {
        wrong = "not valid until " + Date(start);
    }
    gnutls_pubkey_t pub = nullptr;
    gnutls_pubkey_init(&pub);
    gnutls_pubkey_import_x509(pub, certs[0], 0);
    *leafKey = PublicKey(pub);
    pair->chain.resize(count);
    unsigned imported = count;
    if (wrong.empty() && gnutls_pcert_import_x509_list(pair->chain.data(), certs, &imported, 0) < 0) {
        wrong = "its certificates cannot be used";
    }
    pair->chain.resize(wrong.empty() ? imported : 0);
    for (unsigned i = 0; i < count; ++i) gnutls_x509_crt_deinit(certs[i]);
    gnutls_free(certs);
    return wrong;
}

// The pair from the files; nullptr with *error.
std::unique_ptr<TlsPair> LoadPair(const std::string &certFile, const std::string &keyFile, std::string *error) {
    std::string certPem, keyPem, leafKey;
    if (!ReadFile(certFile, "--tls-cert", &certPem, error) || !ReadFile(keyFile, "--tls-key", &keyPem, error)) {
        return nullptr;
    }
    auto pair = std::make_unique<TlsPair>();
    if (const std::string wrong = ImportChain(certPem, pair.get(), &leafKey); !wrong.empty()) {
        *error = "--tls-cert " + certFile + ": " + wrong;
        return nullptr;
    }
    gnutls_privkey_init(&pair->key);
    const gnutls_datum_t data = Datum(keyPem);
    if (const int rc = gnutls_privkey_import_x509_raw(pair->key, &data, GNUTLS_X509_FMT_PEM, nullptr, 0); rc < 0) {
        *error = "--tls-key " + keyFile + ": not a PEM private key (or one with a passphrase): " + Reason(rc);
    } else {
        gnutls_pubkey_t pub = nullptr;
        gnutls_pubkey_init(&pub);
        gnutls_pubkey_import_privkey(pub, pair->key, 0, 0);
        if (PublicKey(pub) != leafKey) *error = "--tls-key " + keyFile + ": not the key of the certificate in " + certFile;
    }
    if (!error->empty()) return nullptr;
    pair->pem = certPem + (certPem.empty() || certPem.back() == '\n' ? "" : "\n") + keyPem;
    return pair;
}

}  // namespace

bool TlsCredentials::Load(std::string *error) {
    std::unique_ptr<TlsPair> pair = LoadPair(certFile_, keyFile_, error);
    if (pair == nullptr) return false;
    std::lock_guard<std::mutex> lock(g_pairsMutex);
    g_pairs.push_back(std::move(pair));
    return true;
}

bool TlsCredentials::Reload(std::string *error) {
    if (!Load(error)) return false;
    const std::string pem = Pem();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto &listener : listeners_) listener(pem);
    return true;
}

std::string TlsCredentials::Pem() const {
    const TlsPair *pair = Newest();
    return pair != nullptr ? pair->pem : "";
}

void TlsCredentials::OnReload(std::function<void(const std::string &)> listener) {
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.push_back(std::move(listener));
}

void *TlsCredentials::RetrieveFunction() { return reinterpret_cast<void *>(&Retrieve); }

}  // namespace twincam::serve
