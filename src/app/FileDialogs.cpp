#include "app/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <utility>

#include "app/MessageBoxes.h"
#include "tagging/InputPaths.h"

namespace zeloro {

namespace {

constexpr QLatin1String kFolderKey("Dialoge/letzterOrdner");

FileDialogHook& Hook() {
    static FileDialogHook hook;
    return hook;
}

QString Show(QWidget* parent, const FileDialogRequest& request) {
    if (Hook()) {
        return Hook()(request);
    }
    switch (request.kind) {
        case FileDialogKind::openFile:
            return QFileDialog::getOpenFileName(parent, request.title, request.startFolder, request.filter);
        case FileDialogKind::folder:
            return QFileDialog::getExistingDirectory(parent, request.title, request.startFolder);
        case FileDialogKind::saveFile:
            return QFileDialog::getSaveFileName(parent, request.title, request.startFolder, request.filter);
    }
    return {};
}

QString Choose(QWidget* parent, FileDialogRequest request) {
    if (request.startFolder.isEmpty()) {
        request.startFolder = LastDialogFolder();
    }
    QString chosen = Show(parent, request);
    if (!chosen.isEmpty()) {
        RememberDialogFolder(chosen);
    }
    return chosen;
}

}  // namespace

FileDialogHook SetFileDialogHook(FileDialogHook hook) { return std::exchange(Hook(), std::move(hook)); }

QString LastDialogFolder() {
    const QString stored = QSettings().value(kFolderKey).toString();
    if (!stored.isEmpty() && QFileInfo(stored).isDir()) {
        return stored;
    }
    return QDir::homePath();
}

void RememberDialogFolder(const QString& chosen) {
    const QFileInfo info(chosen);
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    QSettings store;
    store.setValue(kFolderKey, folder);
    store.sync();
}

QString ChooseOpenFile(QWidget* parent, const QString& title, const QString& filter,
                       const QString& startFolder) {
    return Choose(parent, {FileDialogKind::openFile, title, startFolder, filter});
}

QString ChooseFolder(QWidget* parent, const QString& title, const QString& startFolder) {
    return Choose(parent, {FileDialogKind::folder, title, startFolder, {}});
}

QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& filter,
                       const QString& extension) {
    const QString typed = Choose(parent, {FileDialogKind::saveFile, title, {}, filter});
    if (typed.isEmpty()) {
        return {};
    }
    const QString path =
        QString::fromStdString(WithDefaultExtension(typed.toStdString(), extension.toStdString()));
    if (path != typed && QFileInfo::exists(path) &&
        !AskQuestion(
            {QMessageBox::Question, title,
             QStringLiteral("Die Datei %1 ist bereits vorhanden.\nSoll sie ersetzt werden?").arg(path)})) {
        return {};
    }
    return path;
}

}  // namespace zeloro
