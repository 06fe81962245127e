#include "apps/orvik/commands.h"

#include "host/widgets/sha256.h"
#include "host/widgets/updatesignature.h"

#include <QFile>
#include <QSaveFile>

namespace ORVIK {

namespace {

// The key of a key=value line, as the description's reader compares keys.
QByteArray keyOf(const QByteArray &line)
{
    const qsizetype equals = line.indexOf('=');
    return equals < 0 ? QByteArray() : line.left(equals).trimmed().toLower();
}

// The description with its package entries set, its old signature line dropped and every other byte
// kept, ending in a line end, ready to be signed.
QByteArray prepareDescription(const QByteArray &text, const QList<QPair<QByteArray, QByteArray>> &entries)
{
    const QByteArray lineEnd = text.contains("\r\n") ? "\r\n" : "\n";
    QList<QByteArray> lines = text.split('\n');
    const bool endsOpen = !lines.constLast().isEmpty();
    if (!endsOpen)
        lines.removeLast();
    QByteArray result;
    QList<QByteArray> missing;
    for (const auto &entry : entries)
        missing.append(entry.first);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (!UpdateSignature::SignatureValue(line).isNull())
            continue;
        const QByteArray key = keyOf(line);
        QByteArray kept = line;
        for (const auto &entry : entries)
            if (key == entry.first) {
                kept = entry.first + '=' + entry.second + (line.endsWith('\r') ? "\r" : "");
                missing.removeAll(key);
            }
        result += kept + (endsOpen && i == lines.size() - 1 ? lineEnd : QByteArray("\n"));
    }
    for (const auto &entry : entries)
        if (missing.contains(entry.first))
            result += entry.first + '=' + entry.second + lineEnd;
    return result;
}

QByteArray readFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return QByteArray();
    }
    return file.readAll();
}

} // namespace

int runUpdateSignCommand(CommandContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sign an update description in place: set size= and sha256= from PACKAGE when given, drop an old\n"
        "signature line and append a fresh one. With --public-key, print the base64 public key instead.\n"
        "Keys come from `openssl genpkey -algorithm ed25519`."));
    context.addCommonOptions(parser);
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("The Ed25519 private key (PEM)."),
                                 QStringLiteral("PRIVATE.pem"));
    const QCommandLineOption publicKey(QStringLiteral("public-key"),
                                       QStringLiteral("Print the key's public half as base64 and stop."));
    parser.addOptions({key, publicKey});
    parser.addPositionalArgument(QStringLiteral("DESCRIPTION"), QStringLiteral("The description to sign."));
    parser.addPositionalArgument(QStringLiteral("PACKAGE"), QStringLiteral("The package it offers."),
                                 QStringLiteral("[PACKAGE]"));
    if (!context.parse(parser))
        return ExitUsage;
    const QStringList arguments = parser.positionalArguments();
    const bool printKey = parser.isSet(publicKey);
    if (!parser.isSet(key) || (printKey ? !arguments.isEmpty() : arguments.isEmpty() || arguments.size() > 2)) {
        context.err << "orvik: usage: orvik update-sign --key PRIVATE.pem (DESCRIPTION [PACKAGE] | --public-key)"
                    << Qt::endl;
        return ExitUsage;
    }

    QString error;
    const QByteArray pem = readFile(parser.value(key), &error);
    const QByteArray publicHalf = pem.isEmpty() ? QByteArray() : UpdateSignature::PublicKeyOf(pem, &error);
    if (publicHalf.isEmpty()) {
        context.err << "orvik: " << parser.value(key) << ": " << error << Qt::endl;
        return ExitFailure;
    }
    if (printKey) {
        context.out << publicHalf.toBase64() << Qt::endl;
        return ExitOk;
    }

    const QString path = arguments.first();
    const QByteArray text = readFile(path, &error);
    if (!error.isEmpty()) {
        context.err << "orvik: " << error << Qt::endl;
        return ExitFailure;
    }
    QList<QPair<QByteArray, QByteArray>> entries;
    if (arguments.size() == 2) {
        qint64 size = 0;
        const QByteArray digest = Sha256::HashFile(arguments.at(1), &size, &error);
        if (digest.isEmpty()) {
            context.err << "orvik: cannot read " << arguments.at(1) << ": " << error << Qt::endl;
            return ExitFailure;
        }
        entries = {{"size", QByteArray::number(size)}, {"sha256", digest.toHex()}};
    }
    const QByteArray body = prepareDescription(text, entries);
    const QByteArray signature = UpdateSignature::Sign(pem, body, &error);
    if (signature.isEmpty()) {
        context.err << "orvik: " << error << Qt::endl;
        return ExitFailure;
    }
    const QByteArray lineEnd = text.contains("\r\n") ? "\r\n" : "\n";
    QSaveFile out(path);
    const QByteArray signedText = body + "signature=" + signature.toBase64() + lineEnd;
    if (!out.open(QIODevice::WriteOnly) || out.write(signedText) != signedText.size() || !out.commit()) {
        context.err << "orvik: cannot write " << path << ": " << out.errorString() << Qt::endl;
        return ExitFailure;
    }
    context.out << "signed: " << path << Qt::endl;
    return ExitOk;
}

} // namespace ORVIK
