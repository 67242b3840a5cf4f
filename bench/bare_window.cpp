// The floor of what a Qt window costs, for bench/startup to set the program
// against: a main window with a label and five buttons, nothing else. It runs
// until it is closed or killed.
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QStyleFactory>
#include <QVBoxLayout>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare Qt Window"));
    auto* central = new QWidget(&window);
    auto* column = new QVBoxLayout(central);
    column->addWidget(new QLabel(QStringLiteral("A label"), central));
    auto* row = new QHBoxLayout;
    for (int i = 1; i <= 5; ++i)
        row->addWidget(new QPushButton(QStringLiteral("Button %1").arg(i), central));
    column->addLayout(row);
    window.setCentralWidget(central);
    window.resize(640, 200);
    window.show();
    return QApplication::exec();
}
