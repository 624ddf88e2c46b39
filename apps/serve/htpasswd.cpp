#include "htpasswd.h"

#include <crypt.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace twincam::serve {
namespace {

// Equal strings, in a time that depends only on their lengths.
bool SameBytes(std::string_view a, std::string_view b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    const std::string_view longer = a.size() >= b.size() ? a : b;
    for (size_t i = 0; i < longer.size(); ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        differ |= static_cast<unsigned char>(x ^ y);
    }
    return differ == 0;
}

// The password hashed with hash's algorithm, cost and salt; empty on failure.
std::string Bcrypt(std::string_view password, const std::string &hash) {
    auto data = std::make_unique<crypt_data>();
    const std::string phrase(password);
    const char *out = crypt_rn(phrase.c_str(), hash.c_str(), data.get(), sizeof *data);
    return out == nullptr || out[0] == '*' ? std::string() : std::string(out);
}

bool IsBcrypt(const std::string &hash) {
    const bool prefix = hash.rfind("$2y$", 0) == 0 || hash.rfind("$2b$", 0) == 0 || hash.rfind("$2a$", 0) == 0;
    return prefix && hash.size() == 60 && !Bcrypt("", hash).empty();
}

}  // namespace

std::optional<Htpasswd> Htpasswd::Load(const std::string &path, std::string *error) {
    std::ifstream in(path);
    if (!in) {
        *error = path + ": cannot be read";
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::optional<Htpasswd> users = Parse(text.str(), error);
    if (!users) *error = path + ": " + *error;
    return users;
}

std::optional<Htpasswd> Htpasswd::Parse(std::string_view text, std::string *error) {
    Htpasswd users;
    int number = 0;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t colon = line.find(':');
        const std::string where = "line " + std::to_string(number) + ": ";
        if (colon == 0 || colon == std::string::npos) {
            *error = where + "not USER:HASH";
            return std::nullopt;
        }
        const std::string user = line.substr(0, colon), hash = line.substr(colon + 1);
        if (!IsBcrypt(hash)) {
            *error = where + "the password of '" + user + "' is not a bcrypt hash (make the file with htpasswd -B)";
            return std::nullopt;
        }
        users.hashes_[user] = hash;
    }
    if (users.hashes_.empty()) {
        *error = "no users in the file";
        return std::nullopt;
    }
    return users;
}

bool Htpasswd::Known(std::string_view user, std::string_view password) const {
    std::lock_guard<std::mutex> lock(verified_->mutex);
    const auto seen = verified_->passwords.find(user);
    return seen != verified_->passwords.end() && SameBytes(seen->second, password);
}

bool Htpasswd::Check(std::string_view user, std::string_view password) const {
    const auto it = hashes_.find(user);
    if (Known(user, password)) return true;
    // An unknown user costs a bcrypt as well, against a hash of the same cost.
    const std::string &hash = it != hashes_.end() ? it->second : hashes_.begin()->second;
    const bool right = SameBytes(Bcrypt(password, hash), hash) && it != hashes_.end();
    if (right) {
        std::lock_guard<std::mutex> lock(verified_->mutex);
        verified_->passwords[std::string(user)] = std::string(password);
    }
    return right;
}

}  // namespace twincam::serve
