// Writes the program's picture (ProgramIcon.xpm, which the about box shows)
// as a PNG file, the form the desktop's menu takes it in.
#include <QImage>

#include "ProgramIcon.xpm"

int main(int argc, char* argv[]) {
    if (argc != 2)
        return 2;
    return QImage(ProgramIcon_xpm).save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
