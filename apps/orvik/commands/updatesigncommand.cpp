#include "apps/orvik/commands.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/fileaccess.h"
#include "apps/orvik/cli/optionvalues.h"
#include "apps/orvik/cli/safetext.h"
#include "host/widgets/inifactory.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/sha256.h"
#include "host/widgets/updatedescription.h"
#include "host/widgets/updatesignature.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

namespace ORVIK {

namespace {

constexpr int kDefaultExpiresDays = 30;
constexpr int kMaxExpiresDays = 3650;

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
    if (!QFileInfo(path).exists()) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, FileAccess::whyUnreachable(path));
        return QByteArray();
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return QByteArray();
    }
    return file.readAll();
}

// The product a description is for when it names none: its file name without ".txt", as the
// update server's address forms it.
QByteArray productOf(const QString &path)
{
    QString name = QFileInfo(path).fileName();
    if (name.endsWith(QLatin1String(".txt")))
        name.chop(4);
    return name.toUtf8();
}

} // namespace

int runUpdateSignCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sign an update description in place: add product= (from the file name, unless it has one) and\n"
        "expires=, set size= and sha256= from PACKAGE when given, drop an old signature line and append a\n"
        "fresh one; every other line is kept. A malformed description is refused (exit code 2). With\n"
        "--public-key, print the base64 public key instead. Keys come from `openssl genpkey -algorithm ed25519`."));
    context.addCommonOptions(parser);
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("The Ed25519 private key (PEM)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption publicKey(QStringLiteral("public-key"),
                                       QStringLiteral("Print the key's public half as base64 and stop."));
    const QCommandLineOption expiresDays(
        QStringLiteral("expires-days"),
        QStringLiteral("The description expires N days from now (default: %1; without this option an expires= "
                       "already there is kept).")
            .arg(kDefaultExpiresDays),
        QStringLiteral("N"));
    parser.addOptions({key, publicKey, expiresDays});
    parser.addPositionalArgument(QStringLiteral("DESCRIPTION"), QStringLiteral("The description to sign."));
    parser.addPositionalArgument(QStringLiteral("PACKAGE"), QStringLiteral("The package it offers."),
                                 QStringLiteral("[PACKAGE]"));
    if (!context.parse(parser))
        return ExitUsage;
    const QStringList arguments = parser.positionalArguments();
    const bool printKey = parser.isSet(publicKey);
    if (!parser.isSet(key) || (printKey ? !arguments.isEmpty() : arguments.isEmpty() || arguments.size() > 2)) {
        ErrorLine::print(context.err, QStringLiteral("update-sign needs --key FILE and either DESCRIPTION [PACKAGE] or "
                                                     "--public-key; orvik update-sign --help lists the options"));
        return ExitUsage;
    }
    const std::optional<qint64> days = parser.isSet(expiresDays)
                                           ? OptionValues::wholeNumber(parser.value(expiresDays), 1, kMaxExpiresDays)
                                           : kDefaultExpiresDays;
    if (!days) {
        ErrorLine::print(context.err,
                         QStringLiteral("--expires-days must be a whole number from 1 to %1").arg(kMaxExpiresDays));
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
    // The lines as written, so that an error names the line of this file.
    String malformed;
    const INIFactory written =
        INIFactory::Parse(String(text.constData(), static_cast<uint32_t>(text.size())), &malformed);
    if (!malformed.isEmpty()) {
        context.err << "orvik: " << path << ": " << SafeText::printable(StringStream<QString>::fromString(malformed))
                    << Qt::endl;
        return ExitUsage;
    }
    const String product =
        written.contains("product") ? written.value("product") : String(productOf(path).toStdString());
    QList<QPair<QByteArray, QByteArray>> entries;
    if (!written.contains("product"))
        entries.append({"product", productOf(path)});
    if (parser.isSet(expiresDays) || !written.contains("expires"))
        entries.append(
            {"expires", UpdateDescription::TimeText(QDateTime::currentDateTimeUtc().addDays(*days)).toLatin1()});
    if (arguments.size() == 2) {
        qint64 size = 0;
        const QByteArray digest = Sha256::HashFile(arguments.at(1), &size, &error);
        if (digest.isEmpty()) {
            context.err << "orvik: cannot read " << arguments.at(1) << ": " << error << Qt::endl;
            return ExitFailure;
        }
        entries.append({{"size", QByteArray::number(size)}, {"sha256", digest.toHex()}});
    }
    const QByteArray body = prepareDescription(text, entries);
    // What a host will read, checked before it is signed.
    UpdateDescription description;
    if (!UpdateDescription::Read(body, QByteArray(), product, &description, &error)) {
        context.err << "orvik: " << path << ": " << SafeText::printable(error) << Qt::endl;
        return ExitUsage;
    }
    if (!description.url().isEmpty() && (description.size() < 0 || description.sha256().isEmpty())) {
        context.err << "orvik: " << path
                    << ": it gives url= but not size= and sha256=, without which no host downloads "
                    << "the package: give PACKAGE" << Qt::endl;
        return ExitUsage;
    }
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
