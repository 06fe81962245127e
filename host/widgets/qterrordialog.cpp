#include "host/widgets/qterrordialog.h"

#include "host/widgets/infopipe.h"
#include "host/widgets/qstringstream.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace ORVIK {

QMessageBox *QTErrorDialog::CreateErrorDialog(Exception exception, InfoPipe *pipe)
{
    const String &message = exception.message();
    std::fprintf(stderr, "Error: %.*s\n", static_cast<int>(message.length()), message.data());
    std::fflush(stderr);
    if (pipe)
        pipe->writeInfo(message);

    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return nullptr;
    // A top-level window that owns itself: WA_DeleteOnClose ends it when the user closes it.
    auto *box = new QMessageBox(QMessageBox::Critical, QCoreApplication::applicationName(),
                                StringStream<QString>::fromString(message), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setModal(false);
    box->show();
    return box;
}

} // namespace ORVIK
