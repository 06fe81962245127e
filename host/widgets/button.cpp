#include "host/widgets/button.h"

#include "host/widgets/iconprovider.h"
#include "host/widgets/qstringstream.h"

#include <QApplication>

namespace ORVIK {

Button::Button(QWidget *parent) : Button(Trigger::Activation, parent)
{}

Button::Button(const TranslatedString &text, const StringView &icon, Callback callback, QWidget *parent)
    : Button(Trigger::Activation, parent)
{
    setup(text, icon, std::move(callback));
}

Button::Button(Trigger trigger, QWidget *parent) : QPushButton(parent)
{
    if (trigger == Trigger::Activation)
        connect(this, &QAbstractButton::clicked, this, &Button::runCallback);
    else
        connect(this, &QAbstractButton::toggled, this, &Button::runCallback);
    connect(this, &QAbstractButton::toggled, this, &Button::applyLook);
}

void Button::setup(const TranslatedString &text, const StringView &icon, Callback callback)
{
    m_text = text;
    m_callback = std::move(callback);
    setText(StringStream<QString>::fromString(text.translation()));
    setIcon(IconProvider::icon(icon, style()));
}

void Button::setButtonState(ButtonState state)
{
    m_state = state;
    applyLook();
}

void Button::runCallback()
{
    // A copy: the callback may replace itself through setup().
    if (Callback callback = m_callback)
        callback(this);
}

void Button::applyLook()
{
    // Only the roles set here are ours; every other role is inherited from the parent.
    const QPalette inherited = parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
    QPalette look;
    if (m_state == Accent || (m_state == Latching && isChecked())) {
        look.setColor(QPalette::Button, inherited.color(QPalette::Highlight));
        look.setColor(QPalette::ButtonText, inherited.color(QPalette::HighlightedText));
    } else if (m_state == Warning) {
        look.setColor(QPalette::Button, QColor(0xd9, 0x53, 0x4f));
        look.setColor(QPalette::ButtonText, Qt::white);
    }
    setPalette(look);
}

} // namespace ORVIK
