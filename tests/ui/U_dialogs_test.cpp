// The dialogs' logic: the directory dialog's check boxes and the mask, its
// labels and its help button, the settings dialog's values (the wizard
// flag shown disabled, readable sizes), and the parameter dialog.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "ui/U_DlgDirAttr.h"
#include "ui/U_DlgSetting.h"
#include "ui/U_frmParamDlg.h"

using namespace corvane;

class DialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void dirDialogLoadsTheMask_data() {
        QTest::addColumn<uint>("mask");
        QTest::addColumn<QString>("boxes");  // any, r, h, s, d
        QTest::newRow("63 is any file") << 63u << "11111";
        QTest::newRow("default mask") << 58u << "00101";
        QTest::newRow("read-only and system") << 5u << "01010";
        QTest::newRow("none") << 0u << "00000";
    }

    void dirDialogLoadsTheMask() {
        QFETCH(uint, mask);
        QFETCH(QString, boxes);
        TDirDialogValues v = DirDialogValuesFrom(TFileDirOption{mask, true, "/p", "*.c"});
        QString got = QString("%1%2%3%4%5")
                          .arg(v.anyFile)
                          .arg(v.readOnly)
                          .arg(v.hidden)
                          .arg(v.system)
                          .arg(v.directory);
        QCOMPARE(got, boxes);
        QCOMPARE(v.path, std::string("/p"));
        QCOMPARE(v.filter, std::string("*.c"));
        QVERIFY(v.subDirs);
    }

    void dirDialogWritesTheMask_data() {
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<uint>("mask");
        QTest::newRow("any file wins") << "10000" << 63u;
        QTest::newRow("sum of the boxes") << "01111" << 23u;
        QTest::newRow("hidden alone") << "00100" << 2u;
        QTest::newRow("nothing") << "00000" << 0u;
    }

    void dirDialogWritesTheMask() {
        QFETCH(QString, boxes);
        QFETCH(uint, mask);
        TDirDialogValues v;
        v.anyFile = boxes[0] == '1';
        v.readOnly = boxes[1] == '1';
        v.hidden = boxes[2] == '1';
        v.system = boxes[3] == '1';
        v.directory = boxes[4] == '1';
        v.path = "/q";
        v.filter = "a?";
        TFileDirOption o;
        ApplyDirDialogValues(v, o);
        QCOMPARE(o.attrMask, mask);
        QCOMPARE(o.path, std::string("/q"));
        QCOMPARE(o.nameMask, std::string("a?"));
        QVERIFY(!o.subDirs);
    }

    void dirDialogFormRoundTrips() {
        TfrmDlgDirOption dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("目录"));
        TDirDialogValues v = DirDialogValuesFrom(TFileDirOption{21, true, "/x y", "*.txt"});
        dialog.Load(v);
        TDirDialogValues back = dialog.Values();
        QCOMPARE(back.path, v.path);
        QCOMPARE(back.filter, v.filter);
        QCOMPARE(back.readOnly, true);
        QCOMPARE(back.system, true);
        QCOMPARE(back.directory, true);
        QCOMPARE(back.hidden, false);
        QCOMPARE(back.subDirs, true);
    }

    // Every listing control goes into the form and comes back, and the
    // record the dialog writes formats to the table text it was read from.
    void dirDialogListingControlsRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << "\"/data /s/ah/ad\"";
        QTest::newRow("depths") << "\"/data /ah/ad /maxdepth:3 /mindepth:2\"";
        QTest::newRow("depth 0") << "\"/data /ah/ad /maxdepth:0\"";
        QTest::newRow("switches") << "\"/data /s/all /xdev /gitignore /follow\"";
        QTest::newRow("excludes")
            << "\"/data/*.c /s/ah/ad /exclude:**/node_modules /exclude:build/ /exclude:*.o\"";
        QTest::newRow("archive is kept") << "\"/data /ah/ad /maxdepth:1 /archive\"";
    }
    void dirDialogListingControlsRoundTrip() {
        QFETCH(QString, text);
        TFileDirOption option;
        QVERIFY(ParseDirOption(text.toStdString(), option));
        TfrmDlgDirOption dialog;
        dialog.Load(DirDialogValuesFrom(option));
        TFileDirOption back = option;
        ApplyDirDialogValues(dialog.Values(), back);
        QCOMPARE(QString::fromStdString(FormatDirOption(back)), text);
    }

    void dirDialogWritesTheListingControls() {
        TDirDialogValues v;
        v.path = "/q";
        v.maxDepth = 2;
        v.minDepth = 1;
        v.oneFileSystem = v.gitIgnore = v.followLinks = true;
        v.excludes = "  a/**  *.tmp\tb/ ";
        TFileDirOption o;
        o.archives = true;
        ApplyDirDialogValues(v, o);
        QCOMPARE(o.maxDepth.value_or(99), 2u);
        QCOMPARE(o.minDepth, 1u);
        QVERIFY(o.oneFileSystem && o.gitIgnore && o.followLinks && o.archives);
        QCOMPARE(o.excludes, (std::vector<std::string>{"a/**", "*.tmp", "b/"}));
        v.maxDepth = -1;
        v.minDepth = 0;
        v.excludes.clear();
        ApplyDirDialogValues(v, o);
        QVERIFY(!o.maxDepth.has_value());
        QCOMPARE(o.minDepth, 0u);
        QVERIFY(o.excludes.empty());
        // The spin boxes say "不限" for no limit.
        TfrmDlgDirOption dialog;
        dialog.Load(v);
        QCOMPARE(dialog.findChild<QSpinBox*>("spn_maxDepth")->text(), QStringLiteral("不限"));
        QCOMPARE(dialog.findChild<QSpinBox*>("spn_minDepth")->text(), QStringLiteral("不限"));
    }

    void dirDialogLabelsAndItsHelpButton() {
        TfrmDlgDirOption dialog;
        QStringList boxes;
        for (QCheckBox* box : dialog.findChildren<QCheckBox*>())
            boxes << box->text();
        QCOMPARE(boxes, (QStringList{"readonly", "Hidden", "Directory", "SysFile", "AnyFile",
                                     "SubDir", "Filter:", "xdev", "gitignore", "follow"}));
        auto* help = dialog.findChild<QPushButton*>("btn_help");
        QVERIFY(help);
        QCOMPARE(help->text(), QStringLiteral("&Help"));
        QVERIFY(!help->isEnabled());  // nothing to open
        int opened = 0;
        dialog.SetHelp([&] { ++opened; });
        QVERIFY(help->isEnabled());
        help->click();
        QCOMPARE(opened, 1);
        QVERIFY(!dialog.isVisible());
    }

    void settingsFormLimitsTheCount() {
        TFrmSetting dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("设置"));
        TSettings s;
        s.defaultDir = "/d";
        s.recentCount = 9;
        s.autoLast = false;
        dialog.Load(s);
        TSettings back = dialog.Values();
        QCOMPARE(back.recentCount, 6);
        QCOMPARE(back.defaultDir, std::string("/d"));
        QVERIFY(!back.autoLast);
        QVERIFY(back.useExpert);
        QVERIFY(!back.humanSizes);
        s.humanSizes = true;
        s.useExpert = false;
        dialog.Load(s);
        QVERIFY(dialog.Values().humanSizes);
        QVERIFY(!dialog.Values().useExpert);  // kept as stored
        // The wizard has no function: shown, but disabled with a reason.
        auto* wizard = dialog.findChild<QCheckBox*>("chkExpert");
        QVERIFY(!wizard->isEnabled());
        QCOMPARE(wizard->toolTip(), QStringLiteral("此选项目前没有作用"));
    }

    void paramFormShowsTheDescribedLayout() {
        Tfrm_paramDlg dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("参数设置"));
        QCOMPARE(dialog.size(), QSize(366, 424));
        auto* grid = dialog.findChild<QTableWidget*>("paramlist");
        QCOMPARE(grid->horizontalHeaderItem(0)->text(), QStringLiteral("参数名称"));
        QCOMPARE(grid->horizontalHeaderItem(1)->text(), QStringLiteral("参数值"));
        QCOMPARE(grid->columnWidth(0), 109);
        QCOMPARE(grid->columnWidth(1), 248);
        auto* ok = dialog.findChild<QPushButton*>("BitBtn1");
        auto* cancel = dialog.findChild<QPushButton*>("BitBtn2");
        QCOMPARE(ok->text(), QStringLiteral("确定(&O)"));
        QCOMPARE(cancel->text(), QStringLiteral("取消(&C)"));
        QCOMPARE(ok->geometry(), QRect(85, 392, 75, 25));
        QCOMPARE(cancel->geometry(), QRect(205, 392, 75, 25));
    }

    void paramFormReturnsTheEditedTexts() {
        TParamTexts params{{"a", "0"}, {"b", "0"}};
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<Tfrm_paramDlg*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto* grid = dialog->findChild<QTableWidget*>("paramlist");
            grid->item(1, 1)->setText("42");
            QTest::keyClick(grid, Qt::Key_Return);  // Enter in the grid confirms
        });
        QVERIFY(ShowParamForm(params));
        QCOMPARE(params, (TParamTexts{{"a", "0"}, {"b", "42"}}));
    }

    void paramFormCancelKeepsTheValues() {
        TParamTexts params{{"a", "1"}};
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<Tfrm_paramDlg*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->findChild<QTableWidget*>("paramlist")->item(0, 1)->setText("9");
            dialog->findChild<QPushButton*>("BitBtn2")->click();
        });
        QVERIFY(!ShowParamForm(params));
        QCOMPARE(params, (TParamTexts{{"a", "1"}}));
        TParamTexts none;
        QVERIFY(ShowParamForm(none));  // nothing to ask
    }
};

QTEST_MAIN(DialogsTest)
#include "U_dialogs_test.moc"
