#include "host/widgets/qcustomlineedit.h"

#include "host/widgets/qcustomvalidator.h"
#include "host/widgets/qstringstream.h"

namespace ORVIK {

QCustomLineEdit::QCustomLineEdit(QWidget *parent) : QLineEdit(parent), m_validator(new QCustomValidator(this))
{
    setValidator(m_validator);
}

void QCustomLineEdit::setIsPassword(bool isPassword, const StringView &hint)
{
    m_isPassword = isPassword;
    setEchoMode(isPassword ? QLineEdit::Password : QLineEdit::Normal);
    setPlaceholderText(StringStream<QString>::fromString(hint));
}

void QCustomLineEdit::setValue(const PasswordString &password)
{
    setText(StringStream<QString>::fromString(password.decode()));
}

void QCustomLineEdit::setValue(const String &plain)
{
    setText(StringStream<QString>::fromString(plain));
}

String QCustomLineEdit::getValue() const
{
    return StringStream<QString>::toString(text());
}

String QCustomLineEdit::getValue(bool encoded) const
{
    if (encoded && m_isPassword)
        return PasswordString::Encode(getValue()).encoded();
    return getValue();
}

} // namespace ORVIK
