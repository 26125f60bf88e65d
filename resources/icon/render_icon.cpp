// Renders the program's icon from its SVG at the sizes the icon theme wants:
//   volmar_render_icon SVG OUTDIR NAME SIZE...
// writes OUTDIR/<size>x<size>/apps/NAME.png for each size.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: volmar_render_icon SVG OUTDIR NAME SIZE...\n", stderr);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "volmar_render_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[2]));
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0) {
            std::fprintf(stderr, "volmar_render_icon: not a size: %s\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = out.filePath(folder + QStringLiteral("/%1.png").arg(name));
        if (!out.mkpath(folder) || !image.save(file)) {
            std::fprintf(stderr, "volmar_render_icon: cannot write %s\n", qUtf8Printable(file));
            return 1;
        }
    }
    return 0;
}
