#include "upgrade/rollout/RolloutSchedule.h"

#include <QRegularExpression>

namespace {
const int kDayMinutes = 24 * 60;

bool minuteOf(const QString& text, int& minute) {
    static const QRegularExpression clock(QStringLiteral("^([01]\\d|2[0-3]):([0-5]\\d)$"));
    const QRegularExpressionMatch match = clock.match(text.trimmed());
    if (!match.hasMatch()) return false;
    minute = match.captured(1).toInt() * 60 + match.captured(2).toInt();
    return true;
}

bool parse(const QString& text, RolloutSchedule::Window& window) {
    const QStringList ends = text.split(QLatin1Char('-'));
    return ends.size() == 2 && minuteOf(ends.at(0), window.from) &&
           minuteOf(ends.at(1), window.to) && window.from != window.to;
}

QString clockText(int minute) {
    return QStringLiteral("%1:%2")
        .arg(minute / 60, 2, 10, QLatin1Char('0'))
        .arg(minute % 60, 2, 10, QLatin1Char('0'));
}

bool inside(const RolloutSchedule::Window& window, int minute) {
    if (window.from < window.to) return minute >= window.from && minute < window.to;
    return minute >= window.from || minute < window.to;
}
}  // namespace

bool RolloutSchedule::read(const QStringList& texts, QString& canonical, QString& error) {
    if (texts.size() > kMaxWindows) {
        error = QStringLiteral("windows 最多 %1 个").arg(kMaxWindows);
        return false;
    }
    QStringList out;
    for (const QString& text : texts) {
        Window window;
        if (!parse(text, window)) {
            error = QStringLiteral("windows 的 %1 须为 HH:MM-HH:MM，两端不同").arg(text);
            return false;
        }
        out << clockText(window.from) + QLatin1Char('-') + clockText(window.to);
    }
    canonical = out.join(QLatin1Char(','));
    return true;
}

QList<RolloutSchedule::Window> RolloutSchedule::windows(const QString& stored) {
    QList<Window> out;
    for (const QString& text : texts(stored)) {
        Window window;
        if (parse(text, window)) out << window;
    }
    return out;
}

QStringList RolloutSchedule::texts(const QString& stored) {
    return stored.isEmpty() ? QStringList() : stored.split(QLatin1Char(','));
}

bool RolloutSchedule::allows(const struRolloutPlan& plan, const QDateTime& local) {
    if (plan.startAt > 0 && local.toSecsSinceEpoch() < plan.startAt) return false;
    const QList<Window> open = windows(plan.windows);
    if (open.isEmpty()) return true;
    const QTime time = local.time();
    const int minute = (time.hour() * 60 + time.minute()) % kDayMinutes;
    for (const Window& window : open)
        if (inside(window, minute)) return true;
    return false;
}

QString RolloutSchedule::why(const struRolloutPlan& plan, const QDateTime& local) {
    if (plan.startAt > 0 && local.toSecsSinceEpoch() < plan.startAt)
        return QStringLiteral("发布开始于 %1")
            .arg(QDateTime::fromSecsSinceEpoch(plan.startAt)
                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    return QStringLiteral("维护时段外（%1）").arg(plan.windows);
}
