// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The notifier's moves of the whole settings file. Loading turns each account's stored password into the plain
// one; saving scrambles it again with a fresh position list, so after a save the record holds the scrambled form.
void ini_read_all();
// ini_read_all without the command mailbox's keys, which the window thread reads and writes meanwhile: what a
// running monitor reads again when the tools have saved.
void ini_read_settings();
void ini_check_all();
void ini_write_all();
