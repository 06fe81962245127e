#include "apps/orvik/cli/fileaccess.h"
#include "apps/orvik/cli/terminal.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

using namespace ORVIK;

namespace {

// The two ends of a new pipe: read, write.
bool makePipe(int ends[2])
{
#ifdef Q_OS_WIN
    return _pipe(ends, 4096, _O_BINARY) == 0;
#else
    return ::pipe(ends) == 0;
#endif
}

} // namespace

// How orvik tells what its standard files are: a terminal, and a reader that has gone.
class tst_ConsoleOutput : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void terminal_data();
    void terminal();
    void failedWrite_data();
    void failedWrite();
};

void tst_ConsoleOutput::initTestCase()
{
#ifndef Q_OS_WIN
    // As orvik does: a reader that goes away shows as a failed write.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

void tst_ConsoleOutput::terminal_data()
{
    QTest::addColumn<QString>("kind");
    // The null device is a character device, as a terminal is, but nobody reads it.
    QTest::newRow("null-device-is-no-terminal") << QStringLiteral("null");
    QTest::newRow("file-is-no-terminal") << QStringLiteral("file");
    QTest::newRow("pipe-is-no-terminal") << QStringLiteral("pipe");
}

void tst_ConsoleOutput::terminal()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::FILE *stream = nullptr;
    int ends[2] = {-1, -1};
    if (kind == QLatin1String("null")) {
#ifdef Q_OS_WIN
        stream = std::fopen("NUL", "w");
#else
        stream = std::fopen("/dev/null", "w");
#endif
    } else if (kind == QLatin1String("file")) {
        stream = std::fopen(QFile::encodeName(dir.filePath(QStringLiteral("out"))).constData(), "w");
    } else {
        QVERIFY(makePipe(ends));
#ifdef Q_OS_WIN
        stream = _fdopen(ends[1], "w");
#else
        stream = fdopen(ends[1], "w");
#endif
    }
    QVERIFY(stream);
    QVERIFY(!Terminal::isTerminal(stream));
    std::fclose(stream);
    if (ends[0] >= 0)
        FileAccess::closeDescriptor(ends[0]);
}

void tst_ConsoleOutput::failedWrite_data()
{
    QTest::addColumn<bool>("readerGone");
    QTest::addColumn<bool>("brokenPipe");
    QTest::newRow("pipe-whose-reader-has-gone") << true << true;
    QTest::newRow("descriptor-open-for-reading-only") << false << false;
}

// Written as orvik writes a body to standard output: through a QFile on the descriptor, unbuffered.
void tst_ConsoleOutput::failedWrite()
{
    QFETCH(bool, readerGone);
    QFETCH(bool, brokenPipe);
    int descriptor = -1;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (readerGone) {
        int ends[2];
        QVERIFY(makePipe(ends));
        FileAccess::closeDescriptor(ends[0]);
        descriptor = ends[1];
    } else {
        QFile file(dir.filePath(QStringLiteral("in")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
#ifdef Q_OS_WIN
        descriptor = _open(QFile::encodeName(file.fileName()).constData(), _O_RDONLY | _O_BINARY);
#else
        descriptor = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
#endif
    }
    QVERIFY(descriptor >= 0);
    QFile target;
    QVERIFY(target.open(descriptor, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle));
    errno = 0;
    QCOMPARE(target.write("body", 4), qint64(-1));
    const int savedErrno = errno;
    QCOMPARE(Terminal::isBrokenPipe(savedErrno), brokenPipe);
}

QTEST_GUILESS_MAIN(tst_ConsoleOutput)
#include "tst_consoleoutput.moc"
