#pragma once

#include "host/base/stringview.h"
#include "host/base/translatedstring.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QPushButton>

#include <functional>

namespace ORVIK {

// A push button that runs a callback, with itself as argument, when the user activates it
// (click, keyboard, or click()). setChecked changes the state without running the callback.
class ORVIKWIDGETS_EXPORT Button : public QPushButton
{
    Q_OBJECT
public:
    using Callback = std::function<void(Button *)>;

    // The look of the button.
    enum ButtonState {
        Normal = 0,
        Accent = 1,  // the main action: drawn in the palette's highlight colour
        Warning = 2, // a destructive action: drawn in a red tone
        Latching = 3 // a toggle-style button: drawn in the highlight colour while checked
    };

    explicit Button(QWidget *parent = nullptr);
    Button(const TranslatedString &text, const StringView &icon, Callback callback, QWidget *parent = nullptr);

    // Sets the text, the icon by name (empty for none) and the callback.
    void setup(const TranslatedString &text, const StringView &icon, Callback callback);

    void setButtonState(ButtonState state);
    ButtonState buttonState() const noexcept { return m_state; }
    const TranslatedString &translatedText() const noexcept { return m_text; }

protected:
    // When the callback runs: on activation (buttons) or on every change of the checked state (switches).
    enum class Trigger { Activation, StateChange };
    Button(Trigger trigger, QWidget *parent);

private:
    void runCallback();
    void applyLook();

    Callback m_callback;
    TranslatedString m_text;
    ButtonState m_state = Normal;
};

} // namespace ORVIK
