#pragma once

// Watches, while a run of push watchers lasts, for what makes every IDLE connection stale without the server
// saying so: a change of addresses or routes (netlink), and a suspend, seen as CLOCK_BOOTTIME (which counts the
// time asleep) running ahead of CLOCK_MONOTONIC (which does not). Either is reported as a network change on the
// monitor's wake object. Runs on the calling thread until the run ends.
void watch_network(unsigned run);
