#include "ctrlgrid/CkBoxCel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

TCheckBoxCell::TCheckBoxCell(QWidget* parent) : QWidget(parent)
{
    resize(16, 16);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_color = palette().color(QPalette::Base);
}

void TCheckBoxCell::SetChecked(bool checked)
{
    const QString text = checked ? QStringLiteral("1") : QStringLiteral("0");
    if (m_text != text)
        m_text = text;
    m_checked = checked;
    update();
}

void TCheckBoxCell::SetText(const QString& text)
{
    m_text = text;
    m_checked = text == QStringLiteral("1");
    update();
}

void TCheckBoxCell::SetCheckColor(const QColor& color)
{
    m_checkColor = color;
    update();
}

void TCheckBoxCell::SetColor(const QColor& color)
{
    m_color = color;
    update();
}

void TCheckBoxCell::SetCtl3D(bool on)
{
    m_ctl3D = on;
    update();
}

void TCheckBoxCell::Click()
{
    SetChecked(!m_checked);
    emit Clicked();
}

QPolygon TCheckBoxCell::CheckMark(const QRect& rect)
{
    const int cx = rect.left() + rect.width() / 2;
    const int cy = rect.top() + rect.height() / 2;
    return QPolygon({QPoint(cx - 4, cy - 2), QPoint(cx - 2, cy), QPoint(cx + 2, cy - 4), QPoint(cx + 3, cy - 3),
                     QPoint(cx - 2, cy + 2), QPoint(cx - 4, cy)});
}

void TCheckBoxCell::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_color);
    const QRect edge = rect().adjusted(0, 0, -1, -1);
    if (m_ctl3D) {
        // A sunken edge: shadow above and left, light below and right.
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawLine(edge.topLeft(), edge.topRight());
        painter.drawLine(edge.topLeft(), edge.bottomLeft());
        painter.setPen(palette().color(QPalette::Light));
        painter.drawLine(edge.bottomLeft(), edge.bottomRight());
        painter.drawLine(edge.topRight(), edge.bottomRight());
    } else {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawRect(edge);
    }
    if (hasFocus()) {
        QPen pen(palette().color(QPalette::Dark), 1, Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(1, 1, -2, -2));
    }
    if (m_checked) {
        const QColor mark = isEnabled() ? m_checkColor : palette().color(QPalette::Button);
        painter.setPen(mark);
        painter.setBrush(mark);
        painter.drawPolygon(CheckMark(rect()));
    }
}

void TCheckBoxCell::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_mouseDown = true;
        setFocus(Qt::MouseFocusReason);
    }
    event->accept();
}

void TCheckBoxCell::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_mouseDown && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_mouseDown = false;
    if (click)
        Click();
    event->accept();
}

void TCheckBoxCell::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        Click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TCheckBoxCell::focusInEvent(QFocusEvent* event)
{
    update();
    QWidget::focusInEvent(event);
}

void TCheckBoxCell::focusOutEvent(QFocusEvent* event)
{
    update();
    QWidget::focusOutEvent(event);
}

void TCheckBoxCell::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
