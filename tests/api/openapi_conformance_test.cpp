// The OpenAPI document served at /KORVA/v2/openapi.json against the running service: every
// operation, called with the document's own examples, answers with a status it documents and a
// body that fits the documented schema.
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

#include "tests/support/JsonSchemaCheck.h"
#include "tests/support/Login.h"
#include "tests/support/WebServiceFixture.h"

namespace {

struct Operation {
    QString method;
    QString path;
    QJsonObject spec;
};

// Example of a parameter, from the parameter or its schema.
QString exampleOf(const QJsonObject& parameter) {
    const QJsonValue example = parameter.contains("example")
                                   ? parameter.value("example")
                                   : parameter.value("schema").toObject().value("example");
    return example.isString() ? example.toString() : example.toVariant().toString();
}

// GETs first, then the changes, deletions last, so that a deletion does not take away what a
// read expects.
int methodOrder(const QString& method) {
    return method == "get" ? 0 : method == "delete" ? 2 : 1;
}

void collectRefs(const QJsonValue& value, QStringList& refs) {
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (it.key() == "$ref") refs << it.value().toString();
            collectRefs(it.value(), refs);
        }
    } else if (value.isArray()) {
        for (const QJsonValue& item : value.toArray()) collectRefs(item, refs);
    }
}

// With logins on, every call is made by an admin, each in a session of its own: one of the
// documented operations is the logout.
class OpenApiConformance : public ::testing::Test {
  protected:
    void SetUp() override {
        m_service.setParam("OperatorLogin", 1);
        ASSERT_TRUE(m_service.start()) << m_service.output().constData();
        ASSERT_TRUE(takeOverAdmin(m_service, kPassword).valid());
    }
    HttpResponse call(const QByteArray& method, const QByteArray& target,
                      const QByteArray& body = {}) {
        const Login admin = logIn(m_service.httpPort(), "admin", kPassword);
        EXPECT_TRUE(admin.valid());
        return httpRequest(m_service.httpPort(), method, target, admin.headers(), body);
    }
    static constexpr const char* kPassword = "conformance-admin";
    ServiceProcess m_service;
};

TEST_F(OpenApiConformance, EveryOperationAnswersAsDocumented) {
    const HttpResponse served = call("GET", "/KORVA/v2/openapi.json");
    ASSERT_EQ(served.status, 200);
    const QJsonObject document = jsonObject(served.body);
    ASSERT_EQ(document.value("openapi").toString().left(2), "3.");

    QStringList refs;
    collectRefs(document, refs);
    for (const QString& ref : refs) {
        QJsonValue target = document;
        for (const QString& part : ref.mid(2).split('/')) target = target.toObject().value(part);
        EXPECT_TRUE(target.isObject()) << "unresolved " << ref.toStdString();
    }

    QList<Operation> operations;
    const QJsonObject paths = document.value("paths").toObject();
    for (auto path = paths.begin(); path != paths.end(); ++path) {
        const QJsonObject item = path.value().toObject();
        for (auto op = item.begin(); op != item.end(); ++op)
            operations.append({op.key(), path.key(), op.value().toObject()});
    }
    ASSERT_FALSE(operations.isEmpty());
    std::stable_sort(operations.begin(), operations.end(), [](const auto& a, const auto& b) {
        return methodOrder(a.method) < methodOrder(b.method);
    });

    // Generated clients name their methods after the operationId.
    const QRegularExpression identifier("^[a-z][A-Za-z0-9]+$");
    QSet<QString> operationIds;
    for (const Operation& op : operations) {
        const std::string name = (op.method + " " + op.path).toStdString();
        const QString operationId = op.spec.value("operationId").toString();
        EXPECT_TRUE(identifier.match(operationId).hasMatch())
            << name << ": " << operationId.toStdString();
        EXPECT_FALSE(operationIds.contains(operationId))
            << name << ": " << operationId.toStdString();
        operationIds.insert(operationId);
        const QJsonObject responses = op.spec.value("responses").toObject();
        ASSERT_FALSE(responses.isEmpty()) << name;
        ASSERT_TRUE(op.spec.contains("x-role")) << name;

        QString target = op.path;
        QStringList query;
        for (const QJsonValue& p : op.spec.value("parameters").toArray()) {
            const QJsonObject parameter = p.toObject();
            const QString in = parameter.value("in").toString();
            const QString example = exampleOf(parameter);
            if (in == "path") {
                ASSERT_FALSE(example.isEmpty()) << name << ": path parameter without example";
                target.replace("{" + parameter.value("name").toString() + "}",
                               QUrl::toPercentEncoding(example));
            } else if (in == "query" && !example.isEmpty()) {
                query << parameter.value("name").toString() + "=" +
                             QUrl::toPercentEncoding(example);
            }
        }
        if (!query.isEmpty()) target += "?" + query.join('&');
        const QJsonValue bodyExample = op.spec.value("requestBody")
                                           .toObject()
                                           .value("content")
                                           .toObject()
                                           .value("application/json")
                                           .toObject()
                                           .value("example");
        const QByteArray body = bodyExample.isUndefined()
                                    ? QByteArray()
                                    : QJsonDocument::fromVariant(bodyExample.toVariant())
                                          .toJson(QJsonDocument::Compact);

        const HttpResponse reply = call(op.method.toUpper().toLatin1(), target.toUtf8(), body);
        const QString status = QString::number(reply.status);
        ASSERT_TRUE(responses.contains(status))
            << name << " answered " << reply.status << " " << reply.body.left(200).constData();
        const QJsonObject schema = responses.value(status)
                                       .toObject()
                                       .value("content")
                                       .toObject()
                                       .value("application/json")
                                       .toObject()
                                       .value("schema")
                                       .toObject();
        if (schema.isEmpty()) continue;
        QJsonParseError error{};
        const QJsonDocument parsed = QJsonDocument::fromJson(reply.body, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << name;
        const QJsonValue value =
            parsed.isArray() ? QJsonValue(parsed.array()) : QJsonValue(parsed.object());
        const QStringList faults = schemaMismatches(value, schema, document);
        EXPECT_TRUE(faults.isEmpty()) << name << ": " << faults.join("; ").toStdString();
    }
}

TEST_F(OpenApiConformance, UnknownRoutesAndMethodsGetTheErrorShape) {
    const struct {
        QByteArray method, target;
        int status;
        QByteArray code;
    } cases[] = {
        {"GET", "/KORVA/v2/no-such-thing", 404, "not_found"},
        {"PUT", "/KORVA/v2/openapi.json", 405, "method_not_allowed"},
    };
    for (const auto& c : cases) {
        const HttpResponse reply = call(c.method, c.target);
        EXPECT_EQ(reply.status, c.status) << c.target.constData();
        EXPECT_EQ(jsonObject(reply.body).value("error").toObject().value("code").toString(),
                  QString::fromLatin1(c.code));
        EXPECT_TRUE(reply.header("Content-Type").startsWith("application/json"));
    }
    EXPECT_EQ(call("PUT", "/KORVA/v2/openapi.json").header("Allow"), "GET");
}
}  // namespace
