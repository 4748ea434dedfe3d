#pragma once

namespace tarnel {

// Reloads the playlist as SIGUSR1 does, but keeps the playlist loaded before (its lists,
// positions and the working directory that its "#cd" lines set) when the new one cannot be
// loaded, so that a reload asked for over the control socket never ends the run. Returns whether
// the new playlist was loaded.
bool reload_playlist_keeping_old();

}  // namespace tarnel
