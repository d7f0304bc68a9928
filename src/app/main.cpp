#include <QApplication>
#include <QLabel>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Leafhaul"));
    QLabel window(QObject::tr("Leafhaul moves Backpack pages into Ravadido notebooks."));
    window.setWindowTitle(QStringLiteral("Leafhaul"));
    window.setMargin(40);
    window.show();
    return app.exec();
}
