// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret.h"

#include <cstring>
#include <sys/prctl.h>

void wipe_secret(void* data, std::size_t size) {
    if (data != nullptr && size > 0) {
        explicit_bzero(data, size);
    }
}

void wipe_secret(std::string& text) {
    wipe_secret(text.data(), text.capacity());
    text.clear();
}

void switch_core_dumps_off() {
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}
