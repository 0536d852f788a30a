#include "api/v2/UpgradeDecisionJson.h"

#include "api/v2/JsonRecord.h"
#include "db/Tab_UpgradeDecision.h"
#include "upgrade/DecisionReason.h"

namespace {
const JsonFields<struUpgradeDecision>& fields() {
    static const JsonFields<struUpgradeDecision> list =
        columnFields(Tab_UpgradeDecision::columns());
    return list;
}
}  // namespace

QJsonObject UpgradeDecisionJson::row(const struUpgradeDecision& decision) {
    return recordJson(fields(), decision);
}

QStringList UpgradeDecisionJson::reasonCodes() {
    QStringList codes;
    for (int i = 0; i < kDecisionReasonCount; ++i)
        codes << QLatin1String(decisionReasonCode(static_cast<DecisionReason>(i)));
    return codes;
}

QJsonObject UpgradeDecisionJson::schemas() {
    QJsonObject schema = recordSchema(fields());
    QString meanings;
    for (int i = 0; i < kDecisionReasonCount; ++i) {
        const auto reason = static_cast<DecisionReason>(i);
        meanings += QStringLiteral("; %1: %2")
                        .arg(QLatin1String(decisionReasonCode(reason)),
                             QLatin1String(decisionReasonMeaning(reason)));
    }
    QJsonObject properties = schema.value("properties").toObject();
    properties.insert("reason", QJsonObject{{"type", "string"},
                                            {"enum", QJsonArray::fromStringList(reasonCodes())}});
    schema.insert("properties", properties);
    schema.insert("description",
                  QStringLiteral("The decision at the terminal's last report; decidedAt in "
                                 "seconds since the epoch, packageId 0 without a package") +
                      meanings);
    return QJsonObject{{"UpgradeDecision", schema}};
}
