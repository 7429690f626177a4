// The directory tree: aliases, column nodes, hints, generated statements
// and drag texts.
#include <QAbstractItemModelTester>
#include <QtTest>

#include "ui/U_dirTree.h"
#include "ui_test_support.h"

using namespace corvane;
using corvane::test::S;

namespace {

TFileDirOption Dir(const std::string& path, const std::string& mask = "*", uint32_t attr = 63,
                   bool sub = false) {
    TFileDirOption o;
    o.path = path;
    o.nameMask = mask;
    o.attrMask = attr;
    o.subDirs = sub;
    return o;
}

}  // namespace

class DirTreeTest : public QObject {
    Q_OBJECT
    TColumnMaps columns;

  private slots:
    void aliasesAreReusedAfterADelete() {
        TDirTreeModel tree(columns, {}, {});
        QAbstractItemModelTester tester(&tree,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < 3; ++i)
            tree.AddTable(Dir("/tmp"));
        QCOMPARE(tree.Table(0).alias, std::string("a"));
        QCOMPARE(tree.Table(1).alias, std::string("b"));
        QCOMPARE(tree.Table(2).alias, std::string("c"));
        tree.RemoveTable(1);
        tree.AddTable(Dir("/tmp"));
        QCOMPARE(tree.TableCount(), 3);
        QCOMPARE(tree.Table(2).alias, std::string("b"));
    }

    void anUpperCaseAliasTakesItsLetter() {
        TDirTreeModel tree(columns, {}, {});
        tree.AddTable(Dir("/tmp"), "A");
        tree.AddTable(Dir("/tmp"), "xy");
        QCOMPARE(tree.NextAlias(), std::string("b"));
    }

    void allLettersTakenGivesZ() {
        TDirTreeModel tree(columns, {}, {});
        for (char c = 'a'; c <= 'z'; ++c)
            tree.AddTable(Dir("/tmp"), std::string(1, c));
        QCOMPARE(tree.NextAlias(), std::string("z"));
    }

    void aDirectoryNodeHasFifteenColumnNodesAndItsPathAsHint() {
        TDirTreeModel tree(columns, {}, {});
        QModelIndex node = tree.AddTable(Dir("/data/x"));
        QCOMPARE(tree.data(tree.RootIndex()).toString(), QStringLiteral("root"));
        QCOMPARE(tree.rowCount(node), 15);
        QCOMPARE(tree.index(0, 0, node).data().toString(), QStringLiteral("目录(path)"));
        QCOMPARE(tree.index(14, 0, node).data().toString(), QStringLiteral("文本数据(data)"));
        QCOMPARE(node.data(Qt::ToolTipRole).toString(), QStringLiteral("/data/x"));
        QVERIFY(!tree.index(0, 0, node).data(Qt::ToolTipRole).isValid());
        QVERIFY(!tree.RootIndex().data(Qt::ToolTipRole).isValid());
        QCOMPARE(tree.KindOf(node), TDirTreeModel::nkTable);
        QCOMPARE(tree.KindOf(tree.index(3, 0, node)), TDirTreeModel::nkColumn);
        QCOMPARE(tree.TableRowOf(tree.index(3, 0, node)), 0);
    }

    void generateScript_data() {
        QTest::addColumn<int>("node");  // -1 root, 1 table b, 100+k column k of table a
        QTest::addColumn<QString>("script");
        // {a}, {b}, {c}: the table texts FormatDirOption makes of the three
        // directories.
        QTest::newRow("root lists every alias and table in tree order")
            << -1 << QStringLiteral("select a.*,b.*,c.*\nfrom {a} a,{b} b,{c} c");
        QTest::newRow("directory node") << 1 << QStringLiteral("select * \nfrom {b} b");
        QTest::newRow("column node") << 101 << QStringLiteral("select filename\nfrom {a} a");
    }

    void generateScript() {
        QFETCH(int, node);
        QFETCH(QString, script);
        TDirTreeModel tree(columns, {}, {});
        tree.AddTable(Dir("/d1", "*.txt", 1, true));
        tree.AddTable(Dir("/d2/", "", 63));
        tree.AddTable(Dir("/d3", "*", 0));
        QModelIndex index = node < 0     ? tree.RootIndex()
                            : node < 100 ? tree.TableIndex(node)
                                         : tree.index(node - 100, 0, tree.TableIndex(0));
        for (int t = 0; t < 3; ++t)
            script.replace(QStringLiteral("{%1}").arg(QChar('a' + t)),
                           QString::fromStdString(FormatDirOption(tree.Table(t).option)));
        QCOMPARE(QString::fromStdString(tree.ScriptFor(index)), script);
    }

    void nothingSelectedGeneratesNothing() {
        TDirTreeModel tree(columns, {}, {});
        QCOMPARE(tree.ScriptFor(QModelIndex()), std::string());
        QCOMPARE(tree.DuplicateScriptFor(QModelIndex()), std::string());
    }

    void duplicateReportOnlyForADirectoryNode() {
        TDirTreeModel tree(columns, {}, {});
        tree.AddTable(Dir("/d1", "*.txt", 1, true));
        QCOMPARE(tree.DuplicateScriptFor(tree.RootIndex()), std::string());
        QCOMPARE(tree.DuplicateScriptFor(tree.index(0, 0, tree.TableIndex(0))), std::string());
        QCOMPARE(tree.DuplicateScriptFor(tree.TableIndex(0)),
                 "select xxh128(path, filename) h, count(*) n, sum(size) bytes\nfrom " +
                     FormatDirOption(tree.Table(0).option) +
                     " a\nwhere size > 0\ngroup by h having n > 1\norder by bytes desc");
    }

    void dragText_data() {
        QTest::addColumn<int>("node");
        QTest::addColumn<bool>("expanded");
        QTest::addColumn<QString>("text");
        QTest::newRow("collapsed directory gives its alias") << 0 << false << QStringLiteral(" a ");
        QTest::newRow("expanded directory gives its column names")
            << 0 << true
            << QStringLiteral(
                   " path,filename,extension,shortName,version,size,attri,count,"
                   "creationTime,lastAccessTime,lastWriteTime,isdir,hidden,readonly,data ");
        QTest::newRow("column gives alias.column") << 105 << false << QStringLiteral(" a.size ");
        QTest::newRow("root gives nothing") << -1 << false << QString();
    }

    void dragText() {
        QFETCH(int, node);
        QFETCH(bool, expanded);
        QFETCH(QString, text);
        TDirTreeModel tree(columns, {}, {});
        tree.AddTable(Dir("/d1"));
        QModelIndex index = node < 0     ? tree.RootIndex()
                            : node < 100 ? tree.TableIndex(node)
                                         : tree.index(node - 100, 0, tree.TableIndex(0));
        QCOMPARE(QString::fromStdString(tree.DragTextFor(index, expanded)), text);
    }

    void columnNameOfANodeText() {
        QCOMPARE(ColumnOfNodeText("最后写入时间(lastWriteTime)"), std::string("lastWriteTime"));
        QCOMPARE(ColumnOfNodeText("no parenthesis"), std::string());
    }

    void editingKeepsAliasAndColumns() {
        TDirTreeModel tree(columns, {}, {});
        tree.AddTable(Dir("/old"), "q");
        tree.SetOption(0, Dir("/new", "*.c", 16, true));
        QCOMPARE(tree.Table(0).alias, std::string("q"));
        QCOMPARE(tree.Table(0).option.path, std::string("/new"));
        QCOMPARE(tree.rowCount(tree.TableIndex(0)), 15);
        QCOMPARE(tree.TableIndex(0).data(Qt::ToolTipRole).toString(), QStringLiteral("/new"));
    }
};

QTEST_MAIN(DirTreeTest)
#include "U_dirTree_test.moc"
