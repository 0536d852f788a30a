#include "http/ServerLimits.h"

bool ServerLimits::reserveBody(qint64 bytes) {
    qint64 held = bodyBytesHeld.load();
    do {
        if (held + bytes > bodyBudget) return false;
    } while (!bodyBytesHeld.compare_exchange_weak(held, held + bytes));
    return true;
}

void ServerLimits::releaseBody(qint64 bytes) {
    bodyBytesHeld.fetch_sub(bytes);
}
