#pragma once

#include "host/widgets/button.h"

namespace ORVIK {

// An on/off switch with a label. Its callback runs whenever the state actually changes,
// whether the user flips it or setChecked does, so whatever it controls always matches it.
class ORVIKWIDGETS_EXPORT Toggle : public Button
{
    Q_OBJECT
public:
    explicit Toggle(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    QSize trackSize() const;
};

} // namespace ORVIK
