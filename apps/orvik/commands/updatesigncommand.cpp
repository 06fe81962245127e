#include "apps/orvik/commands.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/fileaccess.h"
#include "apps/orvik/cli/optionvalues.h"
#include "host/widgets/inifactory.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/update/regularfile.h"
#include "host/widgets/update/sha256.h"
#include "host/widgets/update/updatedescription.h"
#include "host/widgets/update/updatesignature.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

namespace ORVIK {

namespace {

constexpr int kDefaultExpiresDays = 30;
// A key file is a PEM block; a larger file is not one.
constexpr qint64 kMaxKeyFileBytes = 64 * 1024;
constexpr const char kByteOrderMark[] = "\xEF\xBB\xBF";

// The key of a key=value line, as the description's reader compares keys (a byte-order mark before
// the first line's key is not part of it).
QByteArray keyOf(const QByteArray &line)
{
    const qsizetype equals = line.indexOf('=');
    QByteArray key = equals < 0 ? QByteArray() : line.left(equals);
    if (key.startsWith(kByteOrderMark))
        key.remove(0, 3);
    return key.trimmed().toLower();
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
                kept = (i == 0 && line.startsWith(kByteOrderMark) ? QByteArray(kByteOrderMark) : QByteArray()) +
                       entry.first + '=' + entry.second + (line.endsWith('\r') ? "\r" : "");
                missing.removeAll(key);
            }
        result += kept + (endsOpen && i == lines.size() - 1 ? lineEnd : QByteArray("\n"));
    }
    for (const auto &entry : entries)
        if (missing.contains(entry.first))
            result += entry.first + '=' + entry.second + lineEnd;
    return result;
}

// A regular file's bytes, opened without blocking; empty, with *error, otherwise.
QByteArray readFile(const QString &path, qint64 maxBytes, QString *error)
{
    if (!QFileInfo(path).exists()) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, FileAccess::whyUnreachable(path));
        return QByteArray();
    }
    RegularFile::Problem problem = RegularFile::Problem::None;
    QString why;
    const QByteArray bytes = RegularFile::Read(path, maxBytes, &problem, &why);
    if (problem != RegularFile::Problem::None)
        *error = QStringLiteral("cannot read %1: %2").arg(path, why);
    return bytes;
}

// The product a description is for when it names none and --name is not given: the file's name
// without ".txt", as the update server's address forms it; empty when the name does not end so.
QByteArray productOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.endsWith(QLatin1String(".txt")) ? name.chopped(4).toUtf8() : QByteArray();
}

} // namespace

int runUpdateSignCommand(CommandContext &context)
{
    CommandLine parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Sign an update description in place: add product= (unless it has one: from --name, else from the\n"
            "file name without its \".txt\") and expires=, set size= and sha256= from PACKAGE when given, drop an\n"
            "old signature line and append a fresh one; every other line is kept. What a checker would refuse\n"
            "(a malformed description, an expiry more than %1 days ahead, more than %2 bytes once signed) is\n"
            "not written. With --public-key, print the base64 public key instead. Keys come from\n"
            "`openssl genpkey -algorithm ed25519`.\n"
            "Exit codes: 0 signed (or the key printed), 1 failure (an input cannot be read, the file cannot be\n"
            "written), 2 usage error (a bad option, an option given twice, a description refused).")
            .arg(UpdateDescription::kMaxExpiresDays)
            .arg(UpdateDescription::kMaxBytes));
    context.addCommonOptions(parser);
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("The Ed25519 private key (PEM)."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption publicKey(QStringLiteral("public-key"),
                                       QStringLiteral("Print the key's public half as base64 and stop."));
    const QCommandLineOption expiresDays(
        QStringLiteral("expires-days"),
        QStringLiteral("The description expires N days from now, 1 to %1 (default: %2; without this option an "
                       "expires= already there is kept).")
            .arg(UpdateDescription::kMaxExpiresDays)
            .arg(kDefaultExpiresDays),
        QStringLiteral("N"));
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("The product, when the description gives no product= (default: "
                                                 "the file's name without \".txt\")."),
                                  QStringLiteral("NAME"));
    parser.addOptions({key, publicKey, expiresDays, name});
    parser.addPositionalArgument(QStringLiteral("DESCRIPTION"), QStringLiteral("The description to sign."));
    parser.addPositionalArgument(QStringLiteral("PACKAGE"), QStringLiteral("The package it offers."),
                                 QStringLiteral("[PACKAGE]"));
    if (!context.parse(parser))
        return ExitUsage;
    if (const QString twice = parser.repeatedOption(); !twice.isEmpty()) {
        ErrorLine::print(context.err, QStringLiteral("--%1 is given more than once").arg(twice));
        return ExitUsage;
    }
    const QStringList arguments = parser.positionalArguments();
    const bool printKey = parser.isSet(publicKey);
    if (!parser.isSet(key) || (printKey ? !arguments.isEmpty() : arguments.isEmpty() || arguments.size() > 2)) {
        ErrorLine::print(context.err, QStringLiteral("update-sign needs --key FILE and either DESCRIPTION [PACKAGE] or "
                                                     "--public-key; orvik update-sign --help lists the options"));
        return ExitUsage;
    }
    const std::optional<qint64> days =
        parser.isSet(expiresDays)
            ? OptionValues::wholeNumber(parser.value(expiresDays), 1, UpdateDescription::kMaxExpiresDays)
            : kDefaultExpiresDays;
    if (!days) {
        ErrorLine::print(context.err, QStringLiteral("--expires-days must be a whole number from 1 to %1")
                                          .arg(UpdateDescription::kMaxExpiresDays));
        return ExitUsage;
    }
    if (parser.isSet(name) && parser.value(name).isEmpty()) {
        ErrorLine::print(context.err, QStringLiteral("--name must not be empty"));
        return ExitUsage;
    }

    QString error;
    const QByteArray pem = readFile(parser.value(key), kMaxKeyFileBytes, &error);
    const QByteArray publicHalf = error.isEmpty() ? UpdateSignature::PublicKeyOf(pem, &error) : QByteArray();
    if (publicHalf.isEmpty()) {
        ErrorLine::print(context.err, QStringLiteral("%1: %2").arg(parser.value(key), error));
        return ExitFailure;
    }
    if (printKey) {
        context.out << publicHalf.toBase64() << Qt::endl;
        return ExitOk;
    }

    const QString path = arguments.first();
    // More than a checker reads is refused below; this much is read to say so.
    const QByteArray text = readFile(path, 16 * UpdateDescription::kMaxBytes, &error);
    if (!error.isEmpty()) {
        ErrorLine::print(context.err, error);
        return ExitFailure;
    }
    // The lines as written, so that an error names the line of this file; mirror= is the one key
    // that may repeat, and is signed with the rest.
    String malformed;
    QList<QByteArray> mirrors;
    const QByteArray single = UpdateDescription::WithoutMirrors(text, &mirrors);
    const INIFactory written =
        INIFactory::Parse(String(single.constData(), static_cast<uint32_t>(single.size())), &malformed);
    if (!malformed.isEmpty()) {
        ErrorLine::print(context.err, QStringLiteral("%1: %2").arg(path, StringStream<QString>::fromString(malformed)));
        return ExitUsage;
    }
    // The product: the description's own, else --name, else the file's name; a checker asks for it by
    // the name in its address, so a guess is refused.
    QByteArray product = written.contains("product")
                             ? QByteArray(written.value("product").data(), written.value("product").length())
                             : (parser.isSet(name) ? parser.value(name).toUtf8() : productOf(path));
    if (product.isEmpty()) {
        ErrorLine::print(context.err,
                         path + QStringLiteral(": it gives no product= and its name does not end in \".txt\": give the "
                                               "product with --name"));
        return ExitUsage;
    }
    QList<QPair<QByteArray, QByteArray>> entries;
    if (!written.contains("product"))
        entries.append({"product", product});
    if (parser.isSet(expiresDays) || !written.contains("expires"))
        entries.append(
            {"expires", UpdateDescription::TimeText(QDateTime::currentDateTimeUtc().addDays(*days)).toLatin1()});
    if (arguments.size() == 2) {
        qint64 size = 0;
        const QByteArray digest = Sha256::HashFile(arguments.at(1), &size, &error);
        if (digest.isEmpty()) {
            ErrorLine::print(context.err, QStringLiteral("cannot read %1: %2").arg(arguments.at(1), error));
            return ExitFailure;
        }
        entries.append({{"size", QByteArray::number(size)}, {"sha256", digest.toHex()}});
    }
    const QByteArray body = prepareDescription(text, entries);
    // What a host will read, checked before it is signed.
    UpdateDescription description;
    UpdateDescription::Refusal refused;
    if (!UpdateDescription::Read(body, QByteArray(), String(product.toStdString()), &description, &refused)) {
        ErrorLine::print(context.err, QStringLiteral("%1: %2").arg(path, refused.text()));
        return ExitUsage;
    }
    if (!description.url().isEmpty() && (description.size() < 0 || description.sha256().isEmpty())) {
        ErrorLine::print(context.err, path + QStringLiteral(": it gives url= but not size= and sha256=, without which "
                                                            "no host downloads the package: give PACKAGE"));
        return ExitUsage;
    }
    const QByteArray signedText =
        UpdateSignature::SignDescription(pem, body, text.contains("\r\n") ? "\r\n" : "\n", &error);
    if (signedText.isEmpty()) {
        ErrorLine::print(context.err, error);
        return ExitFailure;
    }
    // The signature line counts: a checker refuses a longer text whole.
    if (signedText.size() > UpdateDescription::kMaxBytes) {
        ErrorLine::print(context.err, QStringLiteral("%1: signed, it would have %2 bytes, more than the %3 that a "
                                                     "checker reads")
                                          .arg(path, QString::number(signedText.size()),
                                               QString::number(UpdateDescription::kMaxBytes)));
        return ExitUsage;
    }
    QSaveFile out(path);
    QString writeError;
    if (!out.open(QIODevice::WriteOnly) || !RegularFile::WriteAll(out, signedText, &writeError) ||
        !RegularFile::FlushAll(out, &writeError) || !out.commit()) {
        ErrorLine::print(
            context.err,
            QStringLiteral("cannot write %1: %2").arg(path, writeError.isEmpty() ? out.errorString() : writeError));
        return ExitFailure;
    }
    context.out << "signed: " << path << Qt::endl;
    return ExitOk;
}

} // namespace ORVIK
