// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/settings_watch.h"

#include "settings/keys.h"
#include "settings/settings_bulk.h"

#include <sys/stat.h>

namespace {

struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};

    bool operator==(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};

// Job thread only.
FileStamp g_seen;

// A file that is not there (yet) has a stamp of its own, so that its coming counts as a change.
FileStamp stamp_now() {
    struct stat st {};
    FileStamp stamp;
    if (stat(settings_file_path(), &st) == 0) {
        stamp = FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    }
    return stamp;
}

} // namespace

void settings_watch_start() {
    g_seen = stamp_now();
}

bool settings_changed_reload() {
    const FileStamp now = stamp_now();
    if (now == g_seen) {
        return false;
    }
    g_seen = now;
    ini_read_settings();
    return true;
}
