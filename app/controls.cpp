#include "controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>

namespace tarnovid {

namespace {

constexpr int kOutlinePixels = 2;
constexpr qreal kIndicatorCornerRadius = 4.0;

// Fusion paints the palette's button colour as the face everywhere; native styles on Windows and
// macOS ignore it, and the face colour is part of what the buttons say.
QStyle* faceColourStyle() {
    static QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"));
    return style;
}

} // namespace

Label::Label(const QString& text, Rgb textColour, Rgb back, QWidget* parent)
    : QLabel(text, parent) {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, toQColor(back));
    pal.setColor(QPalette::WindowText, toQColor(textColour));
    setPalette(pal);
    setAutoFillBackground(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMargin(0);
    setIndent(0);
    setWordWrap(false);
    setTextFormat(Qt::PlainText);
    setFocusPolicy(Qt::NoFocus);
}

void Label::mousePressEvent(QMouseEvent* event) {
    // A caption owns its box: the press must not fall through to the LED panel underneath.
    event->accept();
}

Shape::Shape(Form form, Rgb back, Rgb outline, QWidget* parent)
    : QWidget(parent)
    , form_(form)
    , back_(back)
    , outline_(outline) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void Shape::SetBackColor(Rgb colour) {
    if (colour == back_)
        return;
    back_ = colour;
    update();
}

QRectF Shape::figureRect() const {
    const qreal half = kOutlinePixels / 2.0;
    QRectF box = QRectF(rect()).adjusted(half, half, -half, -half);
    if (form_ == Form::Circle) {
        const qreal d = std::min(box.width(), box.height());
        box = QRectF(box.center().x() - d / 2, box.center().y() - d / 2, d, d);
    }
    return box;
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(toQColor(outline_), kOutlinePixels));
    p.setBrush(toQColor(back_));
    if (form_ == Form::Circle)
        p.drawEllipse(figureRect());
    else
        p.drawRoundedRect(figureRect(), kIndicatorCornerRadius, kIndicatorCornerRadius);
}

Line::Line(QPoint from, QPoint to, Rgb colour, int widthPixels, QWidget* parent)
    : QWidget(parent)
    , colour_(colour) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    // The line is centred on its end points: a 2-pixel line covers the pixel row above and the
    // row of its coordinate, and reaches one pixel past each end so frame corners close.
    const int before = widthPixels / 2;
    const int after = widthPixels - before;
    const QRect box = QRect(from, to).normalized();
    setGeometry(box.adjusted(-before, -before, after - 1, after - 1));
}

void Line::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), toQColor(colour_));
}

Button::Button(const QString& caption, Rgb face, QWidget* parent)
    : QPushButton(caption, parent) {
    if (QStyle* style = faceColourStyle())
        setStyle(style);
    QPalette pal = palette();
    pal.setColor(QPalette::Button, toQColor(face));
    setPalette(pal);
    setFocusPolicy(Qt::StrongFocus);
    setAutoDefault(false);
}

StatusBox::StatusBox(Rgb textColour, Rgb back, QWidget* parent)
    : QLineEdit(parent) {
    QPalette pal = palette();
    pal.setColor(QPalette::Base, toQColor(back));
    pal.setColor(QPalette::Text, toQColor(textColour));
    setPalette(pal);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setFrame(true);
    setFocusPolicy(Qt::StrongFocus);
}

} // namespace tarnovid
