#pragma once
// The Archive window's Well tab: what a well's water levels are computed
// from, for the user to read and correct. Its facts (the reference point's
// elevation above the datum, the datum's name, latitude, ground), the stays
// of its level loggers and its baros, and its dips in a table: time, depth
// and note typed in place, each beside what the levels made of it (the
// logger's depth then, the residual, the drift since the dip before, or why
// it was not used). The panel only shows and asks: its owner writes what
// the user changed to the archive and shows the well read again.

#include <QWidget>

#include <optional>

#include "archive/WellView.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTreeWidget;

class WellPanel final : public QWidget {
    Q_OBJECT

  public:
    // Columns of the dips table; those after Note are computed.
    enum DipColumn {
        DipTime,
        DipDepth,
        DipNote,
        Estimate,
        Residual,
        Drift,
        Unused,
        DipColumnCount
    };

    explicit WellPanel(QWidget* parent = nullptr);

    void Show(const archive::WellView& view);
    // No well: the text says why.
    void Clear(const QString& text = QStringLiteral("Choose a well in the Loggers tab."));
    // The well shown; empty when none is.
    const std::string& Shown() const { return well_; }

    QLabel* lblWell;
    QLineEdit* edtReference;
    QLineEdit* edtDatum;
    QLineEdit* edtLatitude;
    QLineEdit* edtGround;
    QPushButton* btnApply;
    QTreeWidget* tvwStays;  // the level loggers' stays and the baros
    QTableWidget* tblDips;
    QPushButton* btnAddDip;
    QPushButton* btnRemoveDip;

  signals:
    void FactsEdited(const archive::WellFacts& facts);
    // A dip typed in (id 0: a new one), or removed (none).
    void DipEdited(int64_t id, const std::optional<archive::DipRow>& dip);

  private:
    // A cell of the dips table: typed in up to the note, computed after it.
    void SetDipCell(int row, int column, const QString& text);
    void ApplyFacts();
    void DipChanged(int row, int column);
    void RemoveDip();

    std::string well_;
    std::vector<archive::DipRow> dips_;  // as the rows show them; a new row past their end
    bool filling_ = false;               // the table is being filled, not edited
};
