#pragma once

#include <time.h>

#include <QByteArray>
#include <QtGlobal>

// Sets TZ for the life of the object and restores the previous value, so expected local times
// do not depend on the machine running the tests.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone)
        : m_hadValue(qEnvironmentVariableIsSet("TZ")), m_previous(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_hadValue)
            qputenv("TZ", m_previous);
        else
            qunsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    bool m_hadValue;
    QByteArray m_previous;
};
