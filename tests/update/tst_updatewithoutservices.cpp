#include "host/base/exception.h"
#include "host/widgets/infopipe.h"
#include "host/widgets/itemdownloader.h"
#include "host/widgets/qterrordialog.h"
#include "update/orvikupdatechecker.h"

#include <QSignalSpy>
#include <QTest>

using namespace ORVIK;

// A process before the module's services are installed: no access manager and no widgets.
// It runs on its own, since an installed access manager stays for the rest of the process.
namespace {

class NameCountingChecker : public ORVIKUpdateChecker
{
public:
    using ORVIKUpdateChecker::ORVIKUpdateChecker;
    String defaultURLPathName() override
    {
        ++namesFormed;
        return ORVIKUpdateChecker::defaultURLPathName();
    }
    int namesFormed = 0;
};

class RecordingPipe : public InfoPipe
{
public:
    void writeInfo(const StringView &message) override
    {
        messages.append(QByteArray(message.data(), message.length()));
    }
    QList<QByteArray> messages;
};

} // namespace

class tst_UpdateWithoutServices : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void checkFailsAtOnceWithoutManager();
    void errorDialogWithoutWidgets();
};

void tst_UpdateWithoutServices::checkFailsAtOnceWithoutManager()
{
    QVERIFY(!ItemDownloader::HasNetworkManager());
    NameCountingChecker checker("Orvik");
    QSignalSpy statusSet(&checker, &UpdateChecker::updateStatusSetSignal);
    for (int request = 1; request <= 3; ++request) {
        checker.requestCheckForUpdate("");
        // Failed at once, without forming an address or asking for a downloader.
        QCOMPARE(statusSet.count(), request);
        QCOMPARE(checker.updateStatus(), UpdateChecker::UpdateStatusFailed);
        QCOMPARE(checker.namesFormed, 0);
    }
    QVERIFY(!ItemDownloader::GetItemDownloader("https://updates.orvik.example/Update/Windows/Orvik.txt"));

    // Nothing arrives later either.
    QCoreApplication::processEvents();
    QCOMPARE(statusSet.count(), 3);
}

void tst_UpdateWithoutServices::errorDialogWithoutWidgets()
{
    RecordingPipe pipe;
    QCOMPARE(QTErrorDialog::CreateErrorDialog(Exception("No display"), &pipe), nullptr);
    QCOMPARE(pipe.messages, QList<QByteArray>{QByteArray("No display")});
}

QTEST_GUILESS_MAIN(tst_UpdateWithoutServices)
#include "tst_updatewithoutservices.moc"
