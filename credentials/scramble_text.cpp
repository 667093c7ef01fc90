// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/scramble_text.h"

#include "platform/clock.h"
#include "platform/secret.h"

#include <ctime>
#include <mutex>
#include <random>

std::string scramble_text(std::string_view password, const std::vector<int>& positions) {
    std::string out(2 * password.size(), '0');
    for (std::size_t i = 0; i < password.size() && i < positions.size(); ++i) {
        auto byte = static_cast<unsigned char>(password[i]);
        std::size_t slot = 2 * static_cast<std::size_t>(positions[i]);
        out[slot] = static_cast<char>(0x30 + (byte >> 4));
        out[slot + 1] = static_cast<char>(0x30 + (byte & 0x0F));
    }
    return out;
}

std::string position_list(const std::vector<int>& positions) {
    std::string out;
    for (int p : positions) {
        out += static_cast<char>('0' + p / 10 % 10);
        out += static_cast<char>('0' + p % 10);
    }
    return out;
}

int unscramble_into(std::string_view scrambled, std::string_view list, char* out, std::size_t size) {
    if (size == 0) {
        return -1;
    }
    out[0] = '\0';
    if (list.size() % 2 != 0) {
        return -1;
    }
    std::size_t m = list.size() / 2;
    std::vector<bool> seen(m, false);
    std::size_t length = 0;
    for (std::size_t i = 0; i < m; ++i) {
        char hi = list[2 * i];
        char lo = list[2 * i + 1];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9') {
            wipe_secret(out, size);
            return -1;
        }
        std::size_t p = static_cast<std::size_t>((hi - '0') * 10 + (lo - '0'));
        if (p >= m || seen[p] || 2 * p + 1 >= scrambled.size()) {
            wipe_secret(out, size);
            return -1;
        }
        seen[p] = true;
        auto first = static_cast<unsigned char>(scrambled[2 * p]);
        auto second = static_cast<unsigned char>(scrambled[2 * p + 1]);
        if (length + 1 < size) {
            out[length++] = static_cast<char>(((first << 4) & 0xF0) | (second & 0x0F));
        }
    }
    out[length] = '\0';
    return static_cast<int>(length);
}

std::optional<std::string> unscramble_text(std::string_view scrambled, std::string_view list) {
    std::string out(list.size() / 2 + 1, '\0');
    int length = unscramble_into(scrambled, list, out.data(), out.size());
    if (length < 0) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::vector<int> shuffled_positions(std::size_t n) {
    static std::mutex mutex;
    static std::mt19937 generator(std::random_device{}() ^ static_cast<unsigned>(clock_now()));
    std::vector<int> p(n);
    for (std::size_t i = 0; i < n; ++i) {
        p[i] = static_cast<int>(i);
    }
    std::lock_guard lock(mutex);
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t x = generator() % n;
        std::size_t y = generator() % n;
        std::swap(p[x], p[y]);
    }
    return p;
}
