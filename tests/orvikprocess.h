#pragma once

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QStringList>

#include <functional>

// A file of the build's program folder (ORVIK_BIN_DIR, set by CTest); by default the orvik program.
inline QString orvikBinPath(const QString &name = {})
{
#ifdef Q_OS_WIN
    const QString program = QStringLiteral("orvik.exe");
#else
    const QString program = QStringLiteral("orvik");
#endif
    return QDir(qEnvironmentVariable("ORVIK_BIN_DIR")).filePath(name.isEmpty() ? program : name);
}

// A shared library or plug-in of the build by its base name ("ORVIKNetwork", "libORVIKBase").
inline QString orvikLibraryPath(const QString &baseName)
{
#ifdef Q_OS_WIN
    return orvikBinPath(baseName + QStringLiteral(".dll"));
#else
    return orvikBinPath(baseName + QStringLiteral(".so"));
#endif
}

struct OrvikRun
{
    int exitCode = -1; // -1: did not finish in time (or did not start), -2: crashed
    QByteArray out;    // with LF line ends on every platform
    QByteArray err;
    QByteArray rawOut; // the bytes as written: a body must arrive unchanged
};

// How orvik's process is set up beyond its arguments.
struct OrvikSetup
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QByteArray input;               // written to standard input, which is then closed (a pipe)
    std::function<void()> modifier; // runs in the child, its standard files set up, before orvik starts
    QString workingDirectory;       // empty: this process's
};

// Runs orvik to its end. This process's event loop runs meanwhile, so loopback servers that the test
// started in it keep answering.
inline OrvikRun runOrvik(const QStringList &arguments, int timeoutMs = 60000, const OrvikSetup &setup = OrvikSetup())
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.setProcessEnvironment(setup.environment);
#ifndef Q_OS_WIN
    if (setup.modifier)
        process.setChildProcessModifier(setup.modifier);
#endif
    if (!setup.workingDirectory.isEmpty())
        process.setWorkingDirectory(setup.workingDirectory);
    process.start(orvikBinPath(), arguments);
    if (!process.waitForStarted(timeoutMs))
        return {-1, {}, "orvik did not start: " + process.errorString().toUtf8(), {}};
    process.write(setup.input);
    process.closeWriteChannel();
    if (!finished.wait(timeoutMs)) // the process is killed on return
        return {-1, {}, "orvik did not finish: " + arguments.join(QLatin1Char(' ')).toUtf8(), {}};
    OrvikRun run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
                 process.readAllStandardOutput(),
                 process.readAllStandardError(),
                 {}};
    run.rawOut = run.out;
#ifdef Q_OS_WIN
    // A Windows program writes text with CRLF line ends.
    run.out.replace("\r\n", "\n");
    run.err.replace("\r\n", "\n");
#endif
    return run;
}
