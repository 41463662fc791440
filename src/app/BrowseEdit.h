// src/app/BrowseEdit.h: a text edit with a browse button, as a file-name edit or a folder edit.
#pragma once
#include <QString>
#include <QWidget>
#include <functional>

class QLineEdit;
class QToolButton;

namespace zeloro {

// The edit and then the button take the keyboard focus by Tab. The control itself is no focus proxy: Qt's tab
// walk loses its way at the wrap-around when a container forwards its focus.
class BrowseEdit : public QWidget {
    Q_OBJECT
public:
    explicit BrowseEdit(QWidget* parent = nullptr);

    [[nodiscard]] QString Text() const;
    void SetText(const QString& text);
    void Clear();
    [[nodiscard]] QLineEdit* Edit() const noexcept { return edit_; }
    [[nodiscard]] QToolButton* Button() const noexcept { return button_; }

    // Opens the dialog; a cancelled dialog leaves the text as it was.
    void DoClick();

protected:
    // The chosen path, or an empty text when the dialog was cancelled.
    [[nodiscard]] virtual QString RunDialog() = 0;
    // The folder the dialog starts in: the one the current text names when it exists, else the folder the
    // last dialog was used in.
    [[nodiscard]] QString StartFolder() const;

private:
    QLineEdit* edit_;
    QToolButton* button_;
};

// Filters are written as pairs "description|mask|description|mask" (e.g. "gpx-Dateien (*.gpx)|*.gpx").
// The Qt dialog wants one "description (mask)" per line; a description that already names its mask in
// parentheses is kept as it is.
[[nodiscard]] QString QtFilterFromPairs(const QString& pairs);

class FilenameEdit : public BrowseEdit {
    Q_OBJECT
public:
    // parent, title, start folder, Qt filter -> chosen file or empty.
    using OpenDialog = std::function<QString(QWidget*, const QString&, const QString&, const QString&)>;

    explicit FilenameEdit(QWidget* parent = nullptr);

    [[nodiscard]] const QString& Filter() const noexcept { return filter_; }
    void SetFilter(const QString& pairs) { filter_ = pairs; }
    [[nodiscard]] const QString& DialogTitle() const noexcept { return title_; }
    void SetDialogTitle(const QString& title) { title_ = title; }
    // Replaces the open-file dialog (tests, or a platform without one).
    void SetOpenDialog(OpenDialog dialog) { dialog_ = std::move(dialog); }

protected:
    [[nodiscard]] QString RunDialog() override;

private:
    QString filter_;
    QString title_;
    OpenDialog dialog_;
};

class DirectoryEdit : public BrowseEdit {
    Q_OBJECT
public:
    // parent, title, start folder -> chosen folder or empty.
    using FolderDialog = std::function<QString(QWidget*, const QString&, const QString&)>;

    explicit DirectoryEdit(QWidget* parent = nullptr);

    [[nodiscard]] const QString& DialogTitle() const noexcept { return title_; }
    void SetDialogTitle(const QString& title) { title_ = title; }
    void SetFolderDialog(FolderDialog dialog) { dialog_ = std::move(dialog); }

protected:
    [[nodiscard]] QString RunDialog() override;

private:
    QString title_ = QStringLiteral("Select Directory");
    FolderDialog dialog_;
};

}  // namespace zeloro
