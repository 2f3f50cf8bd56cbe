#include "settings/TfrmArchiveSetting.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "archive/Location.h"
#include "settings/StoredSettings.h"
#include "widgets/Prompts.h"

namespace {

// "the location holds ..." as a sentence of its own.
QString Sentence(const QString& text) {
    return text.left(1).toUpper() + text.mid(1) + (text.endsWith('.') ? "" : ".");
}

}  // namespace

TfrmArchiveSetting::TfrmArchiveSetting(QWidget* parent) : QDialog(parent) {
    setObjectName("frmArchiveSetting");
    setWindowTitle("Archive Setting");
    chkEnabled = new QCheckBox("&Keep every log saved in the archive", this);
    edtLocation = new QLineEdit(this);
    edtLocation->setObjectName("edtLocation");
    edtLocation->setPlaceholderText(QString::fromLocal8Bit(archive::DefaultLocation()));
    edtLocation->setMinimumWidth(420);
    btnBrowse = new QPushButton("&Browse...", this);
    btnTest = new QPushButton("&Test", this);
    lblTest = new QLabel(this);
    lblTest->setObjectName("lblTest");
    // A message is as wide as the dialog, wrapped, never wider.
    lblTest->setWordWrap(true);
    lblTest->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblTest->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* hint = new QLabel(
        "An SQLite file (empty: the default above), or a PostgreSQL server's URI "
        "(postgresql://server/database) or connection string (host=server dbname=database), "
        "without a password (~/.pgpass holds it).",
        this);
    hint->setWordWrap(true);
    edtClock = new QLineEdit(this);
    edtClock->setObjectName("edtClock");
    edtClock->setMaximumWidth(80);
    auto* clockLabel = new QLabel("Logger &clocks run at UTC", this);
    clockLabel->setBuddy(edtClock);
    auto* clockHint = new QLabel(
        "Loggers keep no daylight saving: the offset their clocks were set to, all year. New "
        "deployments in the archive take it.",
        this);
    clockHint->setWordWrap(true);
    auto* clock = new QHBoxLayout;
    clock->addWidget(clockLabel);
    clock->addWidget(edtClock);
    clock->addStretch(1);
    auto* where = new QHBoxLayout;
    where->addWidget(edtLocation, 1);
    where->addWidget(btnBrowse);
    where->addWidget(btnTest);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    // As tall as its wrapped texts are: a window's own size follows no label's lines.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(chkEnabled);
    lblLocation = new QLabel("&Location:", this);
    lblLocation->setBuddy(edtLocation);
    layout->addWidget(lblLocation);
    layout->addLayout(where);
    layout->addWidget(hint);
    layout->addWidget(lblTest);
    layout->addLayout(clock);
    layout->addWidget(clockHint);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &TfrmArchiveSetting::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TfrmArchiveSetting::reject);
    connect(btnTest, &QPushButton::clicked, this, &TfrmArchiveSetting::btnTestClick);
    connect(btnBrowse, &QPushButton::clicked, this, [this] {
        // An archive that is there is chosen as it is, never replaced.
        const QString path = QFileDialog::getSaveFileName(
            this, "Archive File", edtLocation->text(), "SQLite archive (*.sqlite);;All files (*)",
            nullptr, QFileDialog::DontConfirmOverwrite);
        if (!path.isEmpty()) {
            edtLocation->setText(path);
        }
    });
    GetRegData();
}

TfrmArchiveSetting::~TfrmArchiveSetting() {
    test_.reset();  // its wake posts to this dialog
}

void TfrmArchiveSetting::GetRegData() {
    const settings::ArchiveSettings stored = settings::ArchiveSettings::Load();
    chkEnabled->setChecked(stored.enabled);
    // One stored before passwords were refused is not shown either.
    edtLocation->setText(
        QString::fromLocal8Bit(archive::Shown(stored.location.toLocal8Bit().toStdString())));
    lblTest->clear();
    // Not asked yet: the computer's own standard time is the likely setting.
    edtClock->setText(stored.clock.value_or(settings::StandardTimeOffset()));
}

void TfrmArchiveSetting::accept() {
    settings::ArchiveSettings chosen;
    chosen.enabled = chkEnabled->isChecked();
    chosen.location = edtLocation->text().trimmed();
    if (const std::string why =
            archive::ReadLocation(chosen.location.toLocal8Bit().toStdString()).why;
        !why.empty()) {
        Prompts().MessageBox(this, Sentence(QString::fromStdString(why)), "Error",
                             Prompter::Buttons::Ok, Prompter::Icon::Error);
        return;
    }
    chosen.clock = edtClock->text().trimmed();
    if (!settings::IsClockOffset(*chosen.clock)) {
        Prompts().MessageBox(this,
                             "The offset of the logger clocks must be written +HH:MM or -HH:MM "
                             "(from -12:00 to +14:00), such as +01:00.",
                             "Error", Prompter::Buttons::Ok, Prompter::Icon::Error);
        return;
    }
    if (!chosen.Save()) {
        Prompts().MessageBox(this, "The archive setting could not be stored.", "Error",
                             Prompter::Buttons::Ok, Prompter::Icon::Error);
        return;
    }
    QDialog::accept();
}

void TfrmArchiveSetting::btnTestClick() {
    test_.reset();
    lblTest->setText("Connecting...");
    btnTest->setEnabled(false);
    test_ = std::make_unique<run::ArchiveRead<archive::ArchiveFacts>>(
        edtLocation->text().trimmed().toLocal8Bit().toStdString(),
        [](archive::Archive& archive, const archive::Progress&) { return archive.Facts(); },
        [this] {
            QMetaObject::invokeMethod(this, &TfrmArchiveSetting::TestMoved, Qt::QueuedConnection);
        });
}

void TfrmArchiveSetting::TestMoved() {
    if (test_ == nullptr || !test_->Now().finished) {
        return;
    }
    const run::ReadState state = test_->Now();
    const archive::ArchiveFacts facts = test_->Take().value_or(archive::ArchiveFacts{});
    test_.reset();
    btnTest->setEnabled(true);
    if (!state.error.empty()) {
        // The archive says it in one sentence: "there is no archive at X yet: it
        // is made when the first log is saved", "cannot open the archive X: ...".
        lblTest->setText(Sentence(QString::fromStdString(state.error)));
    } else {
        lblTest->setText(QString("Found: %1, archive version %2, %3 loggers, %4 downloads.")
                             .arg(QString::fromStdString(facts.engine))
                             .arg(facts.version)
                             .arg(facts.loggers)
                             .arg(facts.downloads));
    }
}
