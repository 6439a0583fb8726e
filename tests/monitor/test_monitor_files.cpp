// The file commands end to end: the real window with a simulated sensor on the emulated USB bus,
// Qt's own file dialogs answered from a timer, and the files checked on disk. Each test runs in
// a fresh working directory, which has no Data/ folder yet.
#include "monitortest.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(Link)

namespace {

struct TracFree {
    void operator()(_STracFile* t) const { Trac_Destroy(t); }
};
using Trac = std::unique_ptr<_STracFile, TracFree>;

SimReadingSource Ramp()
{
    return SimReadingSource::Ramp({10.0, 15.0, 0.020}, {0.1, 0.3, 0.001}, 2000);
}

QString Stamp()
{
    return QLocale::c().toString(Platform_CurrentDateTime(), QStringLiteral("yyyy-MM-dd hh_mm_ss"));
}

QByteArray Number(double v)
{
    return QByteArray::number(v, 'g', 6);
}

// One data line of a two-value text export.
QByteArray ExportRow(int n, const QString& time, double v1, double v2)
{
    return QByteArray::number(n).leftJustified(5, ' ') + '\t' + time.toLatin1() + '\t' + Number(v1) + "       \t" +
           Number(v2);
}

QList<QByteArray> FileLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList FilesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files);
}

} // namespace

class TestMonitorFiles : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_Dir;
    QString m_OldDir;

    static QString Absolute(const QString& relative) { return QDir::current().absoluteFilePath(relative); }

    // A sensor that has identified itself and sent `readings` (at least 1) readings; the window
    // in English.
    static bool Start(Rig& rig, int readings)
    {
        if (!rig.Ready() || !rig.Settle())
            return false;
        rig.window->on_actionEnglish_triggered();
        for (int i = 1; i < readings; ++i) {
            if (!rig.NextReading())
                return false;
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        Vostral_InitResources();
        m_OldDir = QDir::currentPath();
    }
    void init()
    {
        m_Dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_Dir->isValid());
        QVERIFY(QDir::setCurrent(m_Dir->path()));
    }
    void cleanup()
    {
        QDir::setCurrent(m_OldDir);
        m_Dir.reset();
    }

    // The save dialog proposes a name made of the shown channel, the shown store's source, the
    // device's name and the time, in Data/ (History_Data/ for a history export); the folder is
    // made so that the dialog can open in it.
    void proposedNames_data()
    {
        QTest::addColumn<QByteArray>("device");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("tvoc");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("filter");
        const QString str = QStringLiteral("Str files (*.str)");
        const QString xls = QStringLiteral("Execl files (*.xls)");
        QTest::newRow("live record file") << QByteArray("AQ33") << 0 << 0 << 0 << 0 << "Data/PM25AQ33_%1.str" << str;
        QTest::newRow("live export") << QByteArray("AQ33") << 0 << 0 << 0 << 1 << "Data/PM25AQ33_%1.xls" << xls;
        QTest::newRow("history export") << QByteArray("AQ33") << 0 << 2 << 0 << 1
                                        << "History_Data/PM25DeviceHistoryAQ33_%1.xls" << xls;
        QTest::newRow("history record file") << QByteArray("AQ33") << 0 << 2 << 0 << 0
                                             << "Data/PM25DeviceHistoryAQ33_%1.str" << str;
        QTest::newRow("file export") << QByteArray("AQ33") << 0 << 1 << 0 << 1 << "Data/PM25FileHistory_%1.xls" << xls;
        QTest::newRow("formaldehyde") << QByteArray("AQ33") << 1 << 0 << 0 << 1 << "Data/FormAQ33_%1.xls" << xls;
        QTest::newRow("TVOC history") << QByteArray("AQ33") << 1 << 2 << 1 << 0 << "Data/TVOCDeviceHistoryAQ33_%1.str"
                                      << str;
        // A name is a few raw bytes from the device: it must not lead out of the folder.
        QTest::newRow("name with a slash") << QByteArray("../x") << 0 << 0 << 0 << 0 << "Data/PM25.._x_%1.str" << str;
    }
    void proposedNames()
    {
        QFETCH(QByteArray, device);
        QFETCH(int, channel);
        QFETCH(int, source);
        QFETCH(int, tvoc);
        QFETCH(int, kind);
        QFETCH(QString, expected);
        QFETCH(QString, filter);
        Rig rig(Link::Usb, Sensor(20, device.constData()));
        QVERIFY(Start(rig, 1));
        PM2_5& w = *rig.window;
        w.m_CurChannel = channel;
        w.m_Plot.mTvocFlag = tvoc;
        rig.Channel(channel).SetSource(source, 0);

        ModalScript dialogs;
        dialogs.ChooseFile(QStringLiteral("")); // cancel
        const QString stamp = Stamp();
        QCOMPARE(w.AskSaveFileName(kind, QStringLiteral("Data/")), QString());
        QCOMPARE(StatusText(w), QStringLiteral("File open failed!"));
        QCOMPARE(dialogs.Seen().size(), 1);
        const DialogSeen& seen = dialogs.Seen()[0];
        QCOMPARE(seen.title, QStringLiteral("Save the file"));
        QCOMPARE(seen.proposed, Absolute(expected.arg(stamp)));
        QCOMPARE(seen.folder, QFileInfo(seen.proposed).absolutePath());
        QCOMPARE(seen.filters, QStringList{filter});
        QVERIFY(QFileInfo(seen.folder).isDir());
        QVERIFY(FilesIn(seen.folder).isEmpty());
    }

    // Save to bin in a working directory without Data/: the dialog opens in the new folder, the
    // file holds the live records, and the open command shows it again.
    void recordFileRoundTrip()
    {
        Rig rig(Link::Usb, Sensor(130, "LV51", Ramp()));
        QVERIFY(Start(rig, 3));
        PM2_5& w = *rig.window;
        QVERIFY(!QDir(QStringLiteral("Data")).exists());

        ModalScript dialogs;
        dialogs.ChooseFile(); // the proposed name as it stands
        const QString stamp = Stamp();
        w.ui->actionBinary->trigger();
        QCOMPARE(dialogs.Seen().size(), 1);
        const QString path = Absolute(QStringLiteral("Data/PM25LV51_%1.str").arg(stamp));
        QCOMPARE(dialogs.Seen()[0].proposed, path);
        QCOMPARE(dialogs.Seen()[0].folder, Absolute(QStringLiteral("Data")));
        QCOMPARE(StatusText(w), QString());

        const GRecordDataPro* live = rig.Channel(0).m_pRealTime;
        Trac file(Trac_Create());
        QCOMPARE(Trac_Read(file.get(), QFile::encodeName(path).constData()), live->m_pTrac->used);
        QCOMPARE(file->used, 3);
        QCOMPARE(file->channel, 0);
        QCOMPARE(file->sec_per_record, 1);
        QCOMPARE(qint64(file->start_time), live->m_StartTime.toSecsSinceEpoch());
        for (int i = 0; i < file->used; ++i) {
            const _STracRecord& a = file->records[i];
            const _STracRecord& b = live->m_pTrac->records[i];
            QVERIFY(a.extra1 == b.extra1 && a.extra2 == b.extra2 && a.value1 == b.value1 && a.value2 == b.value2);
        }
        // Saving leaves the live container able to take more.
        QCOMPARE(live->m_pTrac->count, int(kTracCapacity));

        ModalScript open;
        open.ChooseFile(path);
        w.ui->actionOpen->trigger();
        QCOMPARE(open.Seen().size(), 1);
        QCOMPARE(open.Seen()[0].title, QStringLiteral("Open the file"));
        QCOMPARE(open.Seen()[0].folder, Absolute(QStringLiteral("Data")));
        QCOMPARE(open.Seen()[0].filters, QStringList{QStringLiteral("Str or excel files (*.str *.xls)")});
        GRecordChannel& channel = rig.Channel(0);
        QCOMPARE(channel.m_pCurrent, channel.m_pFileData);
        const _SRealData* series = channel.m_pFileData->m_pRealData;
        QCOMPARE(series->m_DataCount, 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(series->m_pValue1[i], double(live->m_pTrac->records[i].value1 / 10));
        QCOMPARE(channel.m_pFileData->m_StartTime.toSecsSinceEpoch(), live->m_StartTime.toSecsSinceEpoch());
        QCOMPARE(w.ui->labelType->text(), QStringLiteral("History Data"));
        QVERIFY(!w.ui->actionBinary->isEnabled());
        // The live store keeps collecting behind the shown file.
        QVERIFY(rig.NextReading());
        QCOMPARE(channel.m_pCurrent, channel.m_pFileData);
    }

    // The text export of the live store and of a downloaded history, line by line; the open
    // command refuses an export (its first line is "Data Count:").
    void textExportLineByLine()
    {
        Rig rig(Link::Usb, Sensor(130, "LV51", Ramp()));
        QVERIFY(Start(rig, 4));
        PM2_5& w = *rig.window;
        const GRecordDataPro* live = rig.Channel(0).m_pRealTime;
        const _SRealData* series = live->m_pRealData;

        ModalScript dialogs;
        dialogs.ChooseFile(QStringLiteral("live.xls"));
        w.ui->actionExecl->trigger();
        QList<QByteArray> expected{"Data Count:4\r", "\r", "number\ttime       \tPM25Value\tPM10Value\t\r"};
        for (int i = 0; i < 4; ++i) {
            const QString time = live->m_StartTime.addSecs(i).toString(QStringLiteral("hh:mm:ss"));
            expected.append(ExportRow(i + 1, time, series->m_pValue1[i], series->m_pValue2[i]) + '\r');
        }
        QCOMPARE(FileLines(QStringLiteral("live.xls")), expected);

        w.ui->actionCollect_historical_data->trigger();
        QCOMPARE(StatusText(w), QStringLiteral("Finish reading history data.288"));
        const std::vector<SimHistoryValue> memory = rig.History();
        ModalScript history;
        history.ChooseFile();
        const QString stamp = Stamp();
        w.ui->actionExecl->trigger();
        const QString path = Absolute(QStringLiteral("History_Data/PM25DeviceHistoryLV51_%1.xls").arg(stamp));
        QCOMPARE(history.Seen().value(0).proposed, path);
        const QList<QByteArray> lines = FileLines(path);
        QCOMPARE(lines.size(), 3 + 288);
        QCOMPARE(lines[0], QByteArray("Data Count:288\r"));
        for (int i = 0; i < 288; ++i) {
            const SimHistoryValue& v = memory[size_t(i)];
            const QString time = QDateTime::fromSecsSinceEpoch(v.time).toString(QStringLiteral("MM.dd hh:mm"));
            QCOMPARE(lines[3 + i], ExportRow(i + 1, time, v.pm25 / 10.0, v.pm10 / 10.0) + '\r');
        }

        GRecordChannel& channel = rig.Channel(0);
        ModalScript open;
        open.ChooseFile(path);
        w.ui->actionOpen->trigger();
        QCOMPARE(StatusText(w), QStringLiteral("File open failed!"));
        QCOMPARE(channel.m_pCurrent, channel.m_pHisData);
        QCOMPARE(channel.m_pFileData->m_pRealData->m_DataCount, 0);
        QVERIFY(!QFile::exists(path + ".tmp.str"));
    }

    // The opened file decides the shown channel; a file for a channel the device does not have
    // is refused, and the window goes back to the particulate channel with its radio button.
    void openFollowsTheFilesChannel_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("fileChannel");
        QTest::addColumn<bool>("opens");
        QTest::newRow("gas file, two channels") << 20 << 1 << true;
        QTest::newRow("particulate file, two channels") << 20 << 0 << true;
        QTest::newRow("gas file, one channel") << 130 << 1 << false;
        QTest::newRow("channel 7") << 20 << 7 << false;
        QTest::newRow("channel -1") << 20 << -1 << false;
    }
    void openFollowsTheFilesChannel()
    {
        QFETCH(int, type);
        QFETCH(int, fileChannel);
        QFETCH(bool, opens);
        Rig rig(Link::Usb, Sensor(type, "ID42", Ramp()));
        QVERIFY(Start(rig, 1));
        PM2_5& w = *rig.window;
        const int shown = w.m_ChannelCount - 1; // the gas channel where there is one
        if (shown == 1)
            w.ui->radioButtonPA->click();
        QCOMPARE(w.m_CurChannel, shown);

        Trac file(Trac_Create());
        QVERIFY(Trac_Alloc(file.get(), 2));
        file->start_time = 1500000000;
        file->sec_per_record = 60;
        Trac_Add(file.get(), 0, 0, 2500, 3000, -1);
        Trac_Add(file.get(), 0, 0, 4999, 6000, -1);
        QVERIFY(Trac_Write(file.get(), "chosen.str", fileChannel) == 2);

        ModalScript dialogs;
        dialogs.ChooseFile(QStringLiteral("chosen.str"));
        w.ui->actionOpen->trigger();
        if (!opens) {
            QCOMPARE(StatusText(w), QStringLiteral("File open failed!"));
            QCOMPARE(w.m_CurChannel, 0);
            QVERIFY(w.ui->radioButtonPM25->isChecked());
            for (int c = 0; c < w.m_ChannelCount; ++c)
                QCOMPARE(rig.Channel(c).m_pCurrent, rig.Channel(c).m_pRealTime);
            return;
        }
        QCOMPARE(w.m_CurChannel, fileChannel);
        QCOMPARE(w.ui->radioButtonPA->isChecked(), fileChannel == 1);
        GRecordChannel& channel = rig.Channel(fileChannel);
        QCOMPARE(channel.m_pCurrent, channel.m_pFileData);
        const _SRealData* series = channel.m_pFileData->m_pRealData;
        QCOMPARE(series->m_DataSecUnit, 60);
        // The channel's scale: particulate in whole ug/m3 (4999 is 499), gas in mg/m3 with its
        // thousandths (4999 is 4.999).
        const bool gas = fileChannel == 1;
        QCOMPARE(series->m_pValue1[0], gas ? 2.5 : 250.0);
        QCOMPARE(series->m_pValue1[1], gas ? 4.999 : 499.0);
        QCOMPARE(w.m_Plot.mTitleDate.toSecsSinceEpoch(), qint64(1500000000 + 2 * 60));
    }

    // A file that cannot be written, or a cancelled dialog, is reported and changes nothing.
    void failedSavesAreReported_data()
    {
        QTest::addColumn<bool>("text");
        QTest::addColumn<QString>("choice");
        QTest::newRow("record file, folder is a file") << false << "plain/x.str";
        QTest::newRow("export, folder is a file") << true << "plain/x.xls";
        QTest::newRow("record file, cancelled") << false << "";
        QTest::newRow("export, cancelled") << true << "";
    }
    void failedSavesAreReported()
    {
        QFETCH(bool, text);
        QFETCH(QString, choice);
        Rig rig(Link::Usb, Sensor(130, "LV51", Ramp()));
        QVERIFY(Start(rig, 2));
        PM2_5& w = *rig.window;
        QFile plain(QStringLiteral("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const _STracFile before = *rig.Channel(0).m_pRealTime->m_pTrac;

        ModalScript dialogs;
        dialogs.ChooseFile(choice);
        (text ? w.ui->actionExecl : w.ui->actionBinary)->trigger();
        QCOMPARE(dialogs.Seen().size(), 1);
        QCOMPARE(StatusText(w), QStringLiteral("File open failed!"));
        const _STracFile& after = *rig.Channel(0).m_pRealTime->m_pTrac;
        QCOMPARE(after.count, before.count);
        QCOMPARE(after.used, before.used);
        QCOMPARE(after.records, before.records);
        QCOMPARE(rig.Channel(0).m_pCurrent, rig.Channel(0).m_pRealTime);
        QVERIFY(FilesIn(QStringLiteral("Data")).isEmpty());
        // The failure is not sticky: the next save works.
        ModalScript again;
        again.ChooseFile(QStringLiteral("ok.str"));
        w.ui->actionBinary->trigger();
        QVERIFY(QFile::exists(QStringLiteral("ok.str")));
    }

    // No sensor, or one that has not identified itself: there is nothing to save, and no dialog.
    // A serial sensor has no device entry before its first answer: a proposed name then simply
    // has no device part.
    void savingWithoutDevice_data()
    {
        QTest::addColumn<Link>("link");
        QTest::newRow("no sensor") << Link::None;
        QTest::newRow("serial sensor not answering") << Link::Serial;
    }
    void savingWithoutDevice()
    {
        QFETCH(Link, link);
        Rig rig(link, Sensor(130, "LV51"), [](SensorModel* m) { m->SetSilent(true); });
        RIG_READY(rig);
        PM2_5& w = *rig.window;
        w.on_actionEnglish_triggered();
        ModalScript dialogs;
        w.ui->actionBinary->trigger();
        QCOMPARE(StatusText(w), QStringLiteral("Please check the device is connected!"));
        w.statusBar()->clearMessage();
        w.ui->actionExecl->trigger();
        QCOMPARE(StatusText(w), QStringLiteral("Please check the device is connected!"));
        QVERIFY(dialogs.Seen().isEmpty());

        QCOMPARE(w.m_CodeUsb.DeviceCount(), 0);
        dialogs.ChooseFile(QStringLiteral(""));
        const QString stamp = Stamp();
        w.AskSaveFileName(0, QStringLiteral("Data/"));
        QCOMPARE(dialogs.Seen().value(0).proposed, Absolute(QStringLiteral("Data/PM25_%1.str").arg(stamp)));
    }
};

QTEST_MAIN(TestMonitorFiles)
#include "test_monitor_files.moc"
