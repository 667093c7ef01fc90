// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_outcome.h"
#include "platform/timing.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A fresh settings directory with the error log switched on, a fixed day (so the log is err07.log), and the
// timing record shortened: a wait for data that gives up after a few milliseconds' worth of
// attempts only when a test asks for it.
class MailTest : public ::testing::Test {
protected:
    MailTest();
    ~MailTest() override;

    static Timing fast_timing();
    // Shortens the wait for data so that the 61 attempts of a receive pass in a moment.
    static void give_up_quickly();

    // The error log's lines without their time prefix.
    std::vector<std::string> error_lines() const;
    void clear_error_log() const;
    // Every file in the settings directory, concatenated.
    std::string all_files() const;

    // Points account index at the server with the given user name and password.
    static void set_account(int index, const std::string& server, const std::string& id, const std::string& password);
    // Sets an account's sender condition i (0 to 2).
    static void set_filter(int index, int i, const std::string& address, const std::string& condition);

    // What differs between a check's outcome and the step, failure and error number expected (kAnyError: any), and
    // whether a failure's line is one the error log got (a check that worked, or stopped, keeps none); empty when
    // nothing does.
    static constexpr int kAnyError = -9999;
    std::string outcome_differs(const CheckOutcome& got, CheckStep step, CheckFailure failure, int error) const;

    TempCorvo dir_;
    FixedClock clock_{2026, 12, 7};
    Timing saved_;
};
