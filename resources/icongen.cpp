// Draws every icon of the program at build time, each at 32 px and at 64 px (the "@2x" file that
// QIcon picks up on high-DPI screens), the message-box symbols also at 128 px ("@4x"). All
// drawings are made here with QPainter on a 32-unit grid.
//
// Usage: vostral-icongen <output folder>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <functional>

namespace {

using Drawing = std::function<void(QPainter&)>;

QPen Outline(const QColor& color, qreal width = 1.0)
{
    QPen pen(color, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

QPolygonF Star(QPointF centre, qreal outer, qreal rotationDeg = -90)
{
    QPolygonF star;
    const qreal inner = outer * 0.382;
    for (int i = 0; i < 10; ++i) {
        const qreal r = (i % 2) ? inner : outer;
        const qreal a = qDegreesToRadians(rotationDeg + i * 36.0);
        star << QPointF(centre.x() + r * qCos(a), centre.y() + r * qSin(a));
    }
    return star;
}

// An open door in its frame with an arrow leaving through it.
void DrawExit(QPainter& p)
{
    p.setPen(Outline(QColor(70, 45, 25), 1.5));
    p.setBrush(QColor(60, 60, 70));
    p.drawRect(QRectF(4.5, 3.5, 14, 25)); // dark doorway
    QPolygonF door;
    door << QPointF(4.5, 3.5) << QPointF(12.5, 6.5) << QPointF(12.5, 31) << QPointF(4.5, 28.5);
    p.setBrush(QColor(190, 130, 70));
    p.drawPolygon(door);
    p.setBrush(QColor(250, 220, 90));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(10.8, 17.5), 1.1, 1.1); // knob
    QPolygonF arrow;
    arrow << QPointF(14, 13.5) << QPointF(22, 13.5) << QPointF(22, 8.5) << QPointF(30.5, 16)
          << QPointF(22, 23.5) << QPointF(22, 18.5) << QPointF(14, 18.5);
    p.setPen(Outline(QColor(120, 10, 10), 1.2));
    p.setBrush(QColor(220, 40, 40));
    p.drawPolygon(arrow);
}

// Red field, one large and four small golden stars.
void DrawChina(QPainter& p)
{
    const QRectF field(1.5, 6.5, 29, 19);
    p.setPen(Outline(QColor(120, 0, 0), 1.0));
    p.setBrush(QColor(222, 41, 16));
    p.drawRoundedRect(field, 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 222, 0));
    p.drawPolygon(Star(QPointF(7.5, 12.5), 4.2));
    const QPointF small[] = {{13.5, 8.8}, {15.6, 11.3}, {15.6, 14.6}, {13.5, 17.0}};
    for (const QPointF& c : small)
        p.drawPolygon(Star(c, 1.5, qRadiansToDegrees(qAtan2(12.5 - c.y(), 7.5 - c.x()))));
}

// Blue field with the white and red crosses and diagonals of the UK flag.
void DrawUk(QPainter& p)
{
    const QRectF field(1.5, 6.5, 29, 19);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(1, 33, 105));
    p.drawRect(field);
    p.save();
    p.setClipRect(field);
    p.setPen(QPen(Qt::white, 4.5));
    p.drawLine(field.topLeft(), field.bottomRight());
    p.drawLine(field.bottomLeft(), field.topRight());
    p.setPen(QPen(QColor(200, 16, 46), 1.5));
    p.drawLine(field.topLeft(), field.bottomRight());
    p.drawLine(field.bottomLeft(), field.topRight());
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(12.5, 6.5, 7, 19));
    p.drawRect(QRectF(1.5, 12.5, 29, 7));
    p.setBrush(QColor(200, 16, 46));
    p.drawRect(QRectF(14, 6.5, 4, 19));
    p.drawRect(QRectF(1.5, 14, 29, 4));
    p.restore();
    p.setPen(Outline(QColor(0, 20, 60), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(field);
}

// A folder with its front flap swung open.
void DrawOpen(QPainter& p)
{
    QPolygonF back;
    back << QPointF(2.5, 7.5) << QPointF(11, 7.5) << QPointF(13.5, 10.5) << QPointF(26.5, 10.5)
         << QPointF(26.5, 26.5) << QPointF(2.5, 26.5);
    p.setPen(Outline(QColor(140, 95, 10), 1.2));
    p.setBrush(QColor(225, 170, 50));
    p.drawPolygon(back);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6, 12.5, 17, 8)); // a sheet inside
    QPolygonF flap;
    flap << QPointF(7.5, 15.5) << QPointF(30.5, 15.5) << QPointF(26.5, 26.5) << QPointF(2.5, 26.5);
    p.setPen(Outline(QColor(140, 95, 10), 1.2));
    p.setBrush(QColor(250, 210, 90));
    p.drawPolygon(flap);
}

void DrawEyeShape(QPainter& p, const QColor& iris)
{
    QPainterPath eye;
    eye.moveTo(2, 16);
    eye.quadTo(16, 2, 30, 16);
    eye.quadTo(16, 30, 2, 16);
    p.setPen(Outline(QColor(40, 40, 40), 1.6));
    p.setBrush(Qt::white);
    p.drawPath(eye);
    p.setPen(Qt::NoPen);
    p.setBrush(iris);
    p.drawEllipse(QPointF(16, 16), 6, 6);
    p.setBrush(QColor(20, 20, 20));
    p.drawEllipse(QPointF(16, 16), 2.6, 2.6);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(14.2, 14.2), 1.1, 1.1); // highlight
}

void DrawEye(QPainter& p) { DrawEyeShape(p, QColor(40, 150, 70)); }

void DrawCrossedEye(QPainter& p)
{
    DrawEyeShape(p, QColor(130, 130, 130));
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5, 27), QPointF(27, 5));
    p.setPen(QPen(QColor(210, 30, 30), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5, 27), QPointF(27, 5));
}

void DrawMagnifier(QPainter& p, bool plus)
{
    p.setPen(QPen(QColor(90, 60, 30), 4.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(20.5, 20.5), QPointF(28.5, 28.5)); // handle
    p.setPen(Outline(QColor(60, 60, 70), 2.2));
    p.setBrush(QColor(200, 230, 250));
    p.drawEllipse(QPointF(13, 13), 9.5, 9.5);
    p.setPen(QPen(QColor(20, 70, 160), 2.6, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(8, 13), QPointF(18, 13));
    if (plus)
        p.drawLine(QPointF(13, 8), QPointF(13, 18));
}

void DrawZoomIn(QPainter& p) { DrawMagnifier(p, true); }
void DrawZoomOut(QPainter& p) { DrawMagnifier(p, false); }

// A floppy disk: body with a clipped corner, metal shutter and a paper label.
void DrawFloppy(QPainter& p)
{
    QPolygonF body;
    body << QPointF(3.5, 3.5) << QPointF(25, 3.5) << QPointF(28.5, 7) << QPointF(28.5, 28.5)
         << QPointF(3.5, 28.5);
    p.setPen(Outline(QColor(15, 30, 70), 1.2));
    p.setBrush(QColor(40, 80, 170));
    p.drawPolygon(body);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 205, 215));
    p.drawRect(QRectF(9, 3.5, 13, 8.5)); // shutter
    p.setBrush(QColor(40, 80, 170));
    p.drawRect(QRectF(17, 5, 3, 5.5)); // shutter window
    p.setBrush(Qt::white);
    p.drawRect(QRectF(7, 16, 18, 11)); // label
    p.setPen(QPen(QColor(150, 160, 180), 1));
    p.drawLine(QPointF(9, 19.5), QPointF(23, 19.5));
    p.drawLine(QPointF(9, 23.5), QPointF(23, 23.5));
}

// A spreadsheet page: green heading row and column, grid of cells.
void DrawSheet(QPainter& p)
{
    const QRectF page(3.5, 3.5, 25, 25);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(page);
    p.setBrush(QColor(30, 120, 60));
    p.drawRect(QRectF(3.5, 3.5, 25, 5));
    p.drawRect(QRectF(3.5, 3.5, 6, 25));
    p.setPen(QPen(QColor(120, 160, 130), 1));
    for (qreal y = 13.5; y < 28; y += 5)
        p.drawLine(QPointF(9.5, y), QPointF(28.5, y));
    for (qreal x = 16.5; x < 28; x += 6)
        p.drawLine(QPointF(x, 8.5), QPointF(x, 28.5));
    p.setPen(Outline(QColor(20, 80, 40), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(page);
}

void DrawPause(QPainter& p)
{
    p.setPen(Outline(QColor(20, 50, 120), 1.0));
    p.setBrush(QColor(50, 110, 210));
    p.drawRoundedRect(QRectF(7.5, 5.5, 6, 21), 1.5, 1.5);
    p.drawRoundedRect(QRectF(18.5, 5.5, 6, 21), 1.5, 1.5);
}

void DrawPlay(QPainter& p)
{
    QPolygonF triangle;
    triangle << QPointF(8.5, 5.5) << QPointF(27, 16) << QPointF(8.5, 26.5);
    p.setPen(Outline(QColor(20, 100, 30), 1.2));
    p.setBrush(QColor(50, 170, 70));
    p.drawPolygon(triangle);
}

// The message boxes' symbols. Qt's own fallbacks are 32 px bitmaps that turn blocky on a
// high-DPI screen wherever the desktop's icon theme does not supply them.

// A yellow warning triangle with an exclamation mark.
void DrawWarning(QPainter& p)
{
    QPainterPath triangle;
    triangle.moveTo(16, 2.5);
    triangle.lineTo(30.5, 28.5);
    triangle.lineTo(1.5, 28.5);
    triangle.closeSubpath();
    p.setPen(Outline(QColor(120, 90, 0), 1.6));
    p.setBrush(QColor(250, 205, 30));
    p.drawPath(triangle);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 30));
    QPolygonF bar;
    bar << QPointF(14.2, 10) << QPointF(17.8, 10) << QPointF(17, 21) << QPointF(15, 21);
    p.drawPolygon(bar);
    p.drawEllipse(QPointF(16, 24.6), 1.9, 1.9);
}

void DrawRoundSign(QPainter& p, const QColor& fill, const QColor& rim)
{
    QRadialGradient shade(QPointF(12, 10), 18);
    shade.setColorAt(0, fill.lighter(135));
    shade.setColorAt(1, fill);
    p.setPen(Outline(rim, 1.4));
    p.setBrush(shade);
    p.drawEllipse(QPointF(16, 16), 14, 14);
}

// A blue disc with a white "i".
void DrawInformation(QPainter& p)
{
    DrawRoundSign(p, QColor(40, 110, 200), QColor(15, 55, 120));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 9.2), 2.2, 2.2);
    p.drawRoundedRect(QRectF(14.1, 13, 3.8, 12.5), 0.8, 0.8);
}

// A blue disc with a white question mark.
void DrawQuestion(QPainter& p)
{
    DrawRoundSign(p, QColor(40, 110, 200), QColor(15, 55, 120));
    QPainterPath hook;
    hook.moveTo(11.5, 12);
    hook.cubicTo(11.5, 6.5, 20.5, 6.5, 20.5, 12);
    hook.cubicTo(20.5, 15.5, 16, 15.5, 16, 19.5);
    p.setPen(QPen(Qt::white, 3.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 24.5), 2.1, 2.1);
}

// The program: a rounded tile with drifting particles and a concentration curve.
void DrawApplication(QPainter& p)
{
    QLinearGradient sky(0, 1, 0, 31);
    sky.setColorAt(0, QColor(70, 170, 200));
    sky.setColorAt(1, QColor(20, 90, 130));
    p.setPen(Outline(QColor(10, 60, 90), 1.0));
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 170));
    const QPointF particles[] = {{8, 8}, {14, 6}, {22, 9}, {26, 6}, {18, 12}};
    for (const QPointF& c : particles)
        p.drawEllipse(c, 1.4, 1.4);
    QPolygonF curve;
    curve << QPointF(5, 24) << QPointF(10, 19) << QPointF(14, 22) << QPointF(19, 14) << QPointF(23, 18)
          << QPointF(27, 12);
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(curve);
    p.setPen(QPen(QColor(255, 255, 255, 120), 1));
    p.drawLine(QPointF(5, 27.5), QPointF(27, 27.5));
}

QImage Render(const Drawing& draw, int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    draw(p);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

void Put16(QByteArray& b, quint16 v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}

void Put32(QByteArray& b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

// Qt's BMP writer drops the alpha channel; a 32-bit bitfield BMP with a version-4 header keeps
// it, so the toolbar icons stored as .bmp are transparent around their drawing too.
bool SaveBmpWithAlpha(const QImage& image, const QString& path)
{
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    const quint32 headerSize = 108;
    const quint32 pixelBytes = quint32(img.width()) * quint32(img.height()) * 4;
    QByteArray b;
    b.append("BM");
    Put32(b, 14 + headerSize + pixelBytes);
    Put32(b, 0);
    Put32(b, 14 + headerSize);
    Put32(b, headerSize);
    Put32(b, quint32(img.width()));
    Put32(b, quint32(img.height())); // positive: bottom-up rows
    Put16(b, 1);
    Put16(b, 32);
    Put32(b, 3); // BI_BITFIELDS
    Put32(b, pixelBytes);
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0x00FF0000); // red mask
    Put32(b, 0x0000FF00); // green mask
    Put32(b, 0x000000FF); // blue mask
    Put32(b, 0xFF000000); // alpha mask
    Put32(b, 0x73524742); // "sRGB"
    b.append(QByteArray(36 + 12, '\0')); // endpoints and gamma, unused for sRGB
    for (int y = img.height() - 1; y >= 0; --y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            Put32(b, row[x]);
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}

bool Save(const QImage& img, const QString& path)
{
    if (path.endsWith(QLatin1String(".bmp")))
        return SaveBmpWithAlpha(img, path);
    return img.save(path, "PNG");
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const struct {
        const char* base;
        const char* suffix;
        Drawing draw;
    } icons[] = {
        {"exit", ".png", DrawExit},          {"china", ".png", DrawChina},
        {"uk", ".png", DrawUk},              {"open", ".png", DrawOpen},
        {"enable", ".png", DrawEye},         {"enlarge", ".png", DrawZoomIn},
        {"reduce", ".png", DrawZoomOut},     {"disable", ".png", DrawCrossedEye},
        {"save", ".png", DrawFloppy},        {"Execl", ".bmp", DrawSheet},
        {"Pause", ".bmp", DrawPause},        {"Play", ".bmp", DrawPlay},
        {"vostral-monitor", ".png", DrawApplication},
        {"msg-warning", ".png", DrawWarning}, {"msg-information", ".png", DrawInformation},
        {"msg-question", ".png", DrawQuestion},
    };
    for (const auto& icon : icons) {
        const QString base = QString::fromLatin1(icon.base);
        const QString suffix = QString::fromLatin1(icon.suffix);
        if (!Save(Render(icon.draw, 32), out.filePath(base + suffix)) ||
            !Save(Render(icon.draw, 64), out.filePath(base + QLatin1String("@2x") + suffix)))
            return 1;
    }
    // The message boxes ask for about 48 px (more on a dense screen); at 200 % a 128 px drawing
    // is scaled down to the box's size instead of a smaller one being scaled up.
    const struct {
        const char* base;
        Drawing draw;
    } symbols[] = {{"msg-warning", DrawWarning}, {"msg-information", DrawInformation}, {"msg-question", DrawQuestion}};
    for (const auto& symbol : symbols) {
        if (!Save(Render(symbol.draw, 128), out.filePath(QLatin1String(symbol.base) + QLatin1String("@4x.png"))))
            return 1;
    }
    // A large rendering of the program icon, for the window icon on large screens.
    return Save(Render(DrawApplication, 256), out.filePath(QStringLiteral("vostral-monitor-256.png"))) ? 0 : 1;
}
