#include "lamp/sound.h"

#include <atomic>
#include <canberra.h>
#include <mutex>

namespace {

// libcanberra plays asynchronously: ca_context_play returns once the sound is handed to the sound server (or
// fails at once when there is none), and the context locks itself, so the job thread may call it directly. The
// context lives for the whole process so that sounds still playing are not cut off.
class CanberraPlayer final : public SoundPlayer {
public:
    void play(const char* path) override {
        if (path == nullptr || *path == '\0') {
            return;
        }
        std::lock_guard lock(mutex_);
        if (context_ == nullptr && !failed_) {
            failed_ = ca_context_create(&context_) != CA_SUCCESS;
            if (!failed_) {
                ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "kd5lite", CA_PROP_APPLICATION_ID,
                                        "kd5lite", nullptr);
            }
        }
        if (context_ == nullptr) {
            return;
        }
        // A missing file, a file that is not a wave file or no sound server only yields an error code, which
        // nobody is told about (sounds are fire-and-forget).
        ca_context_play(context_, 0, CA_PROP_MEDIA_FILENAME, path, CA_PROP_MEDIA_ROLE, "event",
                        CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
    }

private:
    std::mutex mutex_;
    ca_context* context_ = nullptr;
    bool failed_ = false;
};

std::atomic<SoundPlayer*> g_installed{nullptr};

} // namespace

SoundPlayer& sound_player() {
    if (SoundPlayer* p = g_installed.load()) {
        return *p;
    }
    static CanberraPlayer system_player;
    return system_player;
}

void set_sound_player(SoundPlayer* player) {
    g_installed.store(player);
}
