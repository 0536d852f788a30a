#include "api/auth/AuthService.h"

#include <algorithm>

#include <QDateTime>
#include <QStringList>

#include "api/auth/PasswordHasher.h"
#include "api/auth/Secrets.h"
#include "core/MetricsRegistry.h"
#include "db/SQLiteDb.h"
#include "db/Tab_Account.h"
#include "db/Tab_ApiToken.h"
#include "db/Tab_Session.h"

namespace {
constexpr int kSecretBytes = 32;  // 256-bit cookie values, CSRF tokens and token secrets
// How stale a stored "last seen" may get before it is written again: one write per request
// would cost more than the precision is worth.
constexpr qint64 kTouchEveryMs = 1000;
constexpr qint64 kTokenTouchEverySeconds = 60;

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString cookieValue(const QString& header, const char* name) {
    const QString prefix = QLatin1String(name) + QLatin1Char('=');
    for (const QString& part : header.split(QLatin1Char(';'))) {
        const QString item = part.trimmed();
        if (item.startsWith(prefix)) return item.mid(prefix.size());
    }
    return QString();
}

// A lookup that failed because the server could not be reached, not because nothing was there.
bool databaseAway() {
    const SQLiteDb* pool = SQLiteDb::instance();
    return pool && pool->isAway();
}

Role roleOf(const QString& name) {
    Role role = Role::Public;
    return roleFromName(name, role) ? role : Role::Public;
}
}  // namespace

void AuthService::configure(const Settings& settings) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings = settings;
}

AuthService::Settings AuthService::settings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

Caller AuthService::identify(const QString& cookieHeader, const QString& authorization) {
    if (!settings().loginRequired) {
        Caller open;
        open.kind = Caller::Kind::Open;
        open.role = Role::Admin;
        return open;
    }
    const qint64 now = nowMs();
    const QString auth = authorization.trimmed();
    if (auth.startsWith(QLatin1String("Bearer "), Qt::CaseInsensitive))
        return fromToken(auth.mid(7).trimmed(), now);
    const QString value = cookieValue(cookieHeader, cookieName());
    return value.isEmpty() ? Caller() : fromSession(value, now);
}

Caller AuthService::fromSession(const QString& cookieValue, qint64 now) {
    Tab_Session sessions;
    struSession session;
    const QString idHash = Secrets::hashOf(cookieValue);
    if (!sessions.getSession(idHash, session))
        return databaseAway() ? unchecked(QString(), now) : Caller();
    const qint64 idleMs = settings().sessionIdleMs;
    if (session.lastSeenAt + idleMs <= now) {
        sessions.deleteSession(idHash);
        return Caller();
    }
    struAccount account;
    if (!Tab_Account().getAccountById(session.accountId, account))
        return databaseAway() ? unchecked(QString(), now) : Caller();
    if (now - session.lastSeenAt >= std::min(kTouchEveryMs, idleMs / 10))
        sessions.touchSession(idHash, now);
    Caller caller;
    caller.kind = Caller::Kind::Session;
    caller.role = roleOf(account.role);
    caller.accountId = account.id;
    caller.name = account.name;
    caller.sessionIdHash = idHash;
    caller.csrfToken = session.csrfToken;
    caller.mustChangePassword = account.mustChangePassword;
    return caller;
}

Caller AuthService::fromToken(const QString& secret, qint64 now) {
    Tab_ApiToken tokens;
    struApiToken token;
    if (secret.isEmpty()) return Caller();
    const QString hash = Secrets::hashOf(secret);
    if (!tokens.getTokenByHash(hash, token)) {
        if (databaseAway()) return unchecked(hash, now);
        forgetToken(hash);  // revoked
        return Caller();
    }
    const qint64 seconds = now / 1000;
    if (token.expiresAt <= seconds) return Caller();
    // A token acts for its account: never above the role that account holds now, and not at
    // all once the account is gone.
    struAccount account;
    if (token.accountId <= 0 || !Tab_Account().getAccountById(token.accountId, account)) {
        if (databaseAway()) return unchecked(hash, now);
        forgetToken(hash);
        return Caller();
    }
    if (seconds - token.lastUsedAt >= kTokenTouchEverySeconds) tokens.touchToken(token.id, seconds);
    Caller caller;
    caller.kind = Caller::Kind::Token;
    caller.role = std::min(roleOf(token.role), roleOf(account.role));
    caller.accountId = account.id;
    caller.name = token.name;
    rememberToken(hash, caller.role, token.expiresAt, now);
    return caller;
}

Caller AuthService::unchecked(const QString& tokenHash, qint64 now) {
    Caller caller;
    caller.kind = Caller::Kind::Unchecked;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto known = m_tokens.find(tokenHash);
    if (known != m_tokens.end() && known->second.expiresAt > now / 1000)
        caller.role = known->second.role;
    return caller;
}

void AuthService::forgetToken(const QString& tokenHash) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tokens.erase(tokenHash);
}

void AuthService::rememberToken(const QString& tokenHash, Role role, qint64 expiresAt, qint64 now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_tokens.size() >= kRememberedTokens && !m_tokens.count(tokenHash)) {
        const auto oldest =
            std::min_element(m_tokens.begin(), m_tokens.end(), [](const auto& a, const auto& b) {
                return a.second.checkedAtMs < b.second.checkedAtMs;
            });
        m_tokens.erase(oldest);
    }
    m_tokens[tokenHash] = RememberedToken{role, expiresAt, now};
}

bool AuthService::hashOutsideLock(const OutsideLock& outside, const std::function<void()>& work) {
    bool ran = false;
    const auto inSlot = [&] { ran = m_hashSlots.run(work); };
    if (outside)
        outside(inSlot);
    else
        inSlot();
    return ran;
}

void AuthService::countLoginFailures(MetricsRegistry& registry) {
    auto& family = registry.counters("wayfarer_login_failures_total",
                                     "Logins refused: a wrong name or password, or refused "
                                     "unchecked while the name or address is locked out.");
    m_wrongPasswords = &family.Add({{"reason", "wrong_password"}});
    m_lockedOut = &family.Add({{"reason", "locked_out"}});
}

AuthService::LoginResult AuthService::counted(LoginResult result) {
    prometheus::Counter* counter = result == LoginResult::Refused ? m_wrongPasswords : m_lockedOut;
    if (counter) counter->Increment();
    return result;
}

AuthService::LoginResult AuthService::login(const QString& name, const QString& password,
                                            const QString& address, const OutsideLock& outside,
                                            NewSession& session, int& retryAfterSeconds) {
    retryAfterSeconds = m_throttle.retryAfterSeconds(name, address, nowMs());
    if (retryAfterSeconds > 0) return counted(LoginResult::LockedOut);

    struAccount account;
    const bool exists = Tab_Account().getAccountByName(name, account);
    if (!exists && databaseAway()) {
        retryAfterSeconds = kAwayRetrySeconds;
        return LoginResult::Unavailable;
    }
    bool matches = false;
    const bool hashed = hashOutsideLock(outside, [&] {
        if (exists)
            matches = PasswordHasher::verify(account.passwordHash, password);
        else
            PasswordHasher::verifyNothing(password);
    });
    if (!hashed) {
        retryAfterSeconds = kBusyRetrySeconds;
        return LoginResult::Busy;
    }
    // Guesses checked side by side all passed the throttle above: one that ends after the name
    // or its address got locked tells nothing, right or wrong.
    const qint64 now = nowMs();
    retryAfterSeconds = m_throttle.retryAfterSeconds(name, address, now);
    if (!matches) m_throttle.failed(name, address, now);
    if (retryAfterSeconds > 0) return counted(LoginResult::LockedOut);
    if (!matches) return counted(LoginResult::Refused);
    m_throttle.succeeded(name);

    Tab_Session sessions;
    const qint64 idleMs = settings().sessionIdleMs;
    sessions.deleteIdleSessions(now - idleMs);
    struSession row;
    session.cookieValue = Secrets::randomText(kSecretBytes);
    row.idHash = Secrets::hashOf(session.cookieValue);
    row.accountId = account.id;
    row.csrfToken = Secrets::randomText(kSecretBytes);
    row.createdAt = now;
    row.lastSeenAt = now;
    if (!sessions.insertSession(row)) {
        if (!databaseAway()) return LoginResult::Failed;
        retryAfterSeconds = kAwayRetrySeconds;
        return LoginResult::Unavailable;
    }

    Caller& caller = session.caller;
    caller.kind = Caller::Kind::Session;
    caller.role = roleOf(account.role);
    caller.accountId = account.id;
    caller.name = account.name;
    caller.sessionIdHash = row.idHash;
    caller.csrfToken = row.csrfToken;
    caller.mustChangePassword = account.mustChangePassword;
    return LoginResult::Ok;
}

void AuthService::logout(const QString& cookieHeader) {
    const QString value = cookieValue(cookieHeader, cookieName());
    if (!value.isEmpty()) Tab_Session().deleteSession(Secrets::hashOf(value));
}

AuthService::ChangeResult AuthService::changePassword(const Caller& caller, const QString& current,
                                                      const QString& next, const QString& address,
                                                      const OutsideLock& outside,
                                                      int& retryAfterSeconds) {
    Tab_Account accounts;
    struAccount account;
    if (caller.kind != Caller::Kind::Session) return ChangeResult::Failed;
    if (!accounts.getAccountById(caller.accountId, account)) {
        if (!databaseAway()) return ChangeResult::Failed;
        retryAfterSeconds = kAwayRetrySeconds;
        return ChangeResult::Unavailable;
    }
    retryAfterSeconds = m_throttle.retryAfterSeconds(account.name, address, nowMs());
    if (retryAfterSeconds > 0) return ChangeResult::LockedOut;
    const bool acceptable = PasswordHasher::acceptable(next) && next != current;
    bool matches = false;
    bool encodedOk = false;
    QString encoded;
    const bool hashed = hashOutsideLock(outside, [&] {
        matches = PasswordHasher::verify(account.passwordHash, current);
        if (matches && acceptable) encodedOk = PasswordHasher::hash(next, encoded);
    });
    if (!hashed) {
        retryAfterSeconds = kBusyRetrySeconds;
        return ChangeResult::Busy;
    }
    const qint64 now = nowMs();
    retryAfterSeconds = m_throttle.retryAfterSeconds(account.name, address, now);
    if (!matches) m_throttle.failed(account.name, address, now);
    if (retryAfterSeconds > 0) return ChangeResult::LockedOut;
    if (!matches) return ChangeResult::WrongPassword;
    if (!acceptable) return ChangeResult::Unacceptable;
    if (!encodedOk || !accounts.updatePassword(account.id, encoded, false))
        return ChangeResult::Failed;
    // Whoever else knew the old password loses the sessions it opened.
    Tab_Session().deleteAccountSessions(account.id, caller.sessionIdHash);
    return ChangeResult::Ok;
}

QByteArray AuthService::sessionCookie(const QString& value) const {
    QByteArray cookie =
        QByteArray(cookieName()) + '=' + value.toLatin1() + "; Path=/; HttpOnly; SameSite=Strict";
    if (settings().secureCookie) cookie += "; Secure";
    return cookie;
}

QByteArray AuthService::expiredCookie() const {
    QByteArray cookie =
        QByteArray(cookieName()) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0";
    if (settings().secureCookie) cookie += "; Secure";
    return cookie;
}

bool AuthService::csrfMatches(const Caller& caller, const QString& header) {
    return !caller.csrfToken.isEmpty() && !header.isEmpty() &&
           Secrets::sameText(caller.csrfToken, header);
}
