#pragma once
// "Archive Setting": whether every log saved also goes into the archive,
// where the archive is (an SQLite file, or a PostgreSQL server's URI or
// connection string), and the offset from UTC the loggers' clocks keep. Test connects to it in the
// background and says what it found there, or why it could not. OK stores the choice with the other
// settings, unless the location is refused (archive/Location.h).

#include <QDialog>

#include <memory>

#include "run/ArchiveRead.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmArchiveSetting : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmArchiveSetting(QWidget* parent = nullptr);
    ~TfrmArchiveSetting() override;

    // Reads the stored setting into the controls.
    void GetRegData();
    void btnTestClick();
    // Whether a test is going on.
    bool Testing() const { return test_ != nullptr; }

    QCheckBox* chkEnabled;
    QLabel* lblLocation;
    QLineEdit* edtLocation;
    QPushButton* btnBrowse;
    QPushButton* btnTest;
    QLabel* lblTest;
    QLineEdit* edtClock;  // the offset from UTC the loggers' clocks keep

    // OK: stores the choice.
    void accept() override;

  private:
    void TestMoved();

    std::unique_ptr<run::ArchiveRead> test_;
    archive::ArchiveFacts facts_;  // the test's, once it finished
};
