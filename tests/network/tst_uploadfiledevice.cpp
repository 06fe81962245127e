#include "loopback/httptestserver.h"
#include "network/uploadfiledevice.h"
#include "tests/testfile.h"

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
    void closedDeviceAnswersAsAClosedFile();

private:
    QTemporaryDir m_dir;
};

void tst_UploadFileDevice::readsTheFileAsQtAsks_data()
{
    QTest::addColumn<qint64>("size");    // at opening
    QTest::addColumn<qint64>("piece");   // the size of each read
    QTest::addColumn<qint64>("after");   // bytes read before the file is changed or the device is sought
    QTest::addColumn<qint64>("seekTo");  // -1: no seek (a resent request starts over)
    QTest::addColumn<qint64>("newSize"); // -1: the file is not changed under the upload
    QTest::addColumn<qint64>("end");     // the device hands out the file up to here; short of `size`, it fails

    const auto row = [](const char *name, qint64 size, qint64 piece, qint64 after, qint64 seekTo, qint64 newSize,
                        qint64 end) { QTest::newRow(name) << size << piece << after << seekTo << newSize << end; };
    const qint64 none = -1, size = 3 * kPiece;
    row("qt-pieces-across-read-ahead-boundaries", 2 * kPiece + 12345, kQtPiece, 0, none, none, 2 * kPiece + 12345);
    row("reads-larger-than-the-read-ahead", size + 1, kPiece + 100, 0, none, none, size + 1);
    row("empty-file", 0, kQtPiece, 0, none, none, 0);
    // Qt resets the device when it sends a request again on a new connection.
    row("reset-mid-upload-reads-from-the-start", size + 1, kQtPiece, kPiece + kPiece / 2, 0, none, size + 1);
    row("seek-back-into-an-earlier-piece", size, kQtPiece, 2 * kPiece + kPiece / 2, kPiece / 2, none, size);
    row("seek-forward-beyond-the-held-piece", size, kQtPiece, 100, 2 * kPiece + 7, none, size);
    // The held piece is still the file's at opening; the next one is not there any more.
    row("shrunk-inside-the-held-piece", size, kQtPiece, kQtPiece, none, kPiece / 2, kPiece);
    row("shrunk-to-nothing", size, kQtPiece, kQtPiece, none, 0, kPiece);
    row("shrunk-inside-a-later-piece", size, kQtPiece, kQtPiece, none, 2 * kPiece + 5, 2 * kPiece);
    // Only what was there at opening is sent: the size announced to the server.
    row("grown-sends-the-size-at-opening", size, kQtPiece, kQtPiece, none, size + 3 * kPiece, size);
}

void tst_UploadFileDevice::readsTheFileAsQtAsks()
{
    QFETCH(qint64, size);
    QFETCH(qint64, piece);
    QFETCH(qint64, after);
    QFETCH(qint64, seekTo);
    QFETCH(qint64, newSize);
    QFETCH(qint64, end);

    const QByteArray content = HttpTestServer::patternBytes(7, size);
    const QString path = m_dir.filePath(QStringLiteral("upload.bin"));
    QVERIFY(writeFile(path, content));
    UploadFileDevice device(path);
    QVERIFY(device.open());
    QVERIFY(!device.isSequential()); // else Qt would hold the whole upload in memory first
    QCOMPARE(device.size(), size);
    QByteArray taken = readOn(device, piece, after);
    QCOMPARE(taken.size(), after);
    if (seekTo >= 0)
        QVERIFY(device.seek(seekTo));
    if (newSize > size)
        QVERIFY(writeFile(path, HttpTestServer::patternBytes(1, newSize - size), QIODevice::Append));
    else if (newSize >= 0)
        QVERIFY(QFile::resize(path, newSize));

    qint64 status = 0;
    taken += readOn(device, piece, 2 * size + piece, &status);
    const qint64 resume = seekTo >= 0 ? seekTo : after;
    QCOMPARE(taken.size(), after + end - resume);
    QVERIFY(taken == content.left(after) + content.mid(resume, end - resume)); // not QCOMPARE: no megabytes in the log
    // A shrunk file must not end as if it were whole (Qt would wait forever for the rest of a plain end
    // before the size): the read fails, and nothing of the file's new content is handed out.
    QCOMPARE(status, end < size ? qint64(-1) : qint64(0));
    QCOMPARE(device.size(), size);
    QVERIFY(end < size ? !device.errorString().isEmpty() : device.atEnd());
}

void tst_UploadFileDevice::closedDeviceAnswersAsAClosedFile()
{
    // An upload file that cannot be opened fails as the transfer's own error: Qt must see the same size
    // as from a closed QFile, not an empty upload it would send as a success.
    const QString path = m_dir.filePath(QStringLiteral("closed.bin"));
    QVERIFY(writeFile(path, HttpTestServer::patternBytes(2, 5000)));
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
