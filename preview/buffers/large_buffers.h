// Memory for the preview's one large buffer, made ready before it is needed. The editor keeps
// a script of a million lines in one block of 150 MB or more; the first touch of that much fresh
// memory costs from a few dozen milliseconds to half a second, depending on the machine, and the
// window would wait for it. Prepare() touches a block on another thread while the window goes
// on; the allocation that follows takes it (see large_buffers.cpp) instead of fresh memory.
#pragma once

#include <cstddef>

namespace transfer::buffers {

// Starts making a block of at least `bytes` ready, replacing any earlier block not yet taken.
// Returns at once.
void Prepare(std::size_t bytes);
// True once a prepared block is ready: the next allocation of at most its size takes it.
bool Ready();
// Gives back a prepared block that was not taken.
void Discard();

}  // namespace transfer::buffers
