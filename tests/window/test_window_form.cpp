// The form of the main window as it stands right after start-up without a sensor.
#include "windowtest.h"

#include "grecorddatapro.h"
#include "ui_pm2_5.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaMethod>
#include <QRadioButton>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>
#include <qwt_plot.h>

class TestWindowForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<PM2_5> w;
    QList<BoxSeen> boxes;

    template <class T>
    T* Child(const char* name)
    {
        return w->findChild<T*>(QLatin1String(name));
    }

    QStringList EntryNames(const QList<QAction*>& actions)
    {
        QStringList names;
        for (QAction* a : actions)
            names << (a->isSeparator() ? QStringLiteral("|") : a->menu() ? a->menu()->objectName() : a->objectName());
        return names;
    }

private slots:
    void initTestCase()
    {
        Vostral_InitResources();
        bool windowHiddenDuringBox = false;
        ModalCloser closer([&](QWidget* box) {
            boxes.append(DescribeBox(box));
            windowHiddenDuringBox = true;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (qobject_cast<PM2_5*>(top) && top->isVisible())
                    windowHiddenDuringBox = false;
        });
        w = std::make_unique<PM2_5>();
        QVERIFY(windowHiddenDuringBox);
    }

    void warnsOnceWhenNoSensor()
    {
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QStringLiteral("设备打开失败"));
        QCOMPARE(boxes[0].text, QStringLiteral("请检查硬件连接"));
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes[0].buttons, int(QMessageBox::Ok));
        QVERIFY(boxes[0].parentless);
    }

    void windowItself()
    {
        QCOMPARE(w->objectName(), QStringLiteral("PM2_5"));
        QCOMPARE(w->windowModality(), Qt::NonModal);
        QVERIFY(w->isEnabled());
        QCOMPARE(w->size(), QSize(1060, 716));
        QCOMPARE(w->windowTitle(), QStringLiteral("Vostral空气质量检测仪 V5.10"));
        QCOMPARE(w->m_Language, 1);
        QCOMPARE(w->m_SeriesCount, 0);
        QCOMPARE(w->m_CurChannel, 0);
        QCOMPARE(w->m_Identified, 0);
        QCOMPARE(w->m_HisInterval, 0);
        QVERIFY(w->m_TimerId != 0);
        QVERIFY(w->m_Plot.mTitleDate.isValid());
    }

    void widgetsByNameClassAndFont_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<int>("pointSize");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QString>("text");
        const QString ug = QStringLiteral("<html><head/><body><p><span style=\" font-size:11pt;\">ug/m</span>"
                                          "<span style=\" font-size:11pt; vertical-align:super;\">3  </span></p></body></html>");
        const QString mg = QStringLiteral("<html><head/><body><p><span style=\" font-size:11pt;\">mg/m</span>"
                                          "<span style=\" font-size:11pt; vertical-align:super;\">3</span></p></body></html>");
        QTest::newRow("labelDevType") << "labelDevType" << "QLabel" << 14 << false << "AQ33";
        QTest::newRow("labelType") << "labelType" << "QLabel" << 12 << true << "实时数据";
        QTest::newRow("radioButtonPM25") << "radioButtonPM25" << "QRadioButton" << 11 << false << "PM2.5";
        QTest::newRow("lineEditValue") << "lineEditValue" << "QLineEdit" << 11 << true << "";
        QTest::newRow("label_3") << "label_3" << "QLabel" << 11 << false << ug;
        QTest::newRow("labelPM10") << "labelPM10" << "QLabel" << 11 << false << "PM10";
        QTest::newRow("lineEditPM10Value") << "lineEditPM10Value" << "QLineEdit" << 11 << true << "";
        QTest::newRow("labelPM10Unit") << "labelPM10Unit" << "QLabel" << 11 << false << ug;
        QTest::newRow("radioButtonPA") << "radioButtonPA" << "QRadioButton" << 11 << false << "甲醛";
        QTest::newRow("lineEditPAValue") << "lineEditPAValue" << "QLineEdit" << 11 << true << "";
        QTest::newRow("label_2") << "label_2" << "QLabel" << 11 << false << mg;
        QTest::newRow("labelState") << "labelState" << "QLabel" << 12 << true << "";
    }

    void widgetsByNameClassAndFont()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(int, pointSize);
        QFETCH(bool, bold);
        QFETCH(QString, text);
        QWidget* widget = w->findChild<QWidget*>(name);
        QVERIFY(widget);
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        QCOMPARE(widget->font().pointSize(), pointSize);
        QCOMPARE(widget->font().bold(), bold);
        QCOMPARE(widget->property("text").toString(), text);
        QCOMPARE(widget->parentWidget(), w->centralWidget());
    }

    void layoutsAndPlot()
    {
        QCOMPARE(w->centralWidget()->objectName(), QStringLiteral("centralWidget"));
        auto* v = qobject_cast<QVBoxLayout*>(w->centralWidget()->layout());
        QVERIFY(v);
        QCOMPARE(v->objectName(), QStringLiteral("verticalLayout_2"));
        QCOMPARE(v->spacing(), 6);
        QCOMPARE(v->contentsMargins(), QMargins(11, 11, 11, 11));
        QCOMPARE(v->count(), 3);
        QCOMPARE(v->itemAt(0)->widget(), w->ui->labelDevType);
        QCOMPARE(v->itemAt(1)->layout()->objectName(), QStringLiteral("horizontalLayout"));
        QCOMPARE(v->itemAt(2)->layout()->objectName(), QStringLiteral("horizontalLayout_3"));

        // The row of values, left to right, spacers included.
        QLayout* row = v->itemAt(1)->layout();
        QCOMPARE(row->spacing(), 6);
        QStringList order;
        for (int i = 0; i < row->count(); ++i) {
            QLayoutItem* item = row->itemAt(i);
            if (QSpacerItem* s = item->spacerItem())
                order << QStringLiteral("spacer%1").arg(s->sizeHint().width());
            else
                order << item->widget()->objectName();
        }
        QCOMPARE(order, QStringList({"spacer400", "labelType", "spacer50", "radioButtonPM25", "lineEditValue",
                                     "label_3", "labelPM10", "lineEditPM10Value", "labelPM10Unit", "radioButtonPA",
                                     "lineEditPAValue", "label_2", "labelState"}));

        QLayout* plotRow = v->itemAt(2)->layout();
        QCOMPARE(plotRow->count(), 1);
        auto* plot = qobject_cast<QwtPlot*>(plotRow->itemAt(0)->widget());
        QVERIFY(plot);
        QCOMPARE(plot, w->ui->qwtPlot);
        QCOMPARE(plot->objectName(), QStringLiteral("qwtPlot"));
    }

    void menusInOrder()
    {
        QCOMPARE(w->menuBar()->objectName(), QStringLiteral("menuBar"));
        QCOMPARE(w->menuBar()->geometry(), QRect(0, 0, 1060, 23));
        QCOMPARE(EntryNames(w->menuBar()->actions()),
                 QStringList({"menuFile", "menuExamine", "menuDisplay", "menuSetName", "menuCollection", "menuAbout"}));
        QCOMPARE(EntryNames(w->ui->menuFile->actions()), QStringList({"menuSave", "actionOpen", "actionExit"}));
        QCOMPARE(EntryNames(w->ui->menuSave->actions()), QStringList({"actionBinary", "actionExecl"}));
        QCOMPARE(EntryNames(w->ui->menuExamine->actions()), QStringList({"actionTime_zoom_in", "actionTime_zoom_out"}));
        // Without a sensor: no device items.
        QCOMPARE(EntryNames(w->ui->menuDisplay->actions()), QStringList({"actionDisplay_all", "actionNodisplay"}));
        QVERIFY(w->ui->menuSetName->actions().isEmpty());
        QVERIFY(w->m_DeviceActions.isEmpty());
        QVERIFY(w->m_SetDeviceActions.isEmpty());
        QCOMPARE(EntryNames(w->ui->menuCollection->actions()),
                 QStringList({"actionCollection", "actionCollect_historical_data", "actionClear_history_data"}));
        QCOMPARE(EntryNames(w->ui->menuAbout->actions()),
                 QStringList({"menuLanguage", "actionAbout_Vostral", "actionAbout_Software"}));
        QCOMPARE(EntryNames(w->ui->menuLanguage->actions()), QStringList({"actionChinese", "actionEnglish"}));

        QCOMPARE(w->ui->menuFile->title(), QStringLiteral("文件"));
        QCOMPARE(w->ui->menuExamine->title(), QStringLiteral("缩放"));
        QCOMPARE(w->ui->menuSetName->title(), QStringLiteral("设备信息"));
        QCOMPARE(w->ui->menuAbout->title(), QStringLiteral("帮助"));
    }

    void toolbarAndStatusBar()
    {
        QCOMPARE(w->ui->mainToolBar->objectName(), QStringLiteral("mainToolBar"));
        QCOMPARE(w->toolBarArea(w->ui->mainToolBar), Qt::TopToolBarArea);
        QCOMPARE(EntryNames(w->ui->mainToolBar->actions()),
                 QStringList({"actionExecl", "actionOpen", "actionExit", "|", "actionTime_zoom_in",
                              "actionTime_zoom_out", "|", "actionCollection"}));
        QCOMPARE(w->statusBar()->objectName(), QStringLiteral("statusBar"));
    }

    void actions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("statusTip");
        QTest::addColumn<bool>("hasIcon");
        QTest::newRow("Exit") << "actionExit" << "退出" << "退出" << true;
        QTest::newRow("Chinese") << "actionChinese" << "汉语" << "翻译为中文" << true;
        QTest::newRow("English") << "actionEnglish" << "英语" << "翻译成英文" << true;
        QTest::newRow("Open") << "actionOpen" << "打开" << "打开记录" << true;
        QTest::newRow("Display all") << "actionDisplay_all" << "全部显示" << "继续读取当前值" << true;
        QTest::newRow("zoom in") << "actionTime_zoom_in" << "时间放大" << "放大时间轴，即放大x轴" << true;
        QTest::newRow("zoom out") << "actionTime_zoom_out" << "时间缩小" << "缩小时间轴，即缩小x轴" << true;
        QTest::newRow("About Software") << "actionAbout_Software" << "关于软件" << "" << false;
        QTest::newRow("Nodisplay") << "actionNodisplay" << "取消显示" << "" << true;
        QTest::newRow("Collection") << "actionCollection" << "停止采集" << "设置采集状态" << true;
        QTest::newRow("history") << "actionCollect_historical_data" << "采集历史数据" << "" << false;
        QTest::newRow("Binary") << "actionBinary" << "二进制文件" << "保存为二进制文件" << true;
        QTest::newRow("About Vostral") << "actionAbout_Vostral" << "关于Vostral" << "" << false;
        QTest::newRow("Excel") << "actionExecl" << "Excel" << "" << true;
        QTest::newRow("Clear") << "actionClear_history_data" << "清除历史数据" << "" << false;
    }

    void actions()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, statusTip);
        QFETCH(bool, hasIcon);
        auto* a = w->findChild<QAction*>(name);
        QVERIFY(a);
        QCOMPARE(a->parent(), w.get());
        QCOMPARE(a->text(), text);
        QCOMPARE(a->statusTip(), statusTip);
        QCOMPARE(a->icon().isNull(), !hasIcon);
        if (hasIcon) // the resource really is there and drawn at both sizes
            QVERIFY(!a->icon().pixmap(32, 32).isNull());
    }

    void initialStates()
    {
        QVERIFY(w->ui->actionCollection->isCheckable());
        QVERIFY(w->ui->actionCollection->isChecked());
        QVERIFY(!w->ui->actionCollect_historical_data->isCheckable());
        QVERIFY(w->ui->actionCollect_historical_data->isEnabled());
        QVERIFY(!w->ui->actionClear_history_data->isEnabled());
        QVERIFY(w->ui->radioButtonPM25->isChecked());
        QVERIFY(!w->ui->radioButtonPA->isChecked());
        // No sensor: two channels (the type is unknown), formaldehyde shown, PM10 hidden.
        QVERIFY(w->m_RecordData);
        QCOMPARE(g_RecordData, w->m_RecordData);
        QCOMPARE(w->m_ChannelCount, 2);
        QVERIFY(w->ui->labelPM10->isHidden());
        QVERIFY(w->ui->lineEditPM10Value->isHidden());
        QVERIFY(w->ui->labelPM10Unit->isHidden());
        QVERIFY(!w->ui->radioButtonPA->isHidden());
        QVERIFY(!w->ui->lineEditPAValue->isHidden());
        QVERIFY(!w->ui->label_2->isHidden());
        QCOMPARE(w->m_Plot.mPlot, w->ui->qwtPlot);
    }

    // Slots keep their meta-object order; the form's actions reach them by name.
    void slotsInOrder()
    {
        const QStringList expected = {
            "on_actionExit_triggered()", "on_actionBinary_triggered()", "on_actionOpen_triggered()",
            "on_actionChinese_triggered()", "on_actionEnglish_triggered()", "on_actionTime_zoom_in_triggered()",
            "on_actionTime_zoom_out_triggered()", "my_actionDevice1_triggered()", "my_actionSetDevice1_triggered()",
            "on_actionAbout_Software_triggered()", "on_actionDisplay_all_triggered()",
            "on_actionNodisplay_triggered()", "on_actionCollection_triggered()",
            "on_actionCollect_historical_data_triggered()", "on_radioButtonPM25_clicked()",
            "on_radioButtonPA_clicked()", "on_actionAbout_Vostral_triggered()", "on_actionExecl_triggered()",
            "on_actionClear_history_data_triggered()", "FileExcelToStr(QString)"};
        const QMetaObject* mo = w->metaObject();
        QStringList seen;
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
            if (mo->method(i).methodType() == QMetaMethod::Slot)
                seen << QString::fromLatin1(mo->method(i).methodSignature());
        QCOMPARE(seen, expected);
    }

    void exitReleasesChannelsAndCloses()
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->ui->actionExit->trigger();
        QVERIFY(!w->isVisible());
        QVERIFY(!w->m_RecordData);
        QVERIFY(!g_RecordData);
        QVERIFY(w->m_Plot.mCurves.isEmpty());
        w.reset(); // the destructor releases again and finds nothing
        QVERIFY(!g_RecordData);
    }
};

QTEST_MAIN(TestWindowForm)
#include "test_window_form.moc"
