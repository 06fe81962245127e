#pragma once

#include "host/base/buffer.h"
#include "host/base/orvikstring.h"
#include "host/base/translatedstring.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>

namespace ORVIK {

// A combo box of host values, each shown under its display name. Besides its entries it holds
// a free value, which need not be an entry: setValue with a value that is not an entry, or text
// typed into the editable box, puts the free value in force; selecting an entry withdraws it.
class ORVIKWIDGETS_EXPORT QCustomComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit QCustomComboBox(QWidget *parent = nullptr);

    // Replaces every entry: one per value, in order, shown by its display name. The first entry
    // becomes current and the free value is no longer in force.
    void setup(const TranslatedString &title, const Buffer<String> &values,
               const Buffer<TranslatedString> &displayNames);

    // Selects the entry with this value; any other value becomes the free value, in force,
    // when free values are allowed, and is ignored otherwise.
    void setValue(const String &value);
    // The value in force: the free value, else the selected entry's value, else empty.
    String value() const;

    // Whether values that are not entries are accepted (setValue, typing). Off by default.
    void setAllowsFreeValue(bool allow) { m_allowsFreeValue = allow; }
    bool allowsFreeValue() const noexcept { return m_allowsFreeValue; }

    // Shows the title and the free value again, after options or the editable state changed.
    void refreshWidget();

    // Like QComboBox::setEditable; typing into the box then sets the free value.
    void setEditable(bool editable);

    const TranslatedString &title() const noexcept { return m_title; }
    const Buffer<String> &values() const noexcept { return m_values; }
    const String &freeValue() const noexcept { return m_freeValue; }
    bool isFreeValueInForce() const noexcept { return m_freeValueInForce; }

private:
    void onTextEdited(const QString &text);
    void onIndexChanged(int index);

    TranslatedString m_title;
    Buffer<String> m_values;
    String m_freeValue;
    bool m_freeValueInForce = false;
    bool m_allowsFreeValue = false;
    QPointer<QLineEdit> m_connectedEditor;
};

} // namespace ORVIK
