#pragma once

// The real service for the console's end-to-end tests: started on free ports, its WFS.db open
// beside it for seeding and checking rows, terminals played over raw sockets or by the simulator.

#include <memory>

#include "codec/SocketPacketHandler.h"
#include "codec/TerminalPackets.h"
#include "tests/support/FakeTerminal.h"
#include "tests/support/TerminalRun.h"
#include "tests/support/WebServiceFixture.h"

class ConsoleTest : public ::testing::Test {
  protected:
    bool startService() {
        if (!m_service.start()) return false;
        m_db = std::make_unique<ServiceDb>(m_service.path("WFS.db"));
        return true;
    }

    HttpResponse call(const QByteArray& method, const QByteArray& target,
                      const QByteArray& body = {},
                      const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
        return httpRequest(m_service.httpPort(), method, target, headers, body);
    }

    // The JSON object of a reply that must have the given status.
    QJsonObject json(const QByteArray& method, const QByteArray& target,
                     const QByteArray& body = {}, int status = 200) {
        const HttpResponse reply = call(method, target, body);
        EXPECT_EQ(reply.status, status) << method.constData() << " " << target.constData() << " "
                                        << reply.body.left(300).constData();
        return jsonObject(reply.body);
    }
    QJsonObject get(const QByteArray& target) { return json("GET", target); }

    static QStringList serials(const QJsonObject& page, const char* member = "items") {
        QStringList out;
        for (const QJsonValue& item : page.value(member).toArray())
            out << item.toObject().value("devSN").toString();
        return out;
    }

    // Rows with the columns named first in columns, then the values of each row.
    void seed(const QString& columns, const QStringList& rows) {
        for (const QString& row : rows)
            ASSERT_TRUE(m_db->exec(
                QStringLiteral("insert into Tab_DeviceInfo(%1) values(%2)").arg(columns, row)));
    }

    // A package for the type with the given App version, its file in the package store.
    void addPackage(const QString& type, const QString& name, const QString& app, int size) {
        const QString path = m_service.path("Package/" + type + "/" + name);
        writeFile(path, patternBytes(size));
        ASSERT_TRUE(m_db->exec(QStringLiteral("insert into Tab_Package(packageName,AppVersion,"
                                              "packagePath,size,deviceType) values('%1','%2',"
                                              "'%3',%4,'%5')")
                                   .arg(name, app, path)
                                   .arg(size)
                                   .arg(type)));
    }

    // A terminal that reports once and stays connected; null when it got no answer.
    std::unique_ptr<FakeTerminal> report(const DeviceReport& identity) {
        auto terminal = std::make_unique<FakeTerminal>();
        if (!terminal->connectTo(m_service.tcpPort())) return nullptr;
        const QByteArray devId = identity.devSN.toUtf8();
        if (!terminal->write(TerminalPackets::frame(0x0001, devId, 1,
                                                    TerminalPackets::reportBody(identity, false))))
            return nullptr;
        // The answer leaves after the report was stored.
        if (!terminal->waitForData(SocketPacketHandler::kHeaderSize + 2, 10000)) return nullptr;
        return terminal;
    }

    // The simulator playing one terminal to its end; its output on failure.
    bool runTerminal(const QStringList& args, QString& output) {
        const TerminalRun run = ::runTerminal(
            QStringList{"--port", QString::number(m_service.tcpPort()), "--timeout", "10000"} +
            args);
        output = run.output;
        return run.exitCode == 0;
    }

    ServiceProcess m_service;
    std::unique_ptr<ServiceDb> m_db;
};
