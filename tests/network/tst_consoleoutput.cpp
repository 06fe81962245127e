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

// How orvik tells what its standard files are: a terminal, and a reader that has gone.
class tst_ConsoleOutput : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void standardFile_data();
    void standardFile();
};

void tst_ConsoleOutput::standardFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("brokenPipe"); // whether a write that fails tells a reader gone; -1: the write succeeds
    // The null device is a character device, as a terminal is, but nobody reads it.
    QTest::newRow("null-device") << QStringLiteral("null") << -1;
    QTest::newRow("file") << QStringLiteral("file") << -1;
    QTest::newRow("pipe") << QStringLiteral("pipe") << -1;
    QTest::newRow("pipe-whose-reader-has-gone") << QStringLiteral("gone") << 1;
    QTest::newRow("descriptor-open-for-reading-only") << QStringLiteral("read-only") << 0;
}

// None of them is a terminal. Each is written as orvik writes a body to standard output: through a QFile
// on the descriptor, unbuffered.
void tst_ConsoleOutput::standardFile()
{
    QFETCH(QString, kind);
    QFETCH(int, brokenPipe);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray file = QFile::encodeName(dir.filePath(QStringLiteral("out")));
    const bool pipe = kind == QLatin1String("pipe") || kind == QLatin1String("gone");
    int ends[2] = {-1, -1};
    std::FILE *stream = nullptr;
#ifdef Q_OS_WIN
    if (pipe && _pipe(ends, 4096, _O_BINARY) == 0)
        stream = _fdopen(ends[1], "w");
    const char *const null = "NUL";
#else
    // As orvik does: a reader that goes away shows as a failed write.
    std::signal(SIGPIPE, SIG_IGN);
    if (pipe && ::pipe(ends) == 0)
        stream = fdopen(ends[1], "w");
    const char *const null = "/dev/null";
#endif
    if (!pipe)
        stream = std::fopen(kind == QLatin1String("null") ? null : file.constData(), "w");
    // The file made, then opened for reading only.
    if (stream && kind == QLatin1String("read-only"))
        stream = std::freopen(file.constData(), "r", stream);
    QVERIFY(stream);
    const bool terminal = Terminal::isTerminal(stream);
    if (kind == QLatin1String("gone")) {
        FileAccess::closeDescriptor(ends[0]);
        ends[0] = -1;
    }
    QFile target;
    const bool opened = target.open(fileno(stream), QIODevice::WriteOnly | QIODevice::Unbuffered);
    errno = 0;
    const qint64 written = opened ? target.write("body", 4) : -2;
    // At once: on Windows the reason lies in the C runtime's state of this very write.
    const bool readerGone = Terminal::isBrokenPipe(errno);
    target.close();
    std::fclose(stream);
    if (ends[0] >= 0)
        FileAccess::closeDescriptor(ends[0]);
    QVERIFY(!terminal);
    QCOMPARE(written, brokenPipe < 0 ? qint64(4) : qint64(-1));
    QVERIFY(brokenPipe < 0 || readerGone == (brokenPipe == 1));
}

QTEST_GUILESS_MAIN(tst_ConsoleOutput)
#include "tst_consoleoutput.moc"
