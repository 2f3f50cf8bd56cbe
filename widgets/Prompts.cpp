#include "widgets/Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <vector>

#include "platform/Errors.h"

namespace {

class QtPrompter final : public Prompter {
  public:
    Answer MessageBox(QWidget* owner, const QString& text, const QString& caption, Buttons buttons,
                      Icon icon) override {
        QMessageBox box(owner);
        Dress(box, text, caption, icon);
        const OpenBox open(open_, box);
        if (buttons != Buttons::Ok) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            if (buttons == Buttons::YesNoDefaultNo) {
                box.setDefaultButton(QMessageBox::No);
            }
            return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
        }
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return Answer::Ok;
    }

    int Choose(QWidget* owner, const QString& text, const QString& caption,
               const QStringList& buttons, Icon icon) override {
        QMessageBox box(owner);
        Dress(box, text, caption, icon);
        std::vector<QAbstractButton*> added;
        for (const QString& label : buttons) {
            added.push_back(box.addButton(
                label, added.empty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
        }
        const OpenBox open(open_, box);
        box.exec();
        const auto chosen = std::find(added.begin(), added.end(), box.clickedButton());
        return chosen == added.end() ? -1 : static_cast<int>(chosen - added.begin());
    }

    void DismissMessageBox(const QString& text) override {
        for (QMessageBox* box : open_) {
            if (box->text() == text) {
                box->done(QMessageBox::No);
            }
        }
    }

    QString BrowseForFolder(QWidget* owner) override {
        return QFileDialog::getExistingDirectory(owner, QString(), QString(),
                                                 QFileDialog::ShowDirsOnly);
    }

    SaveResult SaveFile(QWidget* owner, const SaveRequest& request) override {
        QFileDialog dialog(owner);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDirectory(request.initialDirectory);
        if (!request.fileName.isEmpty()) {
            dialog.selectFile(request.fileName);
        }
        dialog.setNameFilters(request.filters);
        dialog.setDefaultSuffix(QString());  // the caller adds the extension of the chosen type
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
        dialog.setOption(QFileDialog::ReadOnly, false);
        dialog.setSizeGripEnabled(true);
        if (request.selectedFilter >= 1 && request.selectedFilter <= request.filters.size()) {
            dialog.selectNameFilter(request.filters.at(request.selectedFilter - 1));
        }
        SaveResult result;
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return result;
        }
        result.accepted = true;
        result.path = dialog.selectedFiles().constFirst();
        result.filterIndex = request.filters.indexOf(dialog.selectedNameFilter()) + 1;
        if (result.filterIndex < 1) {
            result.filterIndex = 1;
        }
        return result;
    }

    QString OpenFile(QWidget* owner, const QString& initialDirectory,
                     const QStringList& filters) override {
        return QFileDialog::getOpenFileName(owner, QString(), initialDirectory,
                                            filters.join(QStringLiteral(";;")));
    }

    QStringList OpenFiles(QWidget* owner, const QString& initialDirectory,
                          const QStringList& filters) override {
        return QFileDialog::getOpenFileNames(owner, QString(), initialDirectory,
                                             filters.join(QStringLiteral(";;")));
    }

    void SetBusyCursor(bool busy) override {
        // One override at a time, like the single screen cursor it stands for.
        while (QApplication::overrideCursor() != nullptr) {
            QApplication::restoreOverrideCursor();
        }
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
    }

  private:
    static void Dress(QMessageBox& box, const QString& text, const QString& caption, Icon icon) {
        box.setWindowTitle(caption);
        box.setText(text);
        switch (icon) {
            case Icon::None:
                box.setIcon(QMessageBox::NoIcon);
                break;
            case Icon::Information:
                box.setIcon(QMessageBox::Information);
                break;
            case Icon::Warning:
                box.setIcon(QMessageBox::Warning);
                break;
            case Icon::Error:
                box.setIcon(QMessageBox::Critical);
                break;
        }
    }

    // A box is on the list of those open while it runs; a box opens inside
    // another's run, so the list is a stack.
    class OpenBox {
      public:
        OpenBox(std::vector<QMessageBox*>& open, QMessageBox& box) : open_(open) {
            open_.push_back(&box);
        }
        ~OpenBox() { open_.pop_back(); }
        OpenBox(const OpenBox&) = delete;
        OpenBox& operator=(const OpenBox&) = delete;

      private:
        std::vector<QMessageBox*>& open_;
    };

    std::vector<QMessageBox*> open_;
};

Prompter* installed = nullptr;

}  // namespace

void ReportExportError(QWidget* owner, const QString& path, int error) {
    QString text = QStringLiteral("Export File Error\n") + path;
    if (error > 0) {
        text += QStringLiteral(": ") + QString::fromLocal8Bit(platform::ErrnoText(error));
    }
    Prompts().MessageBox(owner, text, QStringLiteral("Error"), Prompter::Buttons::Ok,
                         Prompter::Icon::None);
}

bool MayReplace(QWidget* owner, const QString& path) {
    return !QFileInfo::exists(path) ||
           Prompts().MessageBox(owner, path + QStringLiteral(" already exists.\nReplace it?"),
                                QStringLiteral("Warning"), Prompter::Buttons::YesNoDefaultNo,
                                Prompter::Icon::Warning) == Prompter::Answer::Yes;
}

Prompter& Prompts() {
    static QtPrompter qtPrompter;
    return installed != nullptr ? *installed : qtPrompter;
}

void SetPrompter(Prompter* prompter) {
    installed = prompter;
}
