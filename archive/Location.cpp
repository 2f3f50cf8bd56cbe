#include "archive/Location.h"

#include <algorithm>

namespace archive {

namespace {

constexpr auto npos = std::string_view::npos;
constexpr std::string_view kBlanks = " \t\r\n\f\v";

bool IsBlank(char c) {
    return kBlanks.find(c) != npos;
}

// ASCII only, whatever the locale: schemes and keywords are.
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsLetterOrDigit(char c) {
    return IsLetter(c) || (c >= '0' && c <= '9');
}

int HexValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

std::string_view Trimmed(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(kBlanks);
    return begin == npos ? std::string_view()
                         : text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return lower;
}

// The length of the scheme a URI begins with ("postgresql" of
// "postgresql://..."), or 0 when text is no URI. A scheme has two
// characters or more: "C:/data" is a drive's path.
std::size_t SchemeLength(std::string_view text) {
    if (text.empty() || !IsLetter(text[0])) {
        return 0;
    }
    std::size_t length = 1;
    while (length < text.size() && (IsLetterOrDigit(text[length]) || text[length] == '+' ||
                                    text[length] == '-' || text[length] == '.')) {
        ++length;
    }
    return length >= 2 && text.substr(length).starts_with(":/") ? length : 0;
}

// libpq's key=value form: a keyword and "=" first, or an "=" and a blank,
// which a file's path hardly ever holds.
bool IsConnectionString(std::string_view text) {
    std::size_t key = 0;
    while (key < text.size() &&
           (IsLetterOrDigit(text[key]) || text[key] == '_' || text[key] == '%')) {
        ++key;
    }
    const std::size_t equals = text.find_first_not_of(kBlanks, key);
    return (key > 0 && IsLetter(text[0]) && equals != npos && text[equals] == '=') ||
           (text.find('=') != npos && text.find_first_of(kBlanks) != npos);
}

// A path's own start: a folder's ("/", "\", ".", "~") or a drive's ("C:\",
// "C:/"), which no URI or connection string has.
bool StartsAsPath(std::string_view text) {
    return text.starts_with('/') || text.starts_with('\\') || text.starts_with('.') ||
           text.starts_with('~') ||
           (text.size() >= 3 && IsLetter(text[0]) && text[1] == ':' &&
            (text[2] == '/' || text[2] == '\\'));
}

bool IsPath(std::string_view text) {
    return StartsAsPath(text) || (SchemeLength(text) == 0 && !IsConnectionString(text));
}

// Whether a key names a password (password, sslpassword), read as libpq
// reads a URI's keys: percent-decoded; in any letter case, as a key libpq
// does not know still holds what its writer meant as a password.
bool IsPasswordKey(std::string_view key) {
    std::string decoded;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] == '%' && i + 2 < key.size() && HexValue(key[i + 1]) >= 0 &&
            HexValue(key[i + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(key[i + 1]) * 16 + HexValue(key[i + 2]));
            i += 2;
        } else {
            decoded += key[i];
        }
    }
    return Lower(decoded).find("password") != npos;
}

struct Span {
    std::size_t begin = npos, end = npos;
};

// A URI's password: from after "user:" to the last "@", as a password may
// hold "@", "/" or "?" that its writer did not encode. None in a
// connection string.
Span UserPassword(std::string_view uri) {
    const std::size_t scheme = SchemeLength(uri);
    if (scheme == 0) {
        return {};
    }
    const std::size_t authority = uri.find_first_not_of('/', scheme + 1);
    const std::size_t at = uri.rfind('@');
    if (authority == npos || at == npos || at < authority) {
        return {};
    }
    const std::size_t colon = uri.find(':', authority);
    return colon < at ? Span{colon + 1, at} : Span{};
}

std::size_t ValueSecret(std::string_view text);

// Where a password begins in the value of a key: all of it when the key
// names one, or a password in a URI given as the value; npos: none.
std::size_t PairSecret(std::string_view key, std::string_view value) {
    if (IsPasswordKey(key)) {
        return 0;
    }
    const std::size_t quote = value.starts_with('\'') ? 1 : 0;
    const std::string_view uri = value.substr(quote);
    if (SchemeLength(uri) == 0) {
        return npos;
    }
    const std::size_t secret = std::min(UserPassword(uri).begin, ValueSecret(uri));
    return secret == npos ? npos : quote + secret;
}

// The values of a connection string, read as libpq reads them: blanks
// apart, blanks allowed around "=", a value in quotes or with "\" escapes.
std::size_t ConnectionSecret(std::string_view text) {
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && IsBlank(text[i])) {
            ++i;
        }
    };
    for (;;) {
        skipBlanks();
        const std::size_t key = i;
        while (i < text.size() && text[i] != '=' && !IsBlank(text[i])) {
            ++i;
        }
        const std::string_view keyword = text.substr(key, i - key);
        skipBlanks();
        if (i >= text.size()) {
            return npos;
        }
        if (text[i] != '=') {
            continue;  // a word libpq refuses: what follows may still be a password
        }
        ++i;
        skipBlanks();
        const std::size_t value = i;
        const bool quoted = i < text.size() && text[i] == '\'';
        i += quoted ? 1 : 0;
        while (i < text.size() && (quoted ? text[i] != '\'' : !IsBlank(text[i]))) {
            i += text[i] == '\\' ? 2 : 1;
        }
        i = std::min(i + (quoted ? 1 : 0), text.size());
        if (const std::size_t secret = PairSecret(keyword, text.substr(value, i - value));
            secret != npos) {
            return value + secret;
        }
    }
}

// Where the first password given as a value begins, in a URI's query
// ("&" apart) or a connection string; npos: none.
std::size_t ValueSecret(std::string_view text) {
    if (SchemeLength(text) == 0) {
        return ConnectionSecret(text);
    }
    const Span password = UserPassword(text);
    const std::size_t query =
        text.find('?', password.end != npos ? password.end : SchemeLength(text));
    for (std::size_t begin = query; begin != npos && begin < text.size();) {
        ++begin;
        const std::size_t end = std::min(text.find('&', begin), text.size());
        const std::string_view pair = text.substr(begin, end - begin);
        const std::size_t equals = pair.find('=');
        if (equals != npos) {
            const std::size_t secret = PairSecret(pair.substr(0, equals), pair.substr(equals + 1));
            if (secret != npos) {
                return begin + equals + 1 + secret;
            }
        }
        begin = end;
    }
    return npos;
}

}  // namespace

Location ReadLocation(std::string_view written) {
    const std::string_view text = Trimmed(written);
    if (IsPath(text)) {
        return {Location::Kind::File, std::string(text), {}};
    }
    const std::size_t scheme = SchemeLength(text);
    const std::string name = Lower(text.substr(0, scheme));
    if (scheme > 0 &&
        !((name == "postgresql" || name == "postgres") && text.substr(scheme).starts_with("://"))) {
        return {Location::Kind::Refused,
                {},
                "the location is neither an SQLite file's path nor a PostgreSQL server's URI "
                "(postgresql://...) or connection string (host=... dbname=...)"};
    }
    if (UserPassword(text).begin != npos || ValueSecret(text) != npos) {
        return {Location::Kind::Refused,
                {},
                "the location holds a password; keep it in ~/.pgpass, a service file or "
                "PGPASSWORD, never in the settings"};
    }
    // libpq knows its URIs by a scheme in small letters only.
    return {Location::Kind::Server, name + std::string(text.substr(scheme)), {}};
}

std::string Shown(std::string_view written) {
    const std::string_view text = Trimmed(written);
    std::string shown(text);
    if (IsPath(text)) {
        return shown;
    }
    // The later first: the earlier stays where it is.
    if (const std::size_t secret = ValueSecret(text); secret != npos) {
        shown.replace(secret, npos, "***");
    }
    if (const Span password = UserPassword(text); password.begin != npos) {
        shown.replace(password.begin, password.end - password.begin, "***");
    }
    return shown;
}

}  // namespace archive
