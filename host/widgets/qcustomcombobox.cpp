#include "host/widgets/qcustomcombobox.h"

#include "host/widgets/qstringstream.h"

namespace ORVIK {

QCustomComboBox::QCustomComboBox(QWidget *parent) : QComboBox(parent)
{
    // Typed text is a value of its own; it never becomes an entry.
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::currentIndexChanged, this, &QCustomComboBox::onIndexChanged);
    // Choosing the entry that is already current also withdraws a typed value.
    connect(this, &QComboBox::activated, this, &QCustomComboBox::onIndexChanged);
}

void QCustomComboBox::setup(const TranslatedString &title, const Buffer<String> &values,
                            const Buffer<TranslatedString> &displayNames)
{
    m_title = title;
    m_values = values;
    m_freeValueInForce = false;
    clear();
    for (uint32_t i = 0; i < values.size(); ++i) {
        const String &shown = i < displayNames.size() ? displayNames[i].translation() : values[i];
        addItem(StringStream<QString>::fromString(shown), StringStream<QString>::fromString(values[i]));
    }
    if (count() > 0)
        setCurrentIndex(0);
    refreshWidget();
}

void QCustomComboBox::setValue(const String &value)
{
    for (uint32_t i = 0; i < m_values.size(); ++i) {
        if (m_values[i] == value) {
            setCurrentIndex(static_cast<int>(i));
            m_freeValueInForce = false;
            refreshWidget();
            return;
        }
    }
    if (!m_allowsFreeValue)
        return;
    setCurrentIndex(-1);
    m_freeValue = value;
    m_freeValueInForce = true;
    refreshWidget();
}

String QCustomComboBox::value() const
{
    if (m_freeValueInForce)
        return m_freeValue;
    const int index = currentIndex();
    if (index >= 0 && static_cast<uint32_t>(index) < m_values.size())
        return m_values[static_cast<uint32_t>(index)];
    return m_freeValue;
}

void QCustomComboBox::setEditable(bool editable)
{
    QComboBox::setEditable(editable);
    refreshWidget();
}

void QCustomComboBox::refreshWidget()
{
    const QString title = StringStream<QString>::fromString(m_title.translation());
#if QT_CONFIG(accessibility) // a Qt built without it (as ours for Windows) has no accessible names
    setAccessibleName(title);
#endif
    setToolTip(title);
    QLineEdit *editor = lineEdit();
    if (!editor) {
        // Without an editor a free value in force is what the empty box shows.
        setPlaceholderText(m_freeValueInForce && !m_freeValue.isEmpty() ? StringStream<QString>::fromString(m_freeValue)
                                                                        : title);
        return;
    }
    setPlaceholderText(title);
    editor->setPlaceholderText(title);
    if (m_connectedEditor != editor) {
        connect(editor, &QLineEdit::textEdited, this, &QCustomComboBox::onTextEdited);
        m_connectedEditor = editor;
    }
    if (m_freeValueInForce)
        editor->setText(StringStream<QString>::fromString(m_freeValue));
}

void QCustomComboBox::onTextEdited(const QString &text)
{
    if (!m_allowsFreeValue)
        return;
    m_freeValue = StringStream<QString>::toString(text);
    m_freeValueInForce = true;
}

void QCustomComboBox::onIndexChanged(int index)
{
    if (index >= 0)
        m_freeValueInForce = false;
}

} // namespace ORVIK
