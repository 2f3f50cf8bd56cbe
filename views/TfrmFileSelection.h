#pragma once
// "File Selection": the file name of every log downloaded since start-up. A
// click or any key released in the list asks the main window to show the
// selected log. The window cannot be closed, only minimized.

#include <QListWidgetItem>
#include <QMdiSubWindow>

#include <functional>
#include <map>

class QListWidget;
class QMdiArea;
class QPushButton;

class TfrmFileSelection : public QMdiSubWindow {
    Q_OBJECT

  public:
    // postSelected posts the selection request to the main window.
    TfrmFileSelection(std::function<void()> postSelected, QWidget* parent = nullptr);

    // A new log list in the main window's MDI area, with its own title-bar buttons.
    static TfrmFileSelection* CreateIn(QMdiArea* area, std::function<void()> postSelected);

    // An entry for a log of the main window's list, under its name.
    void AddEntry(const QString& name, int logIndex);
    // An entry that names a log not listed there, and cannot be chosen.
    void AddUnlisted(const QString& text);
    // An entry that names no log and calls open when clicked (what a run
    // brought into the archive, opening the Archive window on it).
    void AddLink(const QString& text, const QString& toolTip, std::function<void()> open);
    void SetEntryText(int row, const QString& name);
    // The log of an entry, -1 for one that has none; the entry of a log, -1 for none.
    int LogAt(int row) const;
    int RowOf(int logIndex) const;
    // Widens the window so that a name of this length fits, as far as the
    // main window's area allows; never narrows it. A name longer than the
    // list shows its end, and whole in its tooltip.
    void WidenFor(const QString& name);

    QListWidget* lstFileSelection;
    QPushButton* butClose;

  public slots:
    void butCloseClick();
    void lstFileSelectionClick();

  protected:
    void closeEvent(QCloseEvent* event) override;                // minimizes instead
    void resizeEvent(QResizeEvent* event) override;              // FormResize
    bool eventFilter(QObject* watched, QEvent* event) override;  // lstFileSelectionKeyUp

  private:
    // List and button follow the window's size.
    void FitToWindow();

    std::function<void()> postSelected_;
    std::map<const QListWidgetItem*, std::function<void()>> links_;  // entries are never removed
    QWidget* client_;
    bool keyPressed_ = false;  // a key went down in the list and is not up yet
};
