#pragma once

#include <map>
#include <mutex>

#include <QString>

// Slows down guessing: after repeated failed logins for one account name, or from one address,
// further attempts are refused for a window that doubles with every further failure. Kept in
// memory only; a restart forgets it.
class LoginThrottle {
  public:
    static constexpr int kAccountFailures = 5;   // failures before an account name is locked
    static constexpr int kAddressFailures = 20;  // failures before an address is locked
    static constexpr qint64 kFirstLockMs = 30 * 1000;
    static constexpr qint64 kLongestLockMs = 15 * 60 * 1000;
    // Bounds the memory that names sprayed from many addresses can take.
    static constexpr size_t kMaxEntries = 10000;

    // Whole seconds until an attempt for this name from this address is allowed; 0 for now.
    int retryAfterSeconds(const QString& account, const QString& address, qint64 nowMs);
    void failed(const QString& account, const QString& address, qint64 nowMs);
    // Clears the account's failures only: an address's failures run out with their window, so
    // that one's own logins between guesses at others' passwords do not start the count again.
    void succeeded(const QString& account);

    size_t entryCount();

  private:
    struct Entry {
        int failures = 0;
        qint64 lastFailureMs = 0;
        qint64 lockedUntilMs = 0;
    };
    void count(const QString& key, int threshold, qint64 nowMs);
    void forgetOld(qint64 nowMs);

    std::mutex m_mutex;
    std::map<QString, Entry> m_entries;  // "account:<name>" and "address:<address>"
};
