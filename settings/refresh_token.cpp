// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/refresh_token.h"

#include "credentials/scramble_text.h"
#include "platform/secret.h"
#include "settings/keys.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cstdio>

namespace {

constexpr char kTokenKey[] = "RefreshToken";
constexpr char kListKey[] = "RefreshScramble";
constexpr std::size_t kPiece = kPasswordMax; // a scrambled piece is 2 * kPiece characters, its list as many digits

void section_of(int index, char (&section)[64]) {
    std::snprintf(section, sizeof section, kSectionAccountPattern, index);
}

} // namespace

int refresh_token_save(int index, std::string_view token) {
    if (index < 0 || index >= kAccountCount) {
        return -1;
    }
    std::string scrambled;
    std::string lists;
    for (std::size_t at = 0; at < token.size(); at += kPiece) {
        const std::string_view piece = token.substr(at, kPiece);
        const std::vector<int> positions = shuffled_positions(piece.size());
        scrambled += scramble_text(piece, positions);
        lists += position_list(positions);
    }
    char section[64];
    section_of(index, section);
    return ini_put_texts(section, {{kTokenKey, scrambled}, {kListKey, lists}});
}

int refresh_token_load(int index, std::string& token) {
    wipe_secret(token);
    if (index < 0 || index >= kAccountCount) {
        return -1;
    }
    char section[64];
    section_of(index, section);
    std::string scrambled;
    std::string lists;
    if (ini_get_text(section, kTokenKey, scrambled) != 0 || ini_get_text(section, kListKey, lists) != 0) {
        return -1;
    }
    if (scrambled.size() != lists.size()) {
        return 0; // not written together: nothing usable is kept
    }
    for (std::size_t at = 0; at < scrambled.size(); at += 2 * kPiece) {
        std::optional<std::string> piece = unscramble_text(std::string_view(scrambled).substr(at, 2 * kPiece),
                                                           std::string_view(lists).substr(at, 2 * kPiece));
        if (!piece) {
            wipe_secret(token);
            return 0;
        }
        token += *piece;
        wipe_secret(*piece);
    }
    return 0;
}
