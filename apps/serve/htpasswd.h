// Users and passwords from an htpasswd file, as Apache's `htpasswd -B`
// writes it: one "user:bcrypt-hash" a line, checked with the system's crypt.
#ifndef TWINCAM_SERVE_HTPASSWD_H
#define TWINCAM_SERVE_HTPASSWD_H

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace twincam::serve {

class Htpasswd {
public:
    // Reads the file; on failure *error names the line that is wrong and why.
    static std::optional<Htpasswd> Load(const std::string &path, std::string *error);
    // Parses a file's text; what Load reads, without the file.
    static std::optional<Htpasswd> Parse(std::string_view text, std::string *error);

    // Whether the password is this user's. How long it takes tells nothing
    // of whether the user exists or how much of the password was right.
    bool Check(std::string_view user, std::string_view password) const;
    // Whether the password is this user's and has passed Check before: no bcrypt.
    bool Known(std::string_view user, std::string_view password) const;

private:
    Htpasswd() = default;
    std::map<std::string, std::string, std::less<>> hashes_;
    // Passwords that passed bcrypt once, by user: bcrypt takes milliseconds,
    // and a signed-in page asks every second.
    struct Verified {
        std::mutex mutex;
        std::map<std::string, std::string, std::less<>> passwords;
    };
    std::shared_ptr<Verified> verified_ = std::make_shared<Verified>();
};

}  // namespace twincam::serve

#endif  // TWINCAM_SERVE_HTPASSWD_H
