#include "views/WellPanel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "device/FixedText.h"
#include "views/FitColumns.h"
#include "views/UtcText.h"
#include "widgets/Prompts.h"

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString Metres(const std::optional<double>& value, int decimals = 4) {
    return value ? Text(DecimalText(*value, decimals)) : QString();
}

QString SpanEnd(const std::optional<int64_t>& end) {
    return end ? UtcText(*end) : QStringLiteral("open");
}

QString Clock(int minutes) {
    return "UTC" + Text(archive::ClockOffsetText(minutes));
}

// "1, temperature 2": the channels a stay's levels are read from.
QString Channels(const archive::LoggerFacts& facts) {
    QString text = facts.pressure.empty() ? QStringLiteral("first pressure") : Text(facts.pressure);
    return facts.temperature.empty() ? text : text + ", temperature " + Text(facts.temperature);
}

}  // namespace

WellPanel::WellPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pnlWell"));
    lblWell = new QLabel(this);
    QFont bold = lblWell->font();
    bold.setBold(true);
    lblWell->setFont(bold);
    const auto edit = [this](const char* name, const QString& hint) {
        auto* line = new QLineEdit(this);
        line->setObjectName(QString::fromLatin1(name));
        line->setPlaceholderText(hint);
        return line;
    };
    edtReference = edit("edtReference", QStringLiteral("m above the datum"));
    edtDatum = edit("edtDatum", QStringLiteral("m NAP, m AHD, ..."));
    edtLatitude = edit("edtLatitude", QStringLiteral("degrees north, for local gravity"));
    edtGround = edit("edtGround", QStringLiteral("m above the datum"));
    btnApply = new QPushButton(QStringLiteral("&Keep the facts"), this);
    btnApply->setObjectName(QStringLiteral("btnApply"));
    tvwStays = new QTreeWidget(this);
    tvwStays->setObjectName(QStringLiteral("tvwStays"));
    tvwStays->setHeaderLabels({"Logger", "Serial", "From (UTC)", "To (UTC)", "Clock", "Channels",
                               "Cable / height (m)", "Vented"});
    tvwStays->setRootIsDecorated(false);
    tblDips = new QTableWidget(0, DipColumnCount, this);
    tblDips->setObjectName(QStringLiteral("tblDips"));
    tblDips->setHorizontalHeaderLabels({"Time (UTC)", "Depth (m)", "Note", "Logger (m)",
                                        "Residual (m)", "Drift (mm/day)", "Not used because"});
    tblDips->horizontalHeader()->setStretchLastSection(true);
    tblDips->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblDips->verticalHeader()->hide();
    btnAddDip = new QPushButton(QStringLiteral("Add &dip"), this);
    btnAddDip->setObjectName(QStringLiteral("btnAddDip"));
    btnRemoveDip = new QPushButton(QStringLiteral("&Remove dip"), this);
    btnRemoveDip->setObjectName(QStringLiteral("btnRemoveDip"));

    auto* facts = new QFormLayout;
    facts->addRow(QStringLiteral("Reference point (top of casing):"), edtReference);
    facts->addRow(QStringLiteral("Datum:"), edtDatum);
    facts->addRow(QStringLiteral("Latitude:"), edtLatitude);
    facts->addRow(QStringLiteral("Ground:"), edtGround);
    auto* factsRow = new QHBoxLayout;
    factsRow->addLayout(facts, 1);
    factsRow->addWidget(btnApply, 0, Qt::AlignBottom);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnAddDip);
    buttons->addWidget(btnRemoveDip);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(lblWell);
    layout->addLayout(factsRow);
    layout->addWidget(tvwStays, 1);
    layout->addWidget(tblDips, 2);
    layout->addLayout(buttons);

    connect(btnApply, &QPushButton::clicked, this, &WellPanel::ApplyFacts);
    connect(tblDips, &QTableWidget::cellChanged, this, &WellPanel::DipChanged);
    connect(btnAddDip, &QPushButton::clicked, this, [this] {
        // A row to type in: it is kept once it has a time and a depth.
        filling_ = true;
        const int row = tblDips->rowCount();
        tblDips->insertRow(row);
        for (int c = 0; c < DipColumnCount; ++c) {
            SetDipCell(row, c, QString());
        }
        filling_ = false;
        tblDips->setCurrentCell(row, DipTime);
        tblDips->editItem(tblDips->item(row, DipTime));
    });
    connect(btnRemoveDip, &QPushButton::clicked, this, &WellPanel::RemoveDip);
    Clear();
}

void WellPanel::Clear(const QString& text) {
    well_.clear();
    dips_.clear();
    lblWell->setText(text);
    for (QLineEdit* line : {edtReference, edtDatum, edtLatitude, edtGround}) {
        line->clear();
    }
    tvwStays->clear();
    filling_ = true;
    tblDips->setRowCount(0);
    filling_ = false;
    for (QWidget* w : std::initializer_list<QWidget*>{btnApply, btnAddDip, btnRemoveDip}) {
        w->setEnabled(false);
    }
}

void WellPanel::Show(const archive::WellView& view) {
    const archive::WellRow& well = view.well;
    well_ = well.name;
    lblWell->setText(view.why.empty() ? Text(well.name) : Text(well.name + ": " + view.why));
    const archive::WellFacts& f = well.facts;
    edtReference->setText(Text(f.reference.value_or("")));
    edtDatum->setText(Text(f.datum.value_or("")));
    edtLatitude->setText(Text(f.latitude.value_or("")));
    edtGround->setText(Text(f.ground.value_or("")));

    tvwStays->clear();
    for (const archive::DeploymentRow& d : well.deployments) {
        new QTreeWidgetItem(tvwStays, {QStringLiteral("level"), Text(d.serial),
                                       UtcText(d.startTime), SpanEnd(d.end), Clock(d.clockOffset),
                                       Channels(d.facts), Text(d.facts.cable.value_or("")),
                                       d.facts.vented ? QStringLiteral("yes") : QString()});
    }
    for (const archive::BaroRow& b : well.baros) {
        new QTreeWidgetItem(
            tvwStays,
            {QStringLiteral("baro"), Text(b.serial),
             b.from == std::numeric_limits<int64_t>::min() ? QString() : UtcText(b.from),
             SpanEnd(b.end), Clock(b.clockOffset), Text(b.channel), Text(b.height), QString()});
    }
    FitColumns(*tvwStays);

    filling_ = true;
    dips_ = well.dips;
    tblDips->setRowCount(static_cast<int>(dips_.size()));
    const std::vector<level::DipUse>* uses = view.levels ? &view.levels->levels.dips : nullptr;
    for (std::size_t i = 0; i < dips_.size(); ++i) {
        const archive::DipRow& dip = dips_[i];
        QStringList cells{UtcText(dip.time), Text(dip.depth), Text(dip.note)};
        if (uses != nullptr && i < uses->size()) {
            const level::DipUse& use = (*uses)[i];
            cells << Metres(use.estimate) << Metres(use.offset) << Metres(use.driftMmPerDay, 1)
                  << Text(use.why);
        } else {
            cells << QString() << QString() << QString() << QString();
        }
        for (int c = 0; c < DipColumnCount; ++c) {
            SetDipCell(static_cast<int>(i), c, cells[c]);
        }
    }
    tblDips->resizeColumnsToContents();
    filling_ = false;
    for (QWidget* w : std::initializer_list<QWidget*>{btnApply, btnAddDip, btnRemoveDip}) {
        w->setEnabled(true);
    }
}

void WellPanel::SetDipCell(int row, int column, const QString& text) {
    auto* cell = new QTableWidgetItem(text);
    if (column > DipNote) {
        cell->setFlags(cell->flags() & ~Qt::ItemIsEditable);  // what the levels made of it
    }
    if (column == DipDepth || (column > DipNote && column < Unused)) {
        cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    tblDips->setItem(row, column, cell);
}

void WellPanel::ApplyFacts() {
    const auto given = [](const QLineEdit* line) {
        const QString text = line->text().trimmed();
        return text.isEmpty() ? std::nullopt : std::optional<std::string>(text.toStdString());
    };
    emit FactsEdited({given(edtReference), given(edtDatum), given(edtLatitude), given(edtGround)});
}

void WellPanel::DipChanged(int row, int column) {
    if (filling_ || column > DipNote || row < 0) {
        return;
    }
    const auto text = [this, row](int c) {
        const QTableWidgetItem* cell = tblDips->item(row, c);
        return cell != nullptr ? cell->text().trimmed() : QString();
    };
    const bool fresh = static_cast<std::size_t>(row) >= dips_.size();
    archive::DipRow dip = fresh ? archive::DipRow{} : dips_[static_cast<std::size_t>(row)];
    if (fresh || column == DipTime) {
        const std::optional<int64_t> time = ParseUtcText(text(DipTime));
        if (!time) {
            if (!fresh || !text(DipTime).isEmpty()) {
                Prompts().MessageBox(
                    this, "\"" + text(DipTime) + "\" is not a time: YYYY-MM-DD HH:MM:SS in UTC.",
                    QStringLiteral("Dip"), Prompter::Buttons::Ok, Prompter::Icon::Warning);
            }
            if (!fresh) {
                filling_ = true;  // the time kept stays shown
                tblDips->item(row, DipTime)->setText(UtcText(dip.time));
                filling_ = false;
            }
            return;
        }
        dip.time = *time;
    }
    dip.depth = text(DipDepth).toStdString();
    dip.note = text(DipNote).toStdString();
    if (fresh && dip.depth.empty()) {
        return;  // kept once it has its depth
    }
    emit DipEdited(dip.id, dip);
}

void WellPanel::RemoveDip() {
    const int row = tblDips->currentRow();
    if (row < 0) {
        return;
    }
    if (static_cast<std::size_t>(row) >= dips_.size()) {
        tblDips->removeRow(row);  // a new row not kept yet
        return;
    }
    const archive::DipRow& dip = dips_[static_cast<std::size_t>(row)];
    // A reading taken in the field cannot be taken again: asked first.
    if (Prompts().MessageBox(this,
                             "Remove the dip of " + UtcText(dip.time) + ", " + Text(dip.depth) +
                                 " m, from the archive?",
                             QStringLiteral("Dip"), Prompter::Buttons::YesNoDefaultNo,
                             Prompter::Icon::Warning) == Prompter::Answer::Yes) {
        emit DipEdited(dip.id, std::nullopt);
    }
}
