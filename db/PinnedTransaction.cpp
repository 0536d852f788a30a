#include "db/PinnedTransaction.h"

#include <atomic>

#include <QSqlQuery>

#include "db/SQLiteDb.h"

namespace {
thread_local PinnedTransaction* t_current = nullptr;
}  // namespace

PinnedTransaction::PinnedTransaction() {
    if (t_current) return;
    m_pool = SQLiteDb::instance();
    m_connection = m_pool->openConnection();
    if (!m_connection.isValid() || !m_connection.isOpen()) {
        close();
        return;
    }
    m_statements = m_pool->statements(m_connection);
    // SQLite: the write lock from the start. A deferred transaction that read first could not
    // write after another connection's commit, where single statements simply would.
    if (!m_statements || !exec(m_pool->isPostgreSQL() ? "begin" : "begin immediate")) {
        close();
        return;
    }
    static std::atomic<quint64> serials{0};
    m_serial = ++serials;
    m_open = true;
    t_current = this;
}

PinnedTransaction::~PinnedTransaction() {
    if (m_open) {
        m_open = false;
        exec("rollback");
        close();
        ended(false);
        return;
    }
    close();
}

void PinnedTransaction::onEnd(std::function<void(bool committed)> listener) {
    if (m_open) m_endListeners.push_back(std::move(listener));
}

void PinnedTransaction::ended(bool committed) {
    std::vector<std::function<void(bool)>> listeners;
    listeners.swap(m_endListeners);
    for (auto& listener : listeners) listener(committed);
}

PinnedTransaction* PinnedTransaction::current() {
    return t_current;
}

void PinnedTransaction::guard(const std::function<void()>& work) {
    if (!m_open || !m_pool->isPostgreSQL()) {
        work();
        return;
    }
    m_inGuard = true;
    m_guardWanted = true;
    work();
    m_inGuard = false;
    m_guardWanted = false;
    for (Held& held : m_heldNow) m_heldDone.push_back(std::move(held));
    m_heldNow.clear();
}

void PinnedTransaction::hold(const ReportRows& rows, std::function<void()> refused) {
    (m_inGuard ? m_heldNow : m_heldDone).push_back({rows, std::move(refused)});
}

void PinnedTransaction::prepareStatement() {
    if (m_writingHeld) return;
    m_writingHeld = true;
    if (!m_inGuard || m_guardWanted) writeHeld();
    if (m_guardWanted) {
        m_guardWanted = false;
        setSavepoint();
    }
    std::vector<Held> mine;
    mine.swap(m_heldNow);
    for (const Held& held : mine) writeAlone(held);
    m_writingHeld = false;
}

void PinnedTransaction::setSavepoint() {
    // The savepoint of the work before is released with this one's set, in one round trip;
    // when that work failed, the release fails and its writes are rolled back first.
    m_guarded = m_guarded ? exec("release savepoint guarded; savepoint guarded") || undoGuarded()
                          : exec("savepoint guarded");
}

void PinnedTransaction::writeHeld() {
    if (m_heldDone.empty()) return;
    std::vector<Held> done;
    done.swap(m_heldDone);
    std::vector<const ReportRows*> rows;
    rows.reserve(done.size());
    for (const Held& held : done) rows.push_back(&held.rows);
    setSavepoint();
    if (ReportRows::writeAll(rows)) return;
    // One refused row spoils the statement of all: each is tried alone, the failed ones undone
    // by the next savepoint's release.
    for (const Held& held : done) {
        setSavepoint();
        writeAlone(held);
    }
}

void PinnedTransaction::writeAlone(const Held& held) {
    if (held.rows.writeNow() || !held.refused) return;
    onEnd([refused = held.refused](bool committed) {
        if (committed) refused();
    });
}

bool PinnedTransaction::undoGuarded() {
    dropGuarded();
    return exec("savepoint guarded");
}

void PinnedTransaction::dropGuarded() {
    exec("rollback to savepoint guarded");
    exec("release savepoint guarded");
}

bool PinnedTransaction::commit() {
    if (!m_open) return false;
    m_writingHeld = true;
    writeHeld();
    m_writingHeld = false;
    m_open = false;
    // Apart from the commit: a commit that fails after a release that did not would be taken for
    // the release failing, and a second "commit" outside the transaction succeeds.
    if (m_guarded && !exec("release savepoint guarded")) dropGuarded();
    m_guarded = false;
    const bool committed = exec("commit");
    if (!committed) exec("rollback");
    close();
    ended(committed);
    return committed;
}

bool PinnedTransaction::exec(const char* sql) {
    QSqlQuery query(m_connection);
    return query.exec(QString::fromLatin1(sql));
}

void PinnedTransaction::close() {
    if (t_current == this) t_current = nullptr;
    if (m_pool && m_connection.isValid()) m_pool->closeConnection(m_connection);
    m_connection = QSqlDatabase();
    m_pool = nullptr;
    m_statements = nullptr;
}
