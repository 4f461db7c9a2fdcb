// Writes the program's picture (ProgramIcon.xpm, which the about box shows)
// as a PNG file, the form the desktop's menu takes it in, or as an ICO file
// for the Windows package's shortcut: the format follows the name's suffix.
#include <QGuiApplication>
#include <QImage>

#include "ProgramIcon.xpm"

int main(int argc, char* argv[]) {
    // Image formats other than PNG come from Qt's plugins, which need the
    // application object to be found.
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    return QImage(ProgramIcon_xpm).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
