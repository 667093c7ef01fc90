#pragma once

#include <QString>

class TabWindow;

// Shows the window offscreen and saves it once per page, with that page's tab selected, as
// dir/<prefix>-<n>.png (n from 1). Returns the number of files written.
int save_tab_screenshots(TabWindow& window, const QString& dir, const QString& prefix);
