// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A running monitor takes up what the tools save: before each pass it looks at the settings file, and when the
// file changed since the last look it reads every setting again but the command mailbox's. The tools replace the
// file by renaming a new one over it, so a save shows as another inode, size or modification time.

// Notes the file as it is now (the monitor's start, right after the job start read it).
void settings_watch_start();

// Reads the settings again when the file changed since the last look; whether it did.
bool settings_changed_reload();
