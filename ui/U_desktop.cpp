// U_desktop: see U_desktop.h.
#include "ui/U_desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

#include "ui/U_DlgDirAttr.h"
#include "ui/U_DlgSetting.h"

namespace corvane {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

TAnswer TMessagePrompt::Ask(const std::string& title, const std::string& text, bool withCancel) {
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No;
    if (withCancel) buttons |= QMessageBox::Cancel;
    switch (QMessageBox::question(parent_, Q(title), Q(text), buttons,
                                  withCancel ? QMessageBox::Cancel : QMessageBox::No)) {
        case QMessageBox::Yes:
            return TAnswer::Yes;
        case QMessageBox::No:
            return TAnswer::No;
        default:
            return withCancel ? TAnswer::Cancel : TAnswer::No;
    }
}

int TMessagePrompt::Choose(const std::string& title, const std::string& text,
                           const std::vector<std::string>& buttons) {
    QMessageBox box(QMessageBox::Question, Q(title), Q(text), QMessageBox::NoButton, parent_);
    std::vector<QPushButton*> added;
    for (size_t i = 0; i < buttons.size(); ++i)
        added.push_back(box.addButton(Q(buttons[i]), i + 1 == buttons.size() && buttons.size() > 1
                                                         ? QMessageBox::RejectRole
                                                         : QMessageBox::AcceptRole));
    if (!added.empty()) box.setDefaultButton(added.front());
    box.exec();
    for (size_t i = 0; i < added.size(); ++i)
        if (box.clickedButton() == added[i]) return static_cast<int>(i);
    return -1;
}

void TMessagePrompt::Inform(const std::string& text) {
    QMessageBox::information(parent_, QStringLiteral("Corvane"), Q(text));
}

void TMessagePrompt::Error(const std::string& text) {
    QMessageBox::critical(parent_, QStringLiteral("Corvane"), Q(text));
}

bool TFormDialogs::OpenProject(const std::string& startDir, std::string& file) {
    QString chosen =
        QFileDialog::getOpenFileName(parent_, QStringLiteral("打开"), Q(startDir), kProjectFilter);
    if (chosen.isEmpty()) return false;
    file = chosen.toStdString();
    return true;
}

bool TFormDialogs::SaveProject(const std::string& startDir, std::string& file) {
    QString chosen = QFileDialog::getSaveFileName(parent_, QStringLiteral("另存为"), Q(startDir),
                                                  kProjectFilter);
    if (chosen.isEmpty()) return false;
    file = chosen.toStdString();
    return true;
}

bool TFormDialogs::SaveExport(const std::string& startDir, TResultFormat& format,
                              std::string& file) {
    const QString csv = QStringLiteral("CSV 文件 (*.csv)");
    const QString json = QStringLiteral("JSON 文件 (*.json)");
    QFileDialog dialog(parent_, QStringLiteral("导出结果"), Q(startDir));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({csv, json});
    const bool wantJson = format == TResultFormat::rfJson;
    dialog.selectNameFilter(wantJson ? json : csv);
    dialog.setDefaultSuffix(wantJson ? QStringLiteral("json") : QStringLiteral("csv"));
    // The suffix added to a bare name follows the chosen type.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, json](const QString& filter) {
                         dialog.setDefaultSuffix(filter == json ? QStringLiteral("json")
                                                                : QStringLiteral("csv"));
                     });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    const QString chosen = dialog.selectedFiles().front();
    file = chosen.toStdString();
    // A name typed with ".csv" or ".json" decides; otherwise the chosen type.
    const QString suffix = QFileInfo(chosen).suffix().toLower();
    if (suffix == QStringLiteral("json"))
        format = TResultFormat::rfJson;
    else if (suffix == QStringLiteral("csv"))
        format = TResultFormat::rfCsv;
    else
        format = dialog.selectedNameFilter() == json ? TResultFormat::rfJson : TResultFormat::rfCsv;
    return true;
}

bool TFormDialogs::PickFolder(const std::string& title, const std::string& startDir,
                              std::string& folder) {
    QString chosen = QFileDialog::getExistingDirectory(parent_, Q(title), Q(startDir));
    if (chosen.isEmpty()) return false;
    folder = chosen.toStdString();
    return true;
}

bool TFormDialogs::EditDirOption(TFileDirOption& option) {
    return TfrmDlgDirOption::Edit(parent_, option, help_);
}

bool TFormDialogs::EditSettings(TSettings& settings) {
    return TFrmSetting::Edit(parent_, settings);
}

bool TDesktopShell::OpenPath(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
}

bool TDesktopShell::ShowItem(const std::string& fullName) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(Q(fullName)).toString()} << QString();
        QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        if (reply.type() == QDBusMessage::ReplyMessage) return true;
    }
    // No file manager answers: open the containing folder instead.
    return OpenPath(QFileInfo(Q(fullName)).absolutePath().toStdString());
}

bool TDesktopShell::MoveToTrash(const std::string& path, std::string& error) {
    const QString name = Q(path);
    QFileInfo info(name);
    if (!info.exists() && !info.isSymLink()) {
        error = "文件不存在";
        return false;
    }
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataDir.isEmpty() || !QDir().mkpath(dataDir)) {
        error = "无法使用回收站（用户数据目录不可用）";
        return false;
    }
    QFile file(name);
    if (!file.moveToTrash()) {
        error = file.errorString().isEmpty() ? std::string("无法移到回收站")
                                             : file.errorString().toStdString();
        return false;
    }
    const QString where = file.fileName();
    if (QDir::isRelativePath(where)) {
        QFile::rename(QDir::current().absoluteFilePath(where), name);
        error = "无法移到回收站";
        return false;
    }
    return true;
}

bool TDesktopShell::DirectoryExists(const std::string& path) {
    return !path.empty() && QFileInfo(Q(path)).isDir();
}

}  // namespace corvane
