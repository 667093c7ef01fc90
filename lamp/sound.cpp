// SPDX-License-Identifier: GPL-3.0-or-later
#include "lamp/sound.h"

#include <atomic>
#include <canberra.h>
#include <chrono>
#include <condition_variable>
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
        // A missing file, a file that is not a wave file or no sound server only yields an error code, which
        // nobody is told about (sounds are fire-and-forget).
        if (open_locked()) {
            ca_context_play(context_, 0, CA_PROP_MEDIA_FILENAME, path, CA_PROP_MEDIA_ROLE, "event",
                            CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
        }
    }

    void play_event(const char* event_id) override {
        std::lock_guard lock(mutex_);
        // A theme without the sound falls back to its own "bell", or plays nothing: no error anyone hears of.
        if (open_locked()) {
            ca_context_play(context_, 0, CA_PROP_EVENT_ID, event_id, CA_PROP_EVENT_DESCRIPTION, "新邮件",
                            CA_PROP_MEDIA_ROLE, "event", nullptr);
        }
    }

private:
    bool open_locked() {
        if (context_ == nullptr && !failed_) {
            failed_ = ca_context_create(&context_) != CA_SUCCESS;
            if (!failed_) {
                ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "kd5lite", CA_PROP_APPLICATION_ID,
                                        "kd5lite", nullptr);
            }
        }
        return context_ != nullptr;
    }

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

MailSound mail_sound(int beep_time, bool has_wave, bool quiet) {
    if (quiet) {
        return MailSound::none;
    }
    return beep_time > 0 ? MailSound::buzzer : has_wave ? MailSound::wave : MailSound::theme;
}

namespace {
std::atomic<bool (*)(int)> g_theme_elsewhere{nullptr};
} // namespace

void set_theme_sound_elsewhere(bool (*elsewhere)(int led)) {
    g_theme_elsewhere.store(elsewhere);
}

bool theme_sound_elsewhere(int led) {
    bool (*elsewhere)(int) = g_theme_elsewhere.load();
    return elsewhere != nullptr && elsewhere(led);
}

namespace {

// The end of one played sound, signalled from libcanberra's own thread.
struct PlayEnd {
    std::mutex mutex;
    std::condition_variable done;
    bool ended = false;
    int code = CA_SUCCESS;
};

void on_play_end(ca_context*, uint32_t, int code, void* data) {
    auto* end = static_cast<PlayEnd*>(data);
    std::lock_guard lock(end->mutex);
    end->ended = true;
    end->code = code;
    end->done.notify_all();
}

} // namespace

std::string sound_try(const char* path, int wait_ms) {
    ca_context* context = nullptr;
    int rc = ca_context_create(&context);
    if (rc == CA_SUCCESS) {
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "kd5lite", nullptr);
        rc = ca_context_open(context);
    }
    PlayEnd end;
    if (rc == CA_SUCCESS) {
        ca_proplist* props = nullptr;
        ca_proplist_create(&props);
        ca_proplist_sets(props, CA_PROP_MEDIA_FILENAME, path);
        ca_proplist_sets(props, CA_PROP_MEDIA_ROLE, "event");
        ca_proplist_sets(props, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
        rc = ca_context_play_full(context, 1, props, on_play_end, &end);
        ca_proplist_destroy(props);
    }
    if (rc == CA_SUCCESS) {
        std::unique_lock lock(end.mutex);
        end.done.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return end.ended; });
        rc = end.ended ? end.code : CA_SUCCESS; // still playing at the deadline: it plays
    }
    if (context != nullptr) {
        ca_context_destroy(context); // cancels a sound still playing, before end goes out of scope
    }
    return rc == CA_SUCCESS || rc == CA_ERROR_CANCELED ? std::string() : ca_strerror(rc);
}
