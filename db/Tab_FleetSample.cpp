#include "db/Tab_FleetSample.h"

#include "db/SqlStatement.h"

const RecordColumns<struFleetSample>& Tab_FleetSample::columns() {
    using S = struFleetSample;
    static const RecordColumns<S> columns("Tab_FleetSample",
                                          {{"periodStart", &S::periodStart, kKey},
                                           {"series", &S::series, kKey},
                                           {"label", &S::label},
                                           {"done", &S::done},
                                           {"failed", &S::failed},
                                           {"total", &S::total}});
    return columns;
}

bool Tab_FleetSample::recordAbsent(const QList<struFleetSample>& samples) {
    const QString insert = columns().insert();
    for (const struFleetSample& sample : samples) {
        SqlStatement statement(
            QString(insert).replace(QStringLiteral("insert into"),
                                    QStringLiteral("insert or ignore into")),
            insert + QStringLiteral(" on conflict (periodStart,series) do nothing"));
        statement.bindRow(columns(), sample);
        if (!statement.exec()) return false;
    }
    return true;
}

bool Tab_FleetSample::has(qint32 periodStart, const QString& series, bool& found) {
    SqlStatement query(QStringLiteral(
        "select count(*) as n from Tab_FleetSample where periodStart=:at and series=:series"));
    query.bind(QStringLiteral(":at"), periodStart).bind(QStringLiteral(":series"), series);
    if (!query.exec() || !query.next()) return false;
    found = query.value("n").toInt() > 0;
    return true;
}

bool Tab_FleetSample::removeBefore(qint32 periodStart) {
    SqlStatement remove(QStringLiteral("delete from Tab_FleetSample where periodStart<:at"));
    remove.bind(QStringLiteral(":at"), periodStart);
    return remove.exec();
}

bool Tab_FleetSample::since(qint32 periodStart, QList<struFleetSample>& samples) {
    SqlStatement query(
        columns().select(QStringLiteral("where periodStart>=:at order by periodStart,series")));
    query.bind(QStringLiteral(":at"), periodStart);
    if (!query.exec()) return false;
    samples.clear();
    while (query.next()) {
        struFleetSample sample;
        query.readRow(columns(), sample);
        samples.append(sample);
    }
    return true;
}
