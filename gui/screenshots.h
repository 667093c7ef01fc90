// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <memory>

class TabWindow;

// Shows the window offscreen and saves it once per page, with that page's tab selected, as
// dir/<prefix>-<n>.png (n from 1). Returns the number of files written.
int save_tab_screenshots(TabWindow& window, const QString& dir, const QString& prefix);

// Opens the window's About box through its entry and saves it as dir/<prefix>-about.png. False when the window
// has no About entry or the picture could not be written.
bool save_about_screenshot(TabWindow& window, const QString& dir, const QString& prefix);

// main() of a tool's screenshot program: on the offscreen platform, with settings in a temporary directory of their
// own that write_samples fills, so the user's real settings are neither shown nor touched, it saves the window
// that make_window builds, and its About box, into argv[1] (default docs/screenshots). Returns the exit status.
int screenshots_main(int argc, char** argv, const QString& prefix, const std::function<void()>& write_samples,
                     const std::function<std::unique_ptr<TabWindow>()>& make_window);
