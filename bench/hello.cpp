// The floor of a Qt command-line program's start: a QCoreApplication that prints one line.
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::puts("hello");
    return 0;
}
