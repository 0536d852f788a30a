#include "app/DatabaseStartup.h"

#include <QDebug>

#include "db/DbSchema.h"

DatabaseStartup::DatabaseStartup(std::function<bool()> steps, QObject* parent)
    : QObject(parent), m_steps(std::move(steps)) {
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &DatabaseStartup::retry);
}

DatabaseStartup::Result DatabaseStartup::run() {
    switch (DbSchema::prepare()) {
        case DbSchema::State::Failed:
            return Result::Failed;
        case DbSchema::State::Unreachable:
            qWarning("[start] the database cannot be reached; start-up goes on without it");
            m_timer.start();
            return Result::Deferred;
        case DbSchema::State::Ready:
            break;
    }
    m_schemaReady = true;
    if (m_steps()) return Result::Done;
    return Result::Failed;
}

void DatabaseStartup::retry() {
    if (!m_schemaReady) {
        // A schema the database refuses now will not be accepted a second later either; the
        // service keeps answering terminals and says so once.
        const DbSchema::State state = DbSchema::prepare();
        if (state == DbSchema::State::Unreachable) return;
        if (state == DbSchema::State::Failed) {
            qWarning("[start] the database refused the schema; it stays unused");
            m_timer.stop();
            return;
        }
        m_schemaReady = true;
    }
    if (!m_steps()) return;
    qWarning("[start] the database is ready");
    m_timer.stop();
}
