// A check box for a grid cell: a small focusable square that shows a check
// mark when checked. Its text mirrors the state ("1" checked, "0" not), so
// the grid moves it between the cell and the control like any other text.
#pragma once

#include <QColor>
#include <QPolygon>
#include <QString>
#include <QWidget>

class TCheckBoxCell : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
    Q_PROPERTY(QColor CheckColor READ CheckColor WRITE SetCheckColor)
    Q_PROPERTY(QString text READ Text WRITE SetText)
public:
    explicit TCheckBoxCell(QWidget* parent = nullptr);

    bool Checked() const { return m_checked; }
    // Writes the text only when it differs from "1" or "0" for the state.
    void SetChecked(bool checked);
    QColor CheckColor() const { return m_checkColor; }
    void SetCheckColor(const QColor& color);
    QColor Color() const { return m_color; }
    void SetColor(const QColor& color);
    // A sunken edge with the 3D look, a plain border without.
    bool Ctl3D() const { return m_ctl3D; }
    void SetCtl3D(bool on);

    QString Text() const { return m_text; }
    // Any text is kept; the box is checked exactly when it is "1".
    void SetText(const QString& text);

    // Toggles the state, then signals Clicked.
    void Click();

    // The check mark: six points around the centre of `rect`.
    static QPolygon CheckMark(const QRect& rect);

signals:
    void Clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_text = QStringLiteral("0");
    bool m_checked = false;
    bool m_ctl3D = true;
    bool m_mouseDown = false;
    QColor m_checkColor = Qt::black;
    QColor m_color;
};
