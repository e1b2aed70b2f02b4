#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kernwell"));
    QLabel window(QStringLiteral("Kernwell"));
    window.show();
    return QApplication::exec();
}
