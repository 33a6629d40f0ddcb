// The floor for startup and memory figures: one empty, fixed-size window the size of the tool's
// client area, and nothing else. Whatever the real program costs above this is its own doing.
// With --caption the window also shows one line of bold text, which is what it takes for Qt to
// bring up fontconfig and FreeType: the floor for any window that shows text at all.

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("floor"));
    window.setFixedSize(447, 326);
    if (QApplication::arguments().contains(QStringLiteral("--caption"))) {
        auto* caption = new QLabel(QStringLiteral("USB Tarnovid"), &window);
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(11);
        font.setWeight(QFont::Bold);
        caption->setFont(font);
        caption->move(24, 24);
    }
    window.show();
    return app.exec();
}
