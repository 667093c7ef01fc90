// SPDX-License-Identifier: GPL-3.0-or-later
// Password unscrambling of hand-edited pairs. Input: the scrambled form (Password) up to the first line feed,
// then the position list (Scramble). Whatever the pair, the result fits its field; and a password scrambled with
// a permutation made from the same bytes reads back unchanged.

#include "credentials/scramble_text.h"
#include "fuzz/fuzz_check.h"
#include "platform/text.h"
#include "settings/settings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string_view>
#include <vector>

namespace {

// A permutation of 0 .. n-1 ordered by the given bytes (ties by position): any bytes make a valid one.
std::vector<int> permutation_from(std::string_view bytes, std::size_t n) {
    std::vector<int> p(n);
    std::iota(p.begin(), p.end(), 0);
    auto key = [&](int i) { return static_cast<std::size_t>(i) < bytes.size() ? bytes[i] : '\0'; };
    std::stable_sort(p.begin(), p.end(), [&](int a, int b) { return key(a) < key(b); });
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lf = input.find('\n');
    const std::string_view scrambled = input.substr(0, lf);
    const std::string_view list = lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);

    auto plain = unscramble_text(scrambled, list);
    if (plain) {
        FUZZ_CHECK(plain->size() * 2 == list.size());
        char field[sizeof(UserAccount{}.Password)];
        fit_text(field, sizeof field, plain->c_str());
        FUZZ_CHECK(std::strlen(field) < sizeof field);
    }

    const std::string_view password = scrambled.substr(0, kPasswordMax);
    const std::vector<int> positions = permutation_from(list, password.size());
    auto back = unscramble_text(scramble_text(password, positions), position_list(positions));
    FUZZ_CHECK(back && *back == password);
    return 0;
}
