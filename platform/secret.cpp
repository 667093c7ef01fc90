// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret.h"

#include <cstring>
#include <sys/prctl.h>
#include <sys/resource.h>

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
    // Where fs.suid_dumpable is 2 the kernel still writes the core of an undumpable process (readable by root), with
    // the passwords and the copies of tokens the libraries made and never wiped. A core limit of 0, hard as well,
    // leaves it nothing to write; what the process starts (a token command) inherits it.
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}
