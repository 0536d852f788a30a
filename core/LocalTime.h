#pragma once

#include <QString>

// Seconds since the epoch as local "yyyy-MM-dd HH:mm:ss"; "" for 0 or less. The one local time
// text of the lists, the exports and the replies.
QString localTimeText(qint64 secsSinceEpoch);
