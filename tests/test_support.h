// Shared set-up for the unit tests: every test starts from the parameter block
// as it is when the library loads, with a private, empty per-user folder.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "settings/plugin_settings.h"

// A fresh temporary folder, removed with its content when the object dies.
struct TempFolder {
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string path;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Initialise as the host does (Init), with no settings file around.
    void initialise();
    TempFolder profile;
};

// Writes text to a file, replacing it.
void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);
