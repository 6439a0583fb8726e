// The message boxes show the program's own symbols, drawn for the screen's scale, unless the
// desktop's icon theme has its own; every other standard icon is the wrapped style's.
#include "messageiconstyle.h"
#include "pm2_5.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// The pixels alone: Qt tags images from "@Nx" files and pixmaps from QIcon with a pixel ratio.
QImage Plain(const QImage& image)
{
    QImage plain = image.convertToFormat(QImage::Format_ARGB32);
    plain.setDevicePixelRatio(1);
    return plain;
}

QImage Plain(const QPixmap& pixmap) { return Plain(pixmap.toImage()); }
} // namespace

class TestMessageIcons : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Vostral_InitResources();
        QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps); // as the program does
        MessageIconStyle_Install();
        QVERIFY(dynamic_cast<MessageIconStyle*>(QApplication::style()));
        // The test machine's icon theme must not decide the outcome.
        QIcon::setThemeName(QStringLiteral("no-such-theme"));
    }

    void boxesShowTheOwnDrawingAtTheScreensScale_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("pixmap");
        QTest::addColumn<QString>("drawing");
        QTest::newRow("warning") << int(QMessageBox::Warning) << int(QStyle::SP_MessageBoxWarning)
                                 << QStringLiteral("msg-warning");
        QTest::newRow("information") << int(QMessageBox::Information) << int(QStyle::SP_MessageBoxInformation)
                                     << QStringLiteral("msg-information");
        QTest::newRow("question") << int(QMessageBox::Question) << int(QStyle::SP_MessageBoxQuestion)
                                  << QStringLiteral("msg-question");
    }

    void boxesShowTheOwnDrawingAtTheScreensScale()
    {
        QFETCH(int, icon);
        QFETCH(int, pixmap);
        QFETCH(QString, drawing);
        QMessageBox box(QMessageBox::Icon(icon), QStringLiteral("title"), QStringLiteral("text"));
        const QPixmap shown = box.iconPixmap();
        const qreal ratio = qApp->devicePixelRatio();
        const int logical = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
        // As many image pixels as screen pixels: not a smaller drawing scaled up.
        QCOMPARE(shown.devicePixelRatio(), ratio);
        QCOMPARE(shown.size(), QSize(logical, logical) * ratio);

        // The program's drawing in all its sizes, not Qt's bitmap.
        const QStyle::StandardPixmap sp = QStyle::StandardPixmap(pixmap);
        const QIcon used = box.style()->standardIcon(sp);
        for (int size : {32, 64, 128})
            QVERIFY2(used.availableSizes().contains(QSize(size, size)), qPrintable(QString::number(size)));
        const QImage large(QStringLiteral(":/icons/Icons/%1@4x.png").arg(drawing));
        QCOMPARE(large.size(), QSize(128, 128));
        QCOMPARE(Plain(used.pixmap(QSize(128, 128))), Plain(large));
        const auto* style = static_cast<const QProxyStyle*>(box.style());
        QVERIFY(Plain(style->baseStyle()->standardIcon(sp).pixmap(shown.size())) != Plain(shown));
    }

    // The critical symbol (unused by the program) and every other icon come from the wrapped style.
    void otherIconsAreTheWrappedStyles_data()
    {
        QTest::addColumn<int>("pixmap");
        QTest::newRow("critical") << int(QStyle::SP_MessageBoxCritical);
        QTest::newRow("ok button") << int(QStyle::SP_DialogOkButton);
        QTest::newRow("folder") << int(QStyle::SP_DirIcon);
    }

    void otherIconsAreTheWrappedStyles()
    {
        QFETCH(int, pixmap);
        const auto* style = static_cast<const QProxyStyle*>(QApplication::style());
        const QStyle::StandardPixmap sp = QStyle::StandardPixmap(pixmap);
        const QIcon ours = style->standardIcon(sp);
        const QIcon base = style->baseStyle()->standardIcon(sp);
        QVERIFY(!ours.isNull());
        QCOMPARE(Plain(ours.pixmap(32, 32)), Plain(base.pixmap(32, 32)));
    }

    // A desktop whose icon theme has a warning symbol keeps it: the boxes look like the others.
    void theDesktopsThemeWins()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString themeDir = dir.filePath(QStringLiteral("plain"));
        QVERIFY(QDir().mkpath(themeDir + QStringLiteral("/32x32/status")));
        QFile index(themeDir + QStringLiteral("/index.theme"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=plain\nDirectories=32x32/status\n\n"
                    "[32x32/status]\nSize=32\nType=Fixed\n");
        index.close();
        QImage red(32, 32, QImage::Format_ARGB32);
        red.fill(QColor(255, 0, 0));
        QVERIFY(red.save(themeDir + QStringLiteral("/32x32/status/dialog-warning.png")));

        const QStringList oldPaths = QIcon::themeSearchPaths();
        QIcon::setThemeSearchPaths(QStringList{dir.path()});
        QIcon::setThemeName(QStringLiteral("plain"));
        const QPixmap warning = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32);
        const QIcon information = QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
        QIcon::setThemeName(QStringLiteral("no-such-theme"));
        QIcon::setThemeSearchPaths(oldPaths);

        const QImage shown = Plain(warning);
        QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(255, 0, 0));
        // The theme lacks the information symbol: the own drawing stands in for it.
        QVERIFY(information.availableSizes().contains(QSize(128, 128)));
    }

    // A style chosen with -style or QT_STYLE_OVERRIDE stays the one the program is drawn in.
    void installKeepsTheChosenStyle()
    {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));
        MessageIconStyle_Install();
        const auto* style = dynamic_cast<const MessageIconStyle*>(QApplication::style());
        QVERIFY(style);
        QCOMPARE(style->baseStyle()->objectName().toLower(), QStringLiteral("windows"));
    }
};

QTEST_MAIN(TestMessageIcons)
#include "test_messageicons.moc"
