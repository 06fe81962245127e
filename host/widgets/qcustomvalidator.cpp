#include "host/widgets/qcustomvalidator.h"

namespace ORVIK {

QCustomValidator::QCustomValidator(QObject *parent) : QValidator(parent)
{}

void QCustomValidator::setAllowEmpty(bool allow)
{
    if (m_allowEmpty == allow)
        return;
    m_allowEmpty = allow;
    emit changed();
}

void QCustomValidator::setMaximumLength(int length)
{
    if (m_maximumLength == length)
        return;
    m_maximumLength = length;
    emit changed();
}

QValidator::State QCustomValidator::validate(QString &input, int &) const
{
    if (m_maximumLength > 0 && input.size() > m_maximumLength)
        return Invalid;
    if (input.isEmpty())
        return m_allowEmpty ? Acceptable : Intermediate;
    return Acceptable;
}

} // namespace ORVIK
