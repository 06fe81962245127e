#pragma once

#include "host/base/exception.h"
#include "host/widgets/orvikwidgets_export.h"

class QMessageBox;

namespace ORVIK {

class InfoPipe;

// Shows a caught host exception to the user.
class ORVIKWIDGETS_EXPORT QTErrorDialog
{
public:
    // Writes the message to standard error and to the pipe when one is given. With a widget
    // application it also shows a non-modal message box, so neither scripts nor the event loop
    // wait for the user; the box deletes itself when closed. Returns it, or null without widgets.
    static QMessageBox *CreateErrorDialog(Exception exception, InfoPipe *pipe);
};

} // namespace ORVIK
