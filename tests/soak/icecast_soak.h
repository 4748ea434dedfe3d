#pragma once

namespace tarnel::test {

// The soak run against a real peer: Tarnel streams over TLS to a private Icecast mount for
// `minutes` minutes while an ffmpeg listener decodes the mount live, Icecast is restarted every
// few minutes and control signals arrive at random; then prints the report (reconnections and
// their durations, frames decoded, decode errors outside the reconnection gaps, RSS and open
// descriptors at the start and the end). Returns the exit status: 0 when the run was sound.
int run_icecast_soak(int minutes, unsigned seed);

}  // namespace tarnel::test
