#pragma once

#include <functional>
#include <map>
#include <mutex>

#include <QByteArray>
#include <QString>

#include "api/auth/Caller.h"
#include "api/auth/HashSlots.h"
#include "api/auth/LoginThrottle.h"

// Logins, sessions and tokens: finds out who calls, opens and ends sessions, changes passwords.
// Built and configured at start-up, before the management server that asks it starts.
class MetricsRegistry;
namespace prometheus {
class Counter;
}

class AuthService {
  public:
    struct Settings {
        bool loginRequired = true;
        qint64 sessionIdleMs = 30 * 60 * 1000;
        bool secureCookie = false;  // the management port speaks HTTPS
    };
    void configure(const Settings& settings);
    Settings settings() const;
    // Wrong passwords and logins refused while locked out are counted into registry, which
    // outlives this; a login the service could not check (busy, no database) is no failure.
    void countLoginFailures(MetricsRegistry& registry);

    static const char* cookieName() { return "wf_session"; }

    // Runs slow work of a request without the server's request lock; null runs it in place.
    using OutsideLock = std::function<void(const std::function<void()>&)>;
    // Password hashes run outside the request lock, two at a time with two more waiting;
    // beyond, a login or password change is answered Busy at once (503, Retry-After).
    static constexpr int kHashesAtOnce = 2;
    static constexpr int kHashesWaiting = 2;
    static constexpr int kBusyRetrySeconds = 1;
    // While the database is away nothing is checked: callers are told to come back (503).
    static constexpr int kAwayRetrySeconds = 5;
    // Bearer tokens this instance checked, kept so that a scraper still reads the metrics while
    // the database is away.
    static constexpr size_t kRememberedTokens = 64;

    // From the request's Cookie and Authorization headers. A bearer token, when present, is the
    // only credential looked at. Unchecked when the database is away.
    Caller identify(const QString& cookieHeader, const QString& authorization);

    enum class LoginResult { Ok, Refused, LockedOut, Busy, Unavailable, Failed };
    struct NewSession {
        QString cookieValue;
        Caller caller;
    };
    // retryAfterSeconds is set for LockedOut, Busy and Unavailable (the database is away: the
    // attempt counts for nothing).
    LoginResult login(const QString& name, const QString& password, const QString& address,
                      const OutsideLock& outside, NewSession& session, int& retryAfterSeconds);
    // Ends the session the cookie names, if any.
    void logout(const QString& cookieHeader);

    enum class ChangeResult {
        Ok,
        WrongPassword,
        LockedOut,
        Unacceptable,
        Busy,
        Unavailable,
        Failed
    };
    // The caller's own password; ends the account's other sessions. A wrong current password
    // counts as a failed login, so a taken-over session cannot be used to guess it.
    ChangeResult changePassword(const Caller& caller, const QString& current, const QString& next,
                                const QString& address, const OutsideLock& outside,
                                int& retryAfterSeconds);

    // Set-Cookie values that open and end a session in the browser.
    QByteArray sessionCookie(const QString& value) const;
    QByteArray expiredCookie() const;

    static bool csrfMatches(const Caller& caller, const QString& header);

  private:
    Caller fromSession(const QString& cookieValue, qint64 nowMs);
    Caller fromToken(const QString& secret, qint64 nowMs);
    // What a caller whose credentials could not be checked is taken for; tokenHash names a
    // bearer token, empty for a session.
    Caller unchecked(const QString& tokenHash, qint64 nowMs);
    void rememberToken(const QString& tokenHash, Role role, qint64 expiresAt, qint64 nowMs);
    void forgetToken(const QString& tokenHash);
    // False, without running it, when there is no room for another hash.
    bool hashOutsideLock(const OutsideLock& outside, const std::function<void()>& work);
    // Counts a refused or locked-out login.
    LoginResult counted(LoginResult result);

    struct RememberedToken {
        Role role;
        qint64 expiresAt;  // seconds, as stored
        qint64 checkedAtMs;
    };
    mutable std::mutex m_mutex;  // guards m_settings and m_tokens
    Settings m_settings;
    std::map<QString, RememberedToken> m_tokens;  // by hash, at most kRememberedTokens
    LoginThrottle m_throttle;
    prometheus::Counter* m_wrongPasswords = nullptr;  // set before the server starts
    prometheus::Counter* m_lockedOut = nullptr;
    HashSlots m_hashSlots{kHashesAtOnce, kHashesWaiting};
};
