// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/support/keyring_session.h"
#include "tests/support/stored_key.h"
#include "tests/support/temp_corvo.h"
#include "tests/support/widgets.h"

#include <QPushButton>
#include <QTest>
#include <sstream>
#include <string>
#include <vector>

// Each test starts from a settings directory of its own, without a settings file, and without a session bus: no
// test reaches the desktop keyring of whoever runs it. A test that wants a keyring starts a session of its own.
class SetupTest : public ::testing::Test {
protected:
    SetupTest() { no_keyring.start(); }

    KeyringSession no_keyring{KeyringSession::Desktop::no_bus};
    TempCorvo corvo;

    // The keys of the settings file in the order they first appeared in it: a key of section corvo\KD-5lite as
    // its name, an account key as "user00/Name". Started from no file, this is the order of the first writes.
    std::vector<std::string> keys_in_file() const {
        std::vector<std::string> keys;
        std::istringstream in(corvo.read("corvo_kd5lite.ini"));
        const std::string system = "corvo\\KD-5lite";
        std::string section;
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.starts_with('[')) {
                section = line.substr(1, line.size() - 2);
            } else if (auto eq = line.find('='); eq != std::string::npos) {
                std::string key = line.substr(0, eq);
                if (section == system) {
                    keys.push_back(key);
                } else if (section.starts_with(system + "\\")) {
                    keys.push_back(section.substr(system.size() + 1) + "/" + key);
                } else {
                    keys.push_back(section + "/" + key);
                }
            }
        }
        return keys;
    }
};

inline void click(const QObject* page, const char* button) {
    QTest::mouseClick(child<QPushButton>(page, button), Qt::LeftButton);
}
