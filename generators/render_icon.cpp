// render_icon SIZE OUTPUT.png: writes Lensbay's window icon, drawn in code, as a PNG file for the
// desktop's icon theme, so that the installed icon is always the one the windows show.
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "panel/qt/app_icon.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Usage: render_icon SIZE OUTPUT.png\n");
        return 1;
    }
    char* end = nullptr;
    const long size = std::strtol(argv[1], &end, 10);
    if (*argv[1] == '\0' || *end != '\0' || size < 8 || size > 512) {
        std::fprintf(stderr, "render_icon: SIZE must be a whole number from 8 to 512, not '%s'\n",
                     argv[1]);
        return 1;
    }
    const QImage icon = panel::qt::LensbayIconImage(static_cast<int>(size));
    if (icon.isNull() || !icon.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "render_icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
