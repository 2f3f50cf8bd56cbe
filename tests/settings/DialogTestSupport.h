#pragma once
// The fixture of the settings dialog tests: each test has a store of its own in
// a temporary folder, so no test sees the user's settings or another test's.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "settings/SettingsStore.h"

namespace test {

class StoreInTempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(temp_.isValid());
        settings::SetStoreFile(temp_.filePath("Arvelo.ini"));
    }
    void TearDown() override { settings::SetStoreFile(QString()); }

    QTemporaryDir temp_;
};

}  // namespace test
