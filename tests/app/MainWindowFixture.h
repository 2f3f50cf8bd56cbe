#pragma once
// The real main window against the in-process virtual reader: settings in a
// temporary store, COM links in a temporary port directory, prompts answered
// by a script.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/TfrmParent.h"
#include "device/DeviceController.h"
#include "settings/SettingsStore.h"
#include "support/QtTestSupport.h"
#include "tools/sim/MemoryImage.h"
#include "tools/sim/Server.h"
#include "views/TfrmFileSelection.h"

class MainWindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(temp_.isValid());
        previousConfig_ = qgetenv("XDG_CONFIG_HOME");
        previousData_ = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", temp_.filePath("config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", temp_.filePath("data").toLocal8Bit());  // the archive
        settings::SetStoreFile(temp_.filePath("config/Arvelo/Arvelo.ini"));
        outDir_ = temp_.filePath("out") + "/";
        ASSERT_TRUE(QDir().mkpath(outDir_));
        StoreDirectorySettings(outDir_, ".omb",
                               FILE_NAME_LOCATION | FILE_NAME_SERIAL | FILE_NAME_LAST_DATE);
        // The loggers' clocks were asked about once already.
        settings::SettingsKey(settings::KEY_ARCHIVE)
            .SetString(settings::VALUE_ARCHIVE_CLOCK, "+00:00");
        std::string error;
        ASSERT_TRUE(demo_.Load(ARVELO_SOURCE_DIR "/tools/sim/samples/readers/demo.bin", &error))
            << error;
        demoLogs_ = static_cast<int>(sim::LogStarts(demo_).size());
    }

    void TearDown() override {
        window_.reset();
        server_.reset();
        settings::SetStoreFile(QString());
        qputenv("XDG_CONFIG_HOME", previousConfig_);
        qputenv("XDG_DATA_HOME", previousData_);
    }

    static void StoreDirectorySettings(const QString& directory, const QString& type,
                                       uint32_t options) {
        settings::SettingsKey key(settings::KEY_ARVELO);
        key.SetString(settings::VALUE_OUTPUT_DIR, directory);
        key.SetString(settings::VALUE_FILE_TYPE, type);
        key.SetDword(settings::VALUE_FILE_OPTION, options);
    }

    // The reader answers without pacing unless a line rate is given.
    void StartReader(sim::FaultOptions faults = {}, int baud = 0, const std::string& port = "auto",
                     const sim::MemoryImage* image = nullptr) {
        sim::ServerOptions options;
        options.port = port;
        options.fast = baud == 0;
        options.baud = baud == 0 ? 9600 : baud;
        options.faults = faults;
        server_ = std::make_unique<sim::Server>(image != nullptr ? *image : demo_, options);
        std::string error;
        ASSERT_TRUE(server_->Start(&error)) << error;
        settings::SettingsKey(settings::KEY_COM_PORT)
            .SetString(settings::VALUE_COM_PORT, QString::fromStdString(server_->PortName()) + ":");
    }

    void CreateWindow(PortLister ports = DiscoverComPorts) {
        ParentOptions options;
        options.splashMs = 0;
        options.listPorts = std::move(ports);
        options.dirDefaults.outputDir = temp_.filePath("documents/");
        window_ = TfrmParent::CreateWithForms(options);
        window_->show();
        DeviceController::Timing timing;
        timing.eraseBlockDelayMs = 5;
        timing.eraseReadDelayMs = 50;
        window_->Controller().SetTiming(timing);
    }

    // The run's end, however it ends (the commands come back), and what it
    // brought into the archive told.
    bool WaitForRunEnd() {
        return WaitFor(
            [this] { return window_->tbuDownloadAll->isEnabled() && !window_->Archiving(); });
    }

    // A run held at a silence went on after Yes and saved every log.
    void ExpectWentOnAfterYes() const {
        const QStringList texts = prompter_.Texts();
        ASSERT_GE(texts.size(), 4) << texts.join("|").toStdString();
        EXPECT_EQ(texts.mid(0, 3),
                  (QStringList{"Connection TimeOut", "Continue the download operation!",
                               "Make Sure the Arvelo is in Wait Wait state!"}));
        EXPECT_EQ(texts.last(), QString("%1 files saved to %2.").arg(demoLogs_).arg(outDir_));
    }

    // The log list's entries of logs listed, or of logs not saved ("Not
    // saved: ..."), or of what each run brought into the archive ("Archive: ...").
    enum class Entries { Listed, NotSaved, Archive };
    QStringList ListedNames() const { return ListEntries(Entries::Listed); }
    QStringList NotSavedLines() const { return ListEntries(Entries::NotSaved); }
    QStringList ArchiveNotes() const { return ListEntries(Entries::Archive); }
    QStringList ListEntries(Entries which) const {
        QStringList names;
        if (window_->logListWindow != nullptr) {
            QListWidget* list = window_->logListWindow->lstFileSelection;
            for (int i = 0; i < list->count(); ++i) {
                const QString text = list->item(i)->text();
                const Entries kind = text.startsWith("Archive: ")     ? Entries::Archive
                                     : text.startsWith("Not saved: ") ? Entries::NotSaved
                                                                      : Entries::Listed;
                if (kind == which) {
                    names << text;
                }
            }
        }
        return names;
    }
    // The entries after the hidden Cascade item.
    QStringList WindowsMenuNames() const {
        QStringList names;
        const QList<QAction*> actions = window_->Windows->actions();
        for (qsizetype i = 1; i < actions.size(); ++i) {
            names << actions[i]->text();
        }
        return names;
    }
    // Full paths, sorted.
    static QStringList FilesIn(const QString& directory) {
        QStringList paths;
        for (const QString& name : QDir(directory).entryList(QDir::Files, QDir::Name)) {
            paths << directory + name;
        }
        return paths;
    }
    static QStringList Sorted(QStringList names) {
        names.sort();
        return names;
    }

    QTemporaryDir temp_;
    QByteArray previousConfig_;
    QByteArray previousData_;
    QString outDir_;
    sim::MemoryImage demo_;
    int demoLogs_ = 0;
    std::unique_ptr<sim::Server> server_;
    ScriptedPrompter prompter_;
    std::unique_ptr<TfrmParent> window_;
};
