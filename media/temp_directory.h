#pragma once
// The process's private directory for the files the media controls hand to
// the player: made with mkdtemp under $TMPDIR (or /tmp) and kept at mode
// 0700, so no other user can read those files or plant anything among them.

#include <string>

namespace media {

// Its path with a trailing '/'; made on first use, and again after a removal.
// Throws std::runtime_error when no directory can be made.
const std::string& PrivateTempDirectory();
// Whether one is made and not removed since.
bool PrivateTempDirectoryExists();
// Removes it and everything in it, if it exists. Runs at exit, and when the
// last media control goes.
void RemovePrivateTempDirectory() noexcept;

}  // namespace media
