#pragma once

#include "host/widgets/orvikwidgets_export.h"

#include <QValidator>

namespace ORVIK {

// The validator of a QCustomLineEdit. Text up to the maximum length is acceptable; empty text
// is acceptable only when allowed (a value that may be left out), and otherwise still to be typed.
class ORVIKWIDGETS_EXPORT QCustomValidator : public QValidator
{
    Q_OBJECT
public:
    explicit QCustomValidator(QObject *parent = nullptr);

    void setAllowEmpty(bool allow);
    bool allowEmpty() const noexcept { return m_allowEmpty; }
    // 0 means no limit.
    void setMaximumLength(int length);
    int maximumLength() const noexcept { return m_maximumLength; }

    State validate(QString &input, int &pos) const override;

private:
    bool m_allowEmpty = false;
    int m_maximumLength = 0;
};

} // namespace ORVIK
