#pragma once
// The kinds of control the window is made of. Shapes and lines are drawn elements that take no
// input, so a press on them reaches the window; labels swallow their own presses.

#include "colours.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace tarnovid {

// Opaque caption with a fixed text colour, single line, anchored at its top-left corner.
class Label : public QLabel {
    Q_OBJECT
public:
    Label(const QString& text, Rgb textColour, Rgb back, QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// An LED (circle) or input indicator (rounded rectangle): a 2-pixel outline around an opaque
// interior whose colour is the shape's state.
class Shape : public QWidget {
    Q_OBJECT
public:
    enum class Form { Circle, RoundedRect };
    Shape(Form form, Rgb back, Rgb outline, QWidget* parent);

    Rgb BackColor() const { return back_; }
    void SetBackColor(Rgb colour);
    Form form() const { return form_; }
    // The outline's rectangle in widget coordinates: the circle or rounded rectangle itself.
    QRectF figureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Form form_;
    Rgb back_;
    Rgb outline_;
};

// A horizontal or vertical frame line of a given pixel width between two points.
class Line : public QWidget {
    Q_OBJECT
public:
    Line(QPoint from, QPoint to, Rgb colour, int widthPixels, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Rgb colour_;
};

// Push button whose face is painted in its own colour on every platform.
class Button : public QPushButton {
    Q_OBJECT
public:
    Button(const QString& caption, Rgb face, QWidget* parent);
};

// Single-line status box with its own background and text colour.
class StatusBox : public QLineEdit {
    Q_OBJECT
public:
    StatusBox(Rgb textColour, Rgb back, QWidget* parent);
};

} // namespace tarnovid
