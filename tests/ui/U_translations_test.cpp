// Qt's own texts in Chinese: the buttons of the standard message boxes and
// the file dialog's captions once the translations are installed.
#include <QDialogButtonBox>
#include <QPushButton>
#include <QtTest>

#include "ui/U_translations.h"

using namespace corvane;

class TranslationsTest : public QObject {
    Q_OBJECT

  private slots:
    void standardButtonsSpeakChinese() {
        QVERIFY2(InstallQtTranslations(*QCoreApplication::instance()),
                 "qt6-translations-l10n is not installed");
        QDialogButtonBox buttons(QDialogButtonBox::Yes | QDialogButtonBox::No |
                                 QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Yes)->text().remove(u'&'),
                 QStringLiteral("是(Y)"));
        QCOMPARE(buttons.button(QDialogButtonBox::No)->text().remove(u'&'),
                 QStringLiteral("否(N)"));
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text().remove(u'&'),
                 QStringLiteral("取消"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"),
                 QStringLiteral("查找范围："));
    }
};

QTEST_MAIN(TranslationsTest)
#include "U_translations_test.moc"
