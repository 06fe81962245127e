#include "loopback/httptestserver.h"
#include "network/uploadfiledevice.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace ORVIK;

namespace {

constexpr qint64 kPiece = UploadFileDevice::kReadAhead;
constexpr qint64 kQtPiece = 16 * 1024; // what Qt asks for at a time

// Reads until the end or an error, `piece` bytes at a time as Qt does; the error shows as -1 in `status`.
QByteArray readOn(QIODevice &device, qint64 piece, qint64 limit, qint64 *status = nullptr)
{
    QByteArray taken;
    QByteArray buffer(piece, Qt::Uninitialized);
    for (;;) {
        const qint64 want = std::min(piece, limit - qint64(taken.size()));
        if (want <= 0)
            break;
        const qint64 got = device.read(buffer.data(), want);
        if (status)
            *status = got;
        if (got <= 0)
            break;
        taken.append(buffer.constData(), got);
    }
    return taken;
}

} // namespace

class tst_UploadFileDevice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsTheFileAsQtAsks_data();
    void readsTheFileAsQtAsks();
    void fileChangedUnderTheUpload_data();
    void fileChangedUnderTheUpload();
    void closedDeviceAnswersAsAClosedFile();

private:
    QString writeFile(const QByteArray &content)
    {
        QFile file(m_dir.filePath(QStringLiteral("upload-%1.bin").arg(++m_files)));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? file.fileName() : QString();
    }

    QTemporaryDir m_dir;
    int m_files = 0;
};

void tst_UploadFileDevice::readsTheFileAsQtAsks_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("piece");     // the size of each read
    QTest::addColumn<qint64>("seekAfter"); // after this many bytes, seek (a resent request starts over); -1: never
    QTest::addColumn<qint64>("seekTo");

    QTest::newRow("qt-pieces-across-read-ahead-boundaries")
        << 2 * kPiece + 12345 << kQtPiece << qint64(-1) << qint64(0);
    QTest::newRow("reads-larger-than-the-read-ahead") << 3 * kPiece + 1 << kPiece + 100 << qint64(-1) << qint64(0);
    QTest::newRow("empty-file") << qint64(0) << kQtPiece << qint64(-1) << qint64(0);
    // Qt resets the device when it sends a request again on a new connection.
    QTest::newRow("reset-mid-upload-reads-from-the-start")
        << 3 * kPiece + 1 << kQtPiece << kPiece + kPiece / 2 << qint64(0);
    QTest::newRow("seek-back-into-an-earlier-piece") << 3 * kPiece << kQtPiece << 2 * kPiece + kPiece / 2 << kPiece / 2;
    QTest::newRow("seek-forward-beyond-the-held-piece") << 3 * kPiece << kQtPiece << qint64(100) << 2 * kPiece + 7;
}

void tst_UploadFileDevice::readsTheFileAsQtAsks()
{
    QFETCH(qint64, size);
    QFETCH(qint64, piece);
    QFETCH(qint64, seekAfter);
    QFETCH(qint64, seekTo);

    const QByteArray content = HttpTestServer::patternBytes(7, size);
    const QString path = writeFile(content);
    QVERIFY(!path.isEmpty());
    UploadFileDevice device(path);
    QVERIFY(device.open());
    QVERIFY(!device.isSequential()); // else Qt would hold the whole upload in memory first
    QCOMPARE(device.size(), size);
    if (seekAfter >= 0) {
        QVERIFY(readOn(device, piece, seekAfter) == content.left(seekAfter));
        QVERIFY(device.seek(seekTo));
    }
    qint64 status = 0;
    const QByteArray rest = readOn(device, piece, size + piece, &status);
    QCOMPARE(rest.size(), content.size() - seekTo);
    QVERIFY(rest == content.mid(seekTo)); // not QCOMPARE: no megabytes in the log
    QCOMPARE(status, qint64(0));
    QVERIFY(device.atEnd());
}

void tst_UploadFileDevice::fileChangedUnderTheUpload_data()
{
    QTest::addColumn<qint64>("newSize");  // the file's size after the first read
    QTest::addColumn<qint64>("expected"); // bytes the device hands out before it ends
    QTest::addColumn<bool>("fails");      // it ends with an error, not a plain end

    const qint64 size = 3 * kPiece;
    // The held piece is still the file's at opening; the next one is not there any more.
    QTest::newRow("shrunk-inside-the-held-piece") << kPiece / 2 << kPiece << true;
    QTest::newRow("shrunk-to-nothing") << qint64(0) << kPiece << true;
    QTest::newRow("shrunk-inside-a-later-piece") << 2 * kPiece + 5 << 2 * kPiece << true;
    // Only what was there at opening is sent: the size announced to the server.
    QTest::newRow("grown-sends-the-size-at-opening") << size + 3 * kPiece << size << false;
}

void tst_UploadFileDevice::fileChangedUnderTheUpload()
{
    QFETCH(qint64, newSize);
    QFETCH(qint64, expected);
    QFETCH(bool, fails);

    const qint64 size = 3 * kPiece;
    const QByteArray content = HttpTestServer::patternBytes(9, size);
    const QString path = writeFile(content);
    QVERIFY(!path.isEmpty());
    UploadFileDevice device(path);
    QVERIFY(device.open());
    QByteArray taken = readOn(device, kQtPiece, kQtPiece);
    QCOMPARE(taken.size(), kQtPiece);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    if (newSize > size)
        QVERIFY(file.seek(size) && file.write(HttpTestServer::patternBytes(1, newSize - size)) == newSize - size);
    else
        QVERIFY(file.resize(newSize));
    file.close();

    qint64 status = 0;
    taken += readOn(device, kQtPiece, 2 * size, &status);
    // A shrunk file must not end as if it were whole (Qt would wait forever for the rest of a plain end
    // before the size): the read fails, and nothing of the file's new content is handed out.
    QCOMPARE(status, fails ? qint64(-1) : qint64(0));
    QCOMPARE(qint64(taken.size()), expected);
    QVERIFY(taken == content.left(expected));
    QCOMPARE(device.size(), size);
    if (fails)
        QVERIFY(!device.errorString().isEmpty());
}

void tst_UploadFileDevice::closedDeviceAnswersAsAClosedFile()
{
    // An upload file that cannot be opened fails as the transfer's own error: Qt must see the same size
    // as from a closed QFile, not an empty upload it would send as a success.
    const QString path = writeFile(HttpTestServer::patternBytes(2, 5000));
    QVERIFY(!path.isEmpty());
    UploadFileDevice device(path);
    QCOMPARE(device.size(), qint64(5000));
    char byte = 0;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("device not open")));
    QCOMPARE(device.read(&byte, 1), qint64(-1));
    QVERIFY(device.open());
    QVERIFY(!device.open()); // already open
    device.close();
    QVERIFY(!device.isOpen());
    QCOMPARE(device.size(), qint64(5000));
    UploadFileDevice missing(m_dir.filePath(QStringLiteral("missing.bin")));
    QVERIFY(!missing.open());
    QVERIFY(!missing.isOpen());
    QVERIFY(!missing.errorString().isEmpty());
}

QTEST_GUILESS_MAIN(tst_UploadFileDevice)
#include "tst_uploadfiledevice.moc"
