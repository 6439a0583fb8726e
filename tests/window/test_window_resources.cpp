// The embedded resources: both catalogues translate every text of the program in its context,
// exactly as the Chinese and English interfaces show it; every icon is there at 32 and 64 px.
#include "pm2_5.h"
#include "windowtexts.h"

#include <QIcon>
#include <QImage>
#include <QTranslator>
#include <QtTest>

namespace {

// What the catalogue holds for one source text: a translation, the source text itself, or an
// entry without translation (the source text is then shown).
const char* const kSame = "\x01same";
const char* const kNone = "\x01none";

struct Entry {
    const char* context;
    const char* source;
    const char* chinese;
    const char* english;
};

const char* const kUg = "<html><head/><body><p><span style=\" font-size:11pt;\">ug/m</span><span style=\" "
                        "font-size:11pt; vertical-align:super;\">3  </span></p></body></html>";
const char* const kMg = "<html><head/><body><p><span style=\" font-size:11pt;\">mg/m</span><span style=\" "
                        "font-size:11pt; vertical-align:super;\">3</span></p></body></html>";

const Entry kEntries[] = {
    {"PM2_5", kMg, kNone, kNone},
    {"PM2_5", kUg, kNone, kNone},
    {"PM2_5", "About Vostral", "关于Vostral", kSame},
    {"PM2_5", "About Software", "关于软件", kSame},
    {"PM2_5", "Attention", "注意", kNone},
    {"PM2_5", "Binary", "二进制文件", "Binary file"},
    {"PM2_5", "Chinese", "汉语", kSame},
    {"PM2_5", "Clear history data", "清除历史数据", kSame},
    {"PM2_5", "Clearing history data needs the serial connection.", "清除历史数据需要串口连接。", kSame},
    {"PM2_5", "Clearing success", "清除成功", kSame},
    {"PM2_5", "Collect", "采集", kSame},
    {"PM2_5", "Collect historical data", "采集历史数据", kSame},
    {"PM2_5", "Continue reading the current value", "继续读取当前值", kSame},
    {"PM2_5", "Current Data", "实时数据", kNone},
    {"PM2_5", "DeviceInfo", "设备信息", kSame},
    {"PM2_5", "Display", "显示", kSame},
    {"PM2_5", "Display all", "全部显示", kSame},
    {"PM2_5", "English", "英语", kSame},
    {"PM2_5", "Examine", "缩放", "Zoom"},
    {"PM2_5", "Execl files (*.xls)", "Execl文件 (*.xls)", kSame},
    {"PM2_5", "Exit", "退出", kSame},
    {"PM2_5", "File", "文件", kSame},
    {"PM2_5", "File open failed!", "文件打开失败！", kSame},
    {"PM2_5", "Finish reading history data.", "历史数据读取完成。", kSame},
    {"PM2_5", "Formaldehyde", "甲醛", kSame},
    {"PM2_5", "Help", "帮助", kSame},
    {"PM2_5", "History Data", "历史数据", kNone},
    {"PM2_5", "Language", "语言", kSame},
    {"PM2_5", "Nodisplay", "取消显示", "No display"},
    {"PM2_5", "Vostral Air Quality Monitor 5.10", "Vostral空气质量检测 5.10", kSame},
    {"PM2_5", "Vostral Air Quality Monitor V5.10", "Vostral空气质量检测仪 V5.10", kSame},
    {"PM2_5", "Open", "打开", kSame},
    {"PM2_5", "open device error", "设备打开失败", kNone},
    {"PM2_5", "Open records", "打开记录", kSame},
    {"PM2_5", "Open the file", "打开文件", kSame},
    {"PM2_5", "please check the device is connected!", "请检查硬件连接", kSame},
    {"PM2_5", "Please check the device is connected!", "请检查设备是否连接", kSame},
    {"PM2_5", "PM10", "PM10", kSame},
    {"PM2_5", "PM2.5", "PM2.5", kSame},
    {"PM2_5", "Reading history data...", "正在读取历史数据...", kSame},
    {"PM2_5", "Real Data", "实时数据", kSame},
    {"PM2_5", "Save", "保存", kSame},
    {"PM2_5", "Save the file", "保存文件", kSame},
    {"PM2_5", "Save to bin", "保存为二进制文件", "Save to bin file"},
    {"PM2_5", "Save to text", "保存为文本文件", "Save to text file"},
    {"PM2_5", "AQ33", "AQ33", kSame},
    {"PM2_5", "Set the state of collection", "设置采集状态", kSame},
    {"PM2_5", "Software version", "软件版本", kSame},
    {"PM2_5", "Start Collect", "开始采集", kSame},
    {"PM2_5", "Stop Collect", "停止采集", kSame},
    {"PM2_5", "Str files (*.str)", "Str 文件 (*.str)", kSame},
    {"PM2_5", "Str or excel files (*.str *.xls)", kNone, kNone},
    {"PM2_5", "Sure you want to delete the historical data", "确定要清空历史数据吗", kNone},
    {"PM2_5", "Text", "文本文件", "Text file"},
    {"PM2_5", "Time zoom in", "时间放大", kSame},
    {"PM2_5", "Time zoom out", "时间缩小", kSame},
    {"PM2_5", "Time(x axis) zoom in", "放大时间轴，即放大x轴", kSame},
    {"PM2_5", "Time(x axis) zoom out", "缩小时间轴，即缩小x轴", kSame},
    {"PM2_5", "Translate into Chinese", "翻译为中文", kSame},
    {"PM2_5", "Translate into English", "翻译成英文", kSame},
    {"DeviceInfoDialog", "device name", "设备名：", "Device name："},
    {"DeviceInfoDialog", "DeviceInfo", "设备信息", kSame},
    {"DeviceInfoDialog", "OK", "确定", kSame},
    {"DeviceInfoDialog", "SN", "序列号：", "Serial number："},
    {"DeviceInfoDialog", "TextLabel", kNone, kNone},
    {"QObject", "Formaldehyde mg/m3", "甲醛 mg/m3", kSame},
    {"QObject", "PM2.5  ug/m3", "PM2.5  ug/m3", kSame},
    {"QObject", "PM2.5 ug/m3", "PM2.5 ug/m3", kSame},
    {"QObject", "Time", "时间", kSame},
    {"QObject", "time", "时间", "Time"},
};

} // namespace

class TestWindowResources : public QObject {
    Q_OBJECT

    QTranslator cn;
    QTranslator en;

    void Check(const QTranslator& catalogue, const char* context, const char* source, const char* expected)
    {
        const QString got = catalogue.translate(context, source);
        if (expected == kNone)
            QVERIFY2(got.isEmpty(), qPrintable(QStringLiteral("unexpected translation: ") + got));
        else
            QCOMPARE(got, QString::fromUtf8(expected == kSame ? source : expected));
    }

private slots:
    void initTestCase()
    {
        Vostral_InitResources();
        QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps); // as the program does
        QVERIFY(cn.load(QStringLiteral(":/cn.qm")));
        QVERIFY(en.load(QStringLiteral(":/en.qm")));
    }

    void everyEntryInBothLanguages_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(sizeof kEntries / sizeof kEntries[0]); ++i)
            QTest::newRow(qPrintable(QStringLiteral("%1/%2").arg(kEntries[i].context, QString::fromUtf8(kEntries[i].source).left(40))))
                << i;
    }

    void everyEntryInBothLanguages()
    {
        QFETCH(int, row);
        const Entry& e = kEntries[row];
        Check(cn, e.context, e.source, e.chinese);
        Check(en, e.context, e.source, e.english);
    }

    void dialogCaptionsEndInFullWidthColon()
    {
        for (const QTranslator* t : {&cn, &en})
            for (const char* source : {"SN", "device name"}) {
                const QString caption = t->translate("DeviceInfoDialog", source);
                QVERIFY(caption.endsWith(QChar(0xFF1A)));
                QVERIFY(!caption.contains(QLatin1Char(':')));
            }
    }

    // Texts are looked up in their own context only.
    void contextsAreKeptApart()
    {
        QCOMPARE(cn.translate("PM2_5", "DeviceInfo"), QStringLiteral("设备信息"));
        QVERIFY(cn.translate("QObject", "Exit").isEmpty());
        QVERIFY(cn.translate("DeviceInfoDialog", "Exit").isEmpty());
        QVERIFY(en.translate("PM2_5", "time").isEmpty());
        // "Excel" has no entry anywhere and stays as it is.
        QVERIFY(cn.translate("PM2_5", "Excel").isEmpty());
        QVERIFY(en.translate("PM2_5", "Excel").isEmpty());
    }

    // The About box of the maker: a fictional maker, its contact lines, and in Chinese also the
    // postal address.
    void makerContactBlock()
    {
        const QString source = QString::fromUtf8(kMakerContactText);
        const QString english = en.translate("PM2_5", kMakerContactText);
        const QString chinese = cn.translate("PM2_5", kMakerContactText);
        QCOMPARE(english, source);
        QVERIFY(source.startsWith(QStringLiteral("Vostral")));
        for (const char* part : {"Web site:", "Contact:", "Telephone:", "Fax:", "E-mail:"})
            QVERIFY2(source.contains(QLatin1String(part)), part);
        QVERIFY(source.contains(QStringLiteral(".example.")));
        for (const char* part : {"网址：", "联系人：", "电话：", "传真：", "电子邮件：", "地址：", "邮编："})
            QVERIFY2(chinese.contains(QString::fromUtf8(part)), part);
    }

    void icons_data()
    {
        QTest::addColumn<QString>("path");
        for (const char* name : {"exit.png", "china.png", "uk.png", "open.png", "enable.png", "enlarge.png",
                                 "reduce.png", "disable.png", "save.png", "Execl.bmp", "Pause.bmp", "Play.bmp",
                                 "vostral-monitor.png"})
            QTest::newRow(name) << QStringLiteral(":/icons/Icons/") + QLatin1String(name);
    }

    void icons()
    {
        QFETCH(QString, path);
        const QImage normal(path);
        QCOMPARE(normal.size(), QSize(32, 32));
        QString hiDpi = path;
        hiDpi.insert(hiDpi.lastIndexOf(QLatin1Char('.')), QLatin1String("@2x"));
        const QImage large(hiDpi);
        QCOMPARE(large.size(), QSize(64, 64));
        // Drawn, not blank, and transparent around the drawing (BMP files included).
        QVERIFY(normal.hasAlphaChannel());
        QCOMPARE(qAlpha(normal.pixel(0, 0)), 0);
        int opaque = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                opaque += qAlpha(normal.pixel(x, y)) == 255;
        QVERIFY2(opaque > 100, qPrintable(QString::number(opaque)));
        // On a high-DPI screen (run again with QT_SCALE_FACTOR=2) QIcon finds the 64 px drawing.
        const QIcon icon(path);
        QCOMPARE(icon.availableSizes().contains(QSize(64, 64)), qApp->devicePixelRatio() >= 2);
        if (qApp->devicePixelRatio() >= 2)
            QCOMPARE(icon.pixmap(32, 32).devicePixelRatio(), 2.0);
    }
};

QTEST_MAIN(TestWindowResources)
#include "test_window_resources.moc"
