// Chinese/English switching with the one translator, and the two About boxes.
#include "windowtest.h"

#include "ui_pm2_5.h"
#include "windowtexts.h"

#include <QtTest>

class TestWindowLanguage : public QObject {
    Q_OBJECT

    std::unique_ptr<PM2_5> w;

    BoxSeen Trigger(QAction* action)
    {
        BoxSeen seen;
        ModalCloser closer([&](QWidget* box) { seen = DescribeBox(box); });
        action->trigger();
        return seen;
    }

private slots:
    void init() { w = MakeWindowWithoutSensor(); }
    void cleanup() { w.reset(); }

    void englishTexts()
    {
        w->ui->actionEnglish->trigger();
        QCOMPARE(w->m_Language, 0);
        QCOMPARE(w->windowTitle(), QStringLiteral("Vostral Air Quality Monitor V5.10"));
        QCOMPARE(w->ui->menuExamine->title(), QStringLiteral("Zoom"));
        QCOMPARE(w->ui->actionNodisplay->text(), QStringLiteral("No display"));
        QCOMPARE(w->ui->actionBinary->text(), QStringLiteral("Binary file"));
        QCOMPARE(w->ui->actionBinary->statusTip(), QStringLiteral("Save to bin file"));
        QCOMPARE(w->ui->actionExecl->text(), QStringLiteral("Excel"));
        QCOMPARE(w->ui->menuSetName->title(), QStringLiteral("DeviceInfo"));
        QCOMPARE(w->ui->radioButtonPA->text(), QStringLiteral("Formaldehyde"));
        // Texts that the English catalogue leaves untranslated show their source.
        w->SetCollectState(false);
        QCOMPARE(w->ui->labelType->text(), QStringLiteral("History Data"));
        w->SetCollectState(true);
        QCOMPARE(w->ui->labelType->text(), QStringLiteral("Current Data"));
    }

    void backToChinese()
    {
        w->ui->actionEnglish->trigger();
        w->ui->actionChinese->trigger();
        QCOMPARE(w->m_Language, 1);
        QCOMPARE(w->windowTitle(), QStringLiteral("Vostral空气质量检测仪 V5.10"));
        QCOMPARE(w->ui->menuExamine->title(), QStringLiteral("缩放"));
        QCOMPARE(w->ui->actionTime_zoom_in->statusTip(), QStringLiteral("放大时间轴，即放大x轴"));
        w->SetCollectState(false);
        QCOMPARE(w->ui->labelType->text(), QStringLiteral("历史数据"));
        QCOMPARE(w->ui->actionCollection->text(), QStringLiteral("开始采集"));
        // Choosing the active language again runs the same steps.
        w->ui->actionChinese->trigger();
        QCOMPARE(w->m_Language, 1);
        QCOMPARE(w->ui->labelType->text(), QStringLiteral("实时数据"));
    }

    // Any switch puts the state texts back to the form's translated defaults; the next
    // collection switch and the next reading bring the state back.
    void switchResetsStateTexts_data()
    {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("realData");
        QTest::addColumn<QString>("stopCollect");
        QTest::newRow("to English") << true << "Real Data" << "Stop Collect";
        QTest::newRow("to Chinese") << false << "实时数据" << "停止采集";
    }

    void switchResetsStateTexts()
    {
        QFETCH(bool, english);
        QFETCH(QString, realData);
        QFETCH(QString, stopCollect);
        w->SetCollectState(false);
        w->ui->labelDevType->setText(QStringLiteral("LV51"));
        w->ui->labelState->setText(QStringLiteral("busy"));
        (english ? w->ui->actionEnglish : w->ui->actionChinese)->trigger();
        QCOMPARE(w->ui->labelType->text(), realData);
        QCOMPARE(w->ui->actionCollection->text(), stopCollect);
        QCOMPARE(w->ui->labelDevType->text(), QStringLiteral("AQ33"));
        QCOMPARE(w->ui->labelState->text(), QString());
    }

    void tvocLabelSurvivesSwitch()
    {
        w->m_Plot.mTvocFlag = 1;
        w->ui->radioButtonPA->setText(QStringLiteral("TVOC"));
        w->ui->actionEnglish->trigger();
        QCOMPARE(w->ui->radioButtonPA->text(), QStringLiteral("TVOC"));
        w->ui->actionChinese->trigger();
        QCOMPARE(w->ui->radioButtonPA->text(), QStringLiteral("TVOC"));
    }

    void aboutBoxes_data()
    {
        QTest::addColumn<bool>("english");
        QTest::addColumn<bool>("maker");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("software cn") << false << false << "软件版本" << "Vostral空气质量检测 5.10";
        QTest::newRow("software en") << true << false << "Software version" << "Vostral Air Quality Monitor 5.10";
        QTest::newRow("maker en") << true << true << "About Vostral" << QString::fromUtf8(kMakerContactText);
        QTest::newRow("maker cn") << false << true << "关于Vostral" << "";
    }

    void aboutBoxes()
    {
        QFETCH(bool, english);
        QFETCH(bool, maker);
        QFETCH(QString, title);
        QFETCH(QString, text);
        if (english)
            w->ui->actionEnglish->trigger();
        const BoxSeen seen = Trigger(maker ? w->ui->actionAbout_Vostral : w->ui->actionAbout_Software);
        QCOMPARE(seen.title, title);
        if (!text.isEmpty())
            QCOMPARE(seen.text, text);
        else
            QVERIFY(seen.text.contains(QStringLiteral("邮编：")));
        QCOMPARE(seen.icon, QMessageBox::Information);
        QCOMPARE(seen.buttons, int(QMessageBox::Ok));
        QVERIFY(seen.parentless);
    }
};

QTEST_MAIN(TestWindowLanguage)
#include "test_window_language.moc"
