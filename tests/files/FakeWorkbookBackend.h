#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

#include "files/WorkbookBackend.h"

// A workbook engine a test controls: what each step answers, and a record of every call with
// its arguments ("writeRange A1:P4", "saveAs C:\out\a.xlsx 56"). The record outlives the engine,
// which the link deletes when it closes.
struct FakeWorkbookRecord {
    // Answers.
    bool createOk = true;
    bool openOk = true;
    int sheetCount = 1;
    bool setNameOk = true;
    bool writeOk = true;
    bool saveOk = true;
    QList<QList<QVariant>> used;  // what usedRange returns

    // What happened.
    QStringList calls;
    QList<QList<QVariant>> written;
    int enginesMade = 0;
};

class FakeWorkbookBackend : public WorkbookBackend {
  public:
    explicit FakeWorkbookBackend(std::shared_ptr<FakeWorkbookRecord> record)
        : m_record(std::move(record)) {}

    bool create() override {
        m_record->calls << QStringLiteral("create");
        return m_record->createOk;
    }
    bool open(const QString& fileName) override {
        m_record->calls << QStringLiteral("open ") + fileName;
        return m_record->openOk;
    }
    int sheetCount() const override { return m_record->sheetCount; }
    bool selectSheet(int index) override {
        m_record->calls << QStringLiteral("selectSheet %1").arg(index);
        m_selected = index >= 1 && index <= m_record->sheetCount;
        return m_selected;
    }
    QString sheetName() const override { return m_selected ? m_name : QString(); }
    bool setSheetName(const QString& name) override {
        m_record->calls << QStringLiteral("setSheetName ") + name;
        if (!m_record->setNameOk) return false;
        m_name = name;
        return true;
    }
    QList<QList<QVariant>> usedRange() const override {
        m_record->calls << QStringLiteral("usedRange");
        return m_record->used;
    }
    bool writeRange(const QString& range, const QList<QList<QVariant>>& table) override {
        m_record->calls << QStringLiteral("writeRange ") + range;
        if (!m_record->writeOk) return false;
        m_record->written = table;
        return true;
    }
    bool saveAs(const QString& path, int format) override {
        m_record->calls << QStringLiteral("saveAs %1 %2").arg(path).arg(format);
        return m_record->saveOk;
    }
    void close() override { m_record->calls << QStringLiteral("close"); }

  private:
    std::shared_ptr<FakeWorkbookRecord> m_record;
    bool m_selected = false;
    QString m_name = QStringLiteral("Sheet1");
};

inline WorkbookBackendFactory fakeFactory(const std::shared_ptr<FakeWorkbookRecord>& record) {
    return [record]() -> std::unique_ptr<WorkbookBackend> {
        ++record->enginesMade;
        return std::make_unique<FakeWorkbookBackend>(record);
    };
}

// No spreadsheet engine on the host.
inline WorkbookBackendFactory noEngineFactory() {
    return [] { return std::unique_ptr<WorkbookBackend>(); };
}
