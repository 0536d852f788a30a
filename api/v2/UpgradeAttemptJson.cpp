#include "api/v2/UpgradeAttemptJson.h"

#include "api/v2/JsonRecord.h"

namespace {
const JsonFields<Tab_UpgradeAttempt::Row>& fields() {
    static const JsonFields<Tab_UpgradeAttempt::Row> list = [] {
        JsonFields<Tab_UpgradeAttempt::Row> out;
        for (const auto& column : columnFields(Tab_UpgradeAttempt::columns()))
            out.push_back({column.name, column.type, column.description,
                           [get = column.get](const Tab_UpgradeAttempt::Row& row) {
                               return get(row.attempt);
                           }});
        out.push_back({"state", "string",
                       "running, stalled, completed, reverted (reported 100, came back on the "
                       "versions it had) "
                       "or superseded",
                       [](const Tab_UpgradeAttempt::Row& row) {
                           return QJsonValue(upgradeAttemptStateName(row.state));
                       }});
        out.push_back({"stalled", "boolean", "no progress for UpgradeStallMinutes",
                       [](const Tab_UpgradeAttempt::Row& row) {
                           return QJsonValue(row.state == UpgradeAttemptState::Stalled);
                       }});
        out.push_back({"result", "string",
                       "how it ended: succeeded, notTaken (reported 100, came back on the old "
                       "versions), stalled, abandoned (given up before 100 and the same upload "
                       "started again) or superseded (another upload took its place); null while "
                       "it runs or waits for the first report after 100",
                       [](const Tab_UpgradeAttempt::Row& row) {
                           return row.result.isEmpty() ? QJsonValue() : QJsonValue(row.result);
                       },
                       true});
        return out;
    }();
    return list;
}
}  // namespace

QJsonObject UpgradeAttemptJson::row(const Tab_UpgradeAttempt::Row& row) {
    return recordJson(fields(), row);
}

QJsonObject UpgradeAttemptJson::schemas() {
    QJsonObject schema = recordSchema(fields());
    schema.insert("description",
                  "Times are seconds since the epoch, 0 for not yet; the from* versions are the "
                  "terminal's when the upgrade was handed out.");
    return QJsonObject{{"UpgradeAttempt", schema}};
}
