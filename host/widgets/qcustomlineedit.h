#pragma once

#include "host/base/orvikstring.h"
#include "host/base/passwordstring.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QLineEdit>

namespace ORVIK {

class QCustomValidator;

// A line edit for host values. In password mode its text is masked and its value is the
// password in the host's encoded form; otherwise its value is the plain text.
class ORVIKWIDGETS_EXPORT QCustomLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit QCustomLineEdit(QWidget *parent = nullptr);

    // Switches password mode; hint is the text shown while the field is empty (none when empty).
    void setIsPassword(bool isPassword, const StringView &hint);
    bool isPassword() const noexcept { return m_isPassword; }

    void setValue(const PasswordString &password);
    void setValue(const String &plain);
    // The plain text.
    String getValue() const;
    // With encoded true in password mode, the password's encoded form; otherwise the plain text.
    String getValue(bool encoded) const;

    QCustomValidator *customValidator() const noexcept { return m_validator; }

private:
    QCustomValidator *m_validator;
    bool m_isPassword = false;
};

} // namespace ORVIK
