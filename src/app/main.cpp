#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mailsieve"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Mailsieve"));
    window.resize(640, 400);
    window.show();
    return app.exec();
}
