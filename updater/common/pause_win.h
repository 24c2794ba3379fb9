// (Defined in common/pause.cpp with the plain pause.)
// The 1 ms pause of a loop that runs on the user-interface thread: the
// thread's messages are handled while it lasts, so that the window answers,
// paints and can be closed during a long step.
#pragma once

namespace ul {

// Handles the messages waiting for the calling thread.
using MessageHandler = void (*)(void* context);

// Pauses for 1 ms (as PauseOneMillisecond) and calls handle for the
// messages waiting now, and on the high-resolution timer also for those that
// arrive before the pause is over.
// A handler that takes longer (a box, a move of the window) makes the pause
// last as long.
void PauseOneMillisecondHandling(MessageHandler handle, void* context);

}  // namespace ul
