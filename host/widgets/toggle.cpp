#include "host/widgets/toggle.h"

#include <QPainter>
#include <QStyle>

namespace ORVIK {

namespace {

constexpr int kSpacing = 6;

} // namespace

Toggle::Toggle(QWidget *parent) : Button(Trigger::StateChange, parent)
{
    setCheckable(true);
    setFlat(true);
}

QSize Toggle::trackSize() const
{
    const int height = fontMetrics().height();
    return {2 * height, height};
}

QSize Toggle::sizeHint() const
{
    const QSize track = trackSize();
    const int textWidth = text().isEmpty() ? 0 : kSpacing + fontMetrics().horizontalAdvance(text());
    const int iconWidth = icon().isNull() ? 0 : kSpacing + iconSize().width();
    return {track.width() + iconWidth + textWidth + 4, std::max(track.height(), fontMetrics().height()) + 6};
}

QSize Toggle::minimumSizeHint() const
{
    return sizeHint();
}

bool Toggle::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

void Toggle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSize size = trackSize();
    const QRectF track(2, (height() - size.height()) / 2.0, size.width(), size.height());
    const QPalette &colours = palette();
    const bool on = isChecked();

    painter.setPen(Qt::NoPen);
    painter.setBrush(on ? colours.color(QPalette::Highlight) : colours.color(QPalette::Mid));
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const qreal knob = track.height() - 4;
    const qreal knobLeft = on ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(isEnabled() ? colours.color(QPalette::Base) : colours.color(QPalette::Window));
    painter.drawEllipse(QRectF(knobLeft, track.top() + 2, knob, knob));

    int left = static_cast<int>(track.right()) + kSpacing;
    if (!icon().isNull()) {
        const QRect iconRect(QPoint(left, (height() - iconSize().height()) / 2), iconSize());
        icon().paint(&painter, iconRect, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
        left = iconRect.right() + kSpacing;
    }
    painter.setPen(colours.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(QRect(left, 0, width() - left, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colours.color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), track.height() / 2, track.height() / 2);
    }
}

} // namespace ORVIK
