// Draws the program's icons (placeholder shapes until the real drawings land).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QDir>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const char* names[] = {"exit.png", "china.png", "uk.png", "open.png", "enable.png", "enlarge.png",
                           "reduce.png", "disable.png", "save.png", "Execl.bmp", "Pause.bmp", "Play.bmp",
                           "vostral-monitor.png"};
    int hue = 0;
    for (const char* name : names) {
        QImage img(32, 32, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setBrush(QColor::fromHsv(hue, 200, 220));
        p.drawEllipse(4, 4, 24, 24);
        p.end();
        hue = (hue + 27) % 360;
        const QString path = out.filePath(QString::fromLatin1(name));
        if (!img.convertToFormat(path.endsWith(".bmp") ? QImage::Format_RGB32 : QImage::Format_ARGB32).save(path))
            return 1;
    }
    return 0;
}
