#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Veltrane"));
    window.resize(536, 439);
    window.show();
    return app.exec();
}
