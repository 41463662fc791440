// src/app/FileDialogs.h: the file dialogs of the window, which all start in the folder used last.
#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace zeloro {

enum class FileDialogKind { openFile, folder, saveFile };

struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::openFile;
    QString title;
    QString startFolder;
    QString filter;  // Qt's form: "description (masks)" lines joined by ";;"
};

// Replaces the real dialogs while it is installed (tests, or a platform without them); it returns the
// chosen path or an empty text for a cancelled dialog. Returns the hook that was installed before; an
// empty hook restores the real dialogs.
using FileDialogHook = std::function<QString(const FileDialogRequest&)>;
FileDialogHook SetFileDialogHook(FileDialogHook hook);

// The folder the last dialog chose in or chose (kept in the application's QSettings whatever the
// options say: it is no input of a run), when it still exists; otherwise the home folder.
[[nodiscard]] QString LastDialogFolder();
// Keeps the folder of a chosen file, or a chosen folder itself, for the next dialog.
void RememberDialogFolder(const QString& chosen);

// Each shows its dialog, starting in startFolder or, when that is empty, in LastDialogFolder(), and
// remembers the folder of what was chosen. An empty text: cancelled.
[[nodiscard]] QString ChooseOpenFile(QWidget* parent, const QString& title, const QString& filter,
                                     const QString& startFolder = {});
[[nodiscard]] QString ChooseFolder(QWidget* parent, const QString& title, const QString& startFolder = {});
// The name gets "." and extension when it has no extension of its own; when that name is taken, the
// user is asked before it is replaced (the dialog asked about the name as typed).
[[nodiscard]] QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& filter,
                                     const QString& extension);

}  // namespace zeloro
