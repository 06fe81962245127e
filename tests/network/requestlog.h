#pragma once

#include "host/widgets/networkrequest.h"

#include <QByteArray>
#include <QList>
#include <QObject>

// Everything a NetworkRequest says, as lines in arrival order ("finished", "error:Host Not Found",
// "download 5/-1"), so a test can compare whole sequences.
class RequestLog : public QObject
{
public:
    explicit RequestLog(ORVIK::NetworkRequest *request)
    {
        using R = ORVIK::NetworkRequest;
        connect(request, &R::socketStartedConnectingSignal, this, [this] { add("connecting"); });
        connect(request, &R::requestSentSignal, this, [this] { add("sent"); });
        connect(request, &R::metaDataChangedSignal, this, [this] { add("metadata"); });
        connect(request, &R::finishedSignal, this, [this] { add("finished"); });
        connect(request, &R::redirectAllowedSignal, this, [this] { add("redirectAllowed"); });
        connect(request, &R::uploadProgressSignal, this,
                [this](qint64 done, qint64 total) { add("upload " + progress(done, total)); });
        connect(request, &R::downloadProgressSignal, this,
                [this](qint64 done, qint64 total) { add("download " + progress(done, total)); });
        connect(request, &R::errorOccurredSignal, this, [this](ORVIK::StringView text) {
            add("error:" + QByteArray(text.data(), text.length()));
            lastErrorData = text.data();
        });
    }

    static QByteArray progress(qint64 done, qint64 total)
    {
        return QByteArray::number(done) + '/' + QByteArray::number(total);
    }

    int count(const QByteArray &line) const { return int(lines.count(line)); }
    int indexOf(const QByteArray &line) const { return int(lines.indexOf(line)); }
    bool hasFinished() const { return lines.contains("finished"); }
    QList<QByteArray> errors() const { return withPrefix("error:"); }
    QList<QByteArray> withPrefix(const QByteArray &prefix) const
    {
        QList<QByteArray> found;
        for (const QByteArray &line : lines)
            if (line.startsWith(prefix))
                found.append(line);
        return found;
    }

    QList<QByteArray> lines;
    const char *lastErrorData = nullptr;

private:
    void add(const QByteArray &line) { lines.append(line); }
};
