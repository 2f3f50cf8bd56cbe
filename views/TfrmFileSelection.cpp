#include "views/TfrmFileSelection.h"

#include <utility>

#include <QCloseEvent>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QPushButton>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

constexpr int kListLeft = 16;
constexpr int kListTop = 8;
constexpr int kWidthMargin = 40;
constexpr int kHeightMargin = 80;
constexpr int kLogRole = Qt::UserRole;  // the index of an entry's log in the main window's list

// Entries as wide as the list, whatever their length: a long name is cut at
// its start, so that its end (where a/b/c tells files apart) stays in view;
// an entry without a log keeps its start, which says which log it is.
class EntryDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {1, QStyledItemDelegate::sizeHint(option, index).height()};
    }

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = index.data(kLogRole).toInt() < 0 ? Qt::ElideRight : Qt::ElideLeft;
    }
};

QListWidgetItem* NewEntry(const QString& text, int logIndex, QListWidget* list) {
    auto* entry = new QListWidgetItem(text, list);
    entry->setToolTip(text);
    entry->setData(kLogRole, logIndex);
    return entry;
}

}  // namespace

TfrmFileSelection::TfrmFileSelection(std::function<void()> postSelected, QWidget* parent)
    // Qt adds the system menu to a window with a minimize button, and some
    // styles then draw a close button too; closeEvent turns it into minimize.
    : QMdiSubWindow(parent, Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint),
      postSelected_(std::move(postSelected)),
      client_(new QWidget(this)) {
    setObjectName("frmFileSelection");
    setWindowTitle("File Selection");
    setWidget(client_);
    lstFileSelection = new QListWidget(client_);
    lstFileSelection->setUniformItemSizes(true);
    lstFileSelection->setItemDelegate(new EntryDelegate(lstFileSelection));
    lstFileSelection->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstFileSelection->move(kListLeft, kListTop);
    butClose = new QPushButton("&Minimize", client_);
    butClose->resize(73, 33);

    // Without Close (and the separator before it) in the system menu the
    // window can only be minimized.
    QMenu* menu = systemMenu();
    for (int removed = 0; removed < 2 && !menu->actions().isEmpty(); ++removed) {
        menu->removeAction(menu->actions().constLast());
    }

    connect(butClose, &QPushButton::clicked, this, &TfrmFileSelection::butCloseClick);
    connect(lstFileSelection, &QListWidget::itemClicked, this, [this](QListWidgetItem* entry) {
        if (const auto link = links_.find(entry); link != links_.end()) {
            link->second();
            return;
        }
        lstFileSelectionClick();
    });
    lstFileSelection->installEventFilter(this);
    resize(306, 464);
    FitToWindow();
}

TfrmFileSelection* TfrmFileSelection::CreateIn(QMdiArea* area, std::function<void()> postSelected) {
    auto* window = new TfrmFileSelection(std::move(postSelected));
    // The area would give the window its default buttons, Close among them.
    area->addSubWindow(window, window->windowFlags());
    return window;
}

void TfrmFileSelection::resizeEvent(QResizeEvent* event) {
    QMdiSubWindow::resizeEvent(event);
    FitToWindow();
}

void TfrmFileSelection::FitToWindow() {
    // Below 40 x 80 the list keeps its last size.
    if (width() > kWidthMargin) {
        lstFileSelection->resize(width() - kWidthMargin, lstFileSelection->height());
    }
    if (height() > kHeightMargin) {
        lstFileSelection->resize(lstFileSelection->width(), height() - kHeightMargin);
    }
    butClose->move(lstFileSelection->x() + lstFileSelection->width() / 2 - 36,
                   lstFileSelection->y() + lstFileSelection->height() + 10);
}

void TfrmFileSelection::AddEntry(const QString& name, int logIndex) {
    NewEntry(name, logIndex, lstFileSelection);
}

void TfrmFileSelection::AddUnlisted(const QString& text) {
    NewEntry(text, -1, lstFileSelection)->setFlags(Qt::NoItemFlags);
}

void TfrmFileSelection::AddLink(const QString& text, const QString& toolTip,
                                std::function<void()> open) {
    QListWidgetItem* entry = NewEntry(text, -1, lstFileSelection);
    // Clicked, never selected: a selection asks the main window for a log.
    entry->setFlags(Qt::ItemIsEnabled);
    entry->setToolTip(toolTip);
    entry->setForeground(lstFileSelection->palette().link());
    links_.emplace(entry, std::move(open));
}

void TfrmFileSelection::SetEntryText(int row, const QString& name) {
    if (QListWidgetItem* entry = lstFileSelection->item(row)) {
        entry->setText(name);
        entry->setToolTip(name);
    }
}

int TfrmFileSelection::LogAt(int row) const {
    const QListWidgetItem* entry = lstFileSelection->item(row);
    return entry != nullptr ? entry->data(kLogRole).toInt() : -1;
}

int TfrmFileSelection::RowOf(int logIndex) const {
    for (int row = 0; logIndex >= 0 && row < lstFileSelection->count(); ++row) {
        if (LogAt(row) == logIndex) {
            return row;
        }
    }
    return -1;
}

void TfrmFileSelection::WidenFor(const QString& name) {
    int wanted = 6 * static_cast<int>(name.size()) + kWidthMargin;
    // Never past the main window's right edge.
    if (const QMdiArea* area = mdiArea()) {
        wanted = std::min(wanted, area->viewport()->width() - x());
    }
    if (width() < wanted) {
        resize(wanted, height());
        FitToWindow();  // also while hidden, when no resize event comes yet
    }
}

void TfrmFileSelection::butCloseClick() {
    close();
}

void TfrmFileSelection::lstFileSelectionClick() {
    postSelected_();
}

void TfrmFileSelection::closeEvent(QCloseEvent* event) {
    event->ignore();
    showMinimized();
}

bool TfrmFileSelection::eventFilter(QObject* watched, QEvent* event) {
    // Only a key pressed in the list counts: the release of a key that
    // closed a message box lands here too.
    if (watched == lstFileSelection) {
        if (event->type() == QEvent::KeyPress) {
            keyPressed_ = true;
        } else if (event->type() == QEvent::KeyRelease && std::exchange(keyPressed_, false)) {
            postSelected_();
        }
    }
    return QMdiSubWindow::eventFilter(watched, event);
}
