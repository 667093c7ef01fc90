#include "mail/sender_filters.h"

#include "mail/sender_match.h"
#include "settings/settings_access.h"
#include "settings/text.h"

int SenderFilters::hits(std::string_view block) const {
    int total = 0;
    for (int i = 0; i < 3; ++i) {
        total += sender_hits(block, address[i], condition[i]);
    }
    return total;
}

SenderFilters read_sender_filters(int index) {
    SenderFilters f;
    const Key addresses[] = {Key::SpecialAddress1, Key::SpecialAddress2, Key::SpecialAddress3};
    const Key searches[] = {Key::SpecialSearch1, Key::SpecialSearch2, Key::SpecialSearch3};
    for (int i = 0; i < 3; ++i) {
        f.address[i] = settings_get(addresses[i], index);
        f.condition[i] = text_to_int(settings_get(searches[i], index).c_str());
    }
    return f;
}
