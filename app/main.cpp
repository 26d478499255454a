// Umbrascope: shows cloud shadows passing over a small power network. Reads its three input files
// from the working folder on the first click of READ COORDINATES.

#include <QApplication>
#include <QLocale>

#include "app/form1.hpp"
#include "core/text.hpp"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QString point = QLocale::system().decimalPoint();
    if (!point.isEmpty())
        umbrascope::set_decimal_separator(point.toUcs4().value(0, U'.'));
    umbrascope::Form1 window;
    window.show();
    return QApplication::exec();
}
