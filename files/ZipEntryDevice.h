#pragma once

#include <QIODevice>

// One entry of an open zip archive (a minizip unzFile), read as a sequential device so that a
// parser takes it a piece at a time. The device fails, whatever the entry's header declares, once
// more than `cap` uncompressed bytes come out, at a stretch of more than `maxToken` bytes without
// a '<' (no text, attribute or tag of a workbook part comes near, and a parser holds each whole),
// and at any "<!" (no comment, CDATA or document type belongs in one) or "<?" past its start.
class ZipEntryDevice : public QIODevice {
  public:
    ZipEntryDevice(void* zip, qint64 cap, qint64 maxToken);
    ~ZipEntryDevice() override;
    ZipEntryDevice(const ZipEntryDevice&) = delete;
    ZipEntryDevice& operator=(const ZipEntryDevice&) = delete;

    // Opens the archive's current entry (after unzLocateFile).
    bool openEntry();
    // Closes the entry; false when reading failed or was refused, or, for an entry read to its
    // end, its checksum does not match.
    bool finish();

    bool isSequential() const override { return true; }
    bool atEnd() const override { return m_end || m_failed; }

  protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    bool acceptable(const char* data, qint64 size);

    void* m_zip;
    const qint64 m_cap;
    const qint64 m_maxToken;
    qint64 m_read = 0;
    qint64 m_sinceOpen = 0;    // bytes since the last '<'
    bool m_afterOpen = false;  // the last byte was '<'
    bool m_entryOpen = false;
    bool m_end = false;
    bool m_failed = false;
};
