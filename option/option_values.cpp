#include "option/option_values.h"

#include "settings/keys.h"
#include "settings/text.h"

int condition_entry(const char* value) {
    int entry = text_to_int(value);
    return entry >= 0 && entry < kConditionCount ? entry : -1;
}

int sound_path_room() {
    return static_cast<int>(key_field(Key::SoundFile).size) - 1;
}

bool sound_path_fits(const std::string& path) {
    return path.size() <= static_cast<std::size_t>(sound_path_room());
}
