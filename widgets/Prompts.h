#pragma once
// Every prompt the window program shows goes through this interface: message
// boxes, the busy cursor, the folder browser and the open and save dialogs. The program
// uses the Qt dialogs; tests install a scripted Prompter that answers prompts
// and records the texts shown.

#include <QString>
#include <QStringList>

class QWidget;

class Prompter {
  public:
    enum class Icon { None, Information, Warning, Error };
    enum class Buttons { Ok, YesNo, YesNoDefaultNo };  // the last: Enter answers No
    enum class Answer { Ok, Yes, No, Cancel };

    struct SaveRequest {
        QString initialDirectory;
        QString fileName;        // the name offered, without a folder
        QStringList filters;     // "Ombrel File (*.omb)", ... in order
        int selectedFilter = 1;  // 1-based; the dialog keeps the last one chosen
    };
    struct SaveResult {
        bool accepted = false;
        QString path;
        int filterIndex = 1;  // 1-based
    };

    virtual ~Prompter() = default;
    virtual Answer MessageBox(QWidget* owner, const QString& text, const QString& caption,
                              Buttons buttons, Icon icon) = 0;
    // A message box with buttons of the caller's own; the index of the one
    // chosen, -1 when the box was closed without one.
    virtual int Choose(QWidget* owner, const QString& text, const QString& caption,
                       const QStringList& buttons, Icon icon) = 0;
    // Closes the open message box showing text, which answers No (or OK);
    // for a question that something else has answered meanwhile.
    virtual void DismissMessageBox(const QString& text) = 0;
    // Returns the chosen directory, or an empty text when the user cancels.
    virtual QString BrowseForFolder(QWidget* owner) = 0;
    virtual SaveResult SaveFile(QWidget* owner, const SaveRequest& request) = 0;
    // An existing file to open, or an empty text when the user cancels.
    virtual QString OpenFile(QWidget* owner, const QString& initialDirectory,
                             const QStringList& filters) = 0;
    // Existing files, none when the user cancels.
    virtual QStringList OpenFiles(QWidget* owner, const QString& initialDirectory,
                                  const QStringList& filters) = 0;
    // The hourglass while busy, the arrow otherwise.
    virtual void SetBusyCursor(bool busy) = 0;
};

// "Export File Error" over owner, with the file and the system's reason
// (errno; none when 0 or less).
void ReportExportError(QWidget* owner, const QString& path, int error = 0);

// Whether a file may be written under path: yes when none is there, else
// when the user says so. For a name the save dialog did not ask about (it
// got its extension afterwards).
bool MayReplace(QWidget* owner, const QString& path);

// The prompter in use; the Qt one unless a test installed another.
Prompter& Prompts();
// Installs a prompter (not owned; nullptr restores the Qt one).
void SetPrompter(Prompter* prompter);
