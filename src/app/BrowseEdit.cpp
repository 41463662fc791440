#include "app/BrowseEdit.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QStringList>
#include <QToolButton>

#include "app/FileDialogs.h"

namespace zeloro {

namespace {
constexpr int kButtonWidth = 18;
}  // namespace

BrowseEdit::BrowseEdit(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), button_(new QToolButton(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(edit_);
    layout->addWidget(button_);
    button_->setText(QStringLiteral("…"));
    button_->setFixedWidth(kButtonWidth);
    button_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    // Reached by Tab (Space opens the dialog), but a mouse click leaves the focus in the edit.
    button_->setFocusPolicy(Qt::TabFocus);
    connect(button_, &QToolButton::clicked, this, &BrowseEdit::DoClick);
}

QString BrowseEdit::Text() const { return edit_->text(); }

void BrowseEdit::SetText(const QString& text) { edit_->setText(text); }

void BrowseEdit::Clear() { edit_->clear(); }

void BrowseEdit::DoClick() {
    const QString chosen = RunDialog();
    if (!chosen.isEmpty()) {
        RememberDialogFolder(chosen);
        edit_->setText(QDir::toNativeSeparators(chosen));
    }
}

QString BrowseEdit::StartFolder() const {
    const QString text = edit_->text().trimmed();
    if (!text.isEmpty()) {
        const QFileInfo info(text);
        const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
        if (QFileInfo(folder).isDir()) {
            return folder;
        }
    }
    return LastDialogFolder();
}

QString QtFilterFromPairs(const QString& pairs) {
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList lines;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString mask = parts[i + 1];
        // A pair may list several masks separated by ";"; Qt separates them by blanks.
        mask.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (description.endsWith(QLatin1Char('(') + mask + QLatin1Char(')'))) {
            lines << description;
        } else {
            lines << description + QStringLiteral(" (") + mask + QLatin1Char(')');
        }
    }
    if (parts.size() % 2 == 1 && !parts.back().isEmpty()) {
        // A lone description without a mask still shows every file.
        lines << parts.back() + QStringLiteral(" (*)");
    }
    return lines.join(QStringLiteral(";;"));
}

FilenameEdit::FilenameEdit(QWidget* parent) : BrowseEdit(parent) {}

QString FilenameEdit::RunDialog() {
    const QString filter = QtFilterFromPairs(filter_);
    if (dialog_) {
        return dialog_(this, title_, StartFolder(), filter);
    }
    return ChooseOpenFile(this, title_, filter, StartFolder());
}

DirectoryEdit::DirectoryEdit(QWidget* parent) : BrowseEdit(parent) {}

QString DirectoryEdit::RunDialog() {
    if (dialog_) {
        return dialog_(this, title_, StartFolder());
    }
    return ChooseFolder(this, title_, StartFolder());
}

}  // namespace zeloro
