// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every fixed wait of the system, in milliseconds, in one record. The defaults are the real values; tests may
// shorten them in process, and KD5LITE_TIME_SCALE scales them for end-to-end runs and the demo.
struct Timing {
    // notifier window thread
    int poll_ms = 200;          // command mailbox poll timer
    int job_start_ms = 1000;    // window thread sleeps after starting a job
    int session_end_ms = 1000;  // wait before ending at the end of the login session
    // lamp transport
    int usb_poll_ms = 15;       // one look's share of the acknowledgement wait (never scaled: the device answers in
                                // its own time, and the wait ends as soon as it does)
    int usb_poll_count = 100;   // looks before the read is made anyway (a count, never scaled): the device's answer
                                // is awaited at most usb_poll_count * usb_poll_ms
    int usb_read_timeout_ms = 100;
    int usb_write_timeout_ms = 100;
    int usb_lock_wait_ms = 200; // longest the open waits for the lamp's lock (never scaled): a child this program
                                // starts holds the descriptor from its fork to its exec, which takes no less time on
                                // a scaled clock
    int usb_lock_retry_ms = 5;  // between two tries of the lamp's lock (never scaled)
    // lamp command set
    int sound_pause_ms = 10000; // pause after each newly lit account's sound
    // TCP client: a reply is read as its bytes come, each wait bounded by these
    int select_timeout_ms = 2000;  // one wait for data
    int send_timeout_ms = 1000;    // wait for the socket to take data
    int connect_timeout_ms = 21000; // wait for the server to accept: a SYN and two retries, 3 + 6 + 12 s; and a
                                    // whole TLS handshake
    int recv_attempts = 60;        // waits before a receive gives up (a count, never scaled)
    // worker jobs
    int test_step_ms = 300;         // between two LEDs of the lamp connection test
    int monitor_step_ms = 1000;     // one step of the wait between passes
    int monitor_steps_per_min = 60; // steps in one minute of IntervalTimer (a count, never scaled)
    // settings file
    int settings_lock_wait_ms = 5000; // longest wait for the writers' lock; a stopped writer must not hang the others
    int settings_lock_retry_ms = 10;  // between two tries of the writers' lock
    int stale_temp_age_ms = 60000;    // a writer's temporary file older than this was left by a writer that died
    // notifier window thread, added
    int tray_look_ms = 5000; // between two looks for a notification area that was not there at the start
    int checking_mark_ms = 1000; // a pass shows the tray's checking mark once it has run this long (never scaled:
                                 // a mark worth its icon change is one a person can see)
    // push (IMAP IDLE watchers)
    int push_burst_ms = 1000;          // a burst of network changes has settled after this long without one
    int push_fold_ms = 2000;           // more push passes than a few in this long are a flood, held to its end
    int idle_renew_ms = 540000;        // an IDLE is renewed after 9 minutes, well inside the 29 of RFC 2177
    int idle_answer_ms = 30000;        // wait for the tagged answer to DONE; none means a dead connection
    int idle_backoff_first_ms = 1000;  // first wait before a lost connection is tried again, doubled each time
    int idle_backoff_max_ms = 300000;  // longest such wait
    int idle_settled_ms = 60000;       // a connection that stayed this long in IDLE was sound: the backoff restarts
    int idle_flood_window_ms = 60000;  // the window in which a flood of responses in IDLE is counted
    int keepalive_idle_ms = 60000;     // TCP keepalive of an IDLE connection: first probe after this much silence
    int keepalive_interval_ms = 20000; // then one probe in this
    int keepalive_probes = 3;          // unanswered probes that end the connection (a count, never scaled)
    int resume_look_ms = 10000;        // between two looks of the network watch at the clocks (a resume)
    int clock_jump_ms = 3000; // CLOCK_BOOTTIME gaining this much on CLOCK_MONOTONIC means the machine slept
                              // (never scaled)
    // POP3 check, added
    int stop_poll_ms = 1000; // a long check reads Request from the settings file at most once in this
    // desktop keyring (never scaled: they are time-outs, and a busy machine's keyring is not a dead one)
    int keyring_wait_ms = 5000;    // longest a notifier's secret lookup may take; a hung keyring costs a pass no more
    int keyring_prompt_ms = 60000; // longest the setup program waits for the keyring, unlock prompt included
    // OAuth2 token sources
    int token_command_ms = 10000;        // longest run of a token command
    int token_request_ms = 30000;        // longest wait for a token endpoint's or the online accounts' answer
    int token_refresh_margin_ms = 60000; // an access token is refreshed when it has less than this to live
    int sign_in_wait_ms = 300000;        // longest wait for the browser to come back to the loopback redirect
    // tools' service pages
    int service_refresh_ms = 1000; // the shown page reads the notifier's state again after this
    // the search of an address's mail server (按地址填写, kd5lite --discover)
    int discovery_total_ms = 15000; // the whole search, every source and every check
    int discovery_lookup_ms = 5000; // the DNS lookups and autoconfig downloads, all started together
    int discovery_check_ms = 5000;  // the checks of one source's servers, run together
    // kd5lite --check
    int check_account_ms = 15000; // one account, all of its steps together: a common mistake must not cost minutes
    int check_greeting_ms = 10000; // a server connected that has said nothing this long is mute; the rest of the
                                   // account's time goes to a TLS handshake on its port
    // the health of an account: how long no check may work before it counts as late, and its LED's slow blink
    int health_grace_min_ms = 600000; // at least 10 minutes, however short the interval; twice the interval above
    int blink_on_steps = 1;           // steps of the monitor's wait with the LED on (a count, never scaled)
    int blink_off_steps = 3;          // then off
    // the tray's 诊断…: the longest a run of kd5lite --check may take before it is ended (each account's check is
    // bounded by its own time-outs; this bounds whatever hangs beside them)
    int diagnosis_ms = 120000;
    // the session bus (never scaled: they are time-outs, and a busy machine's bus is not a dead one)
    int bus_answer_ms = 2000; // longest the notifier's start waits for the session bus to answer at all
    int bus_call_ms = 5000;   // longest one call over it may take: the notifier's name, kd5lite --status, the verbs
    // the hook command, run on every change of what the lamp shows
    int hook_ms = 10000; // longest run of the hook command
};

// The record in force. The first call applies KD5LITE_TIME_SCALE (a positive decimal factor) when it is set.
// A copy taken under the record's lock: a job thread reads it while a test on the window thread may replace it.
Timing timing();

// Replaces the record in force (tests).
void set_timing(const Timing& t);

// The default record scaled by factor: every duration is multiplied, never below 1 ms; counts stay.
Timing scaled_timing(double factor);

// Sleeps the calling thread for ms milliseconds (nothing for ms <= 0).
void pause_ms(int ms);
