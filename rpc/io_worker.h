#pragma once
// The client's I/O thread, where all pipe work happens. The thread repeats
// one turn of work (connect when due, else read and dispatch a bounded number
// of frames, then send) and a wait of at most 500 ms that producers cut short
// by waking it. A turn that left frames unread is followed at once by the next.

namespace detail {

// Starts the thread unless it runs. The first start also arranges for a
// thread that rpc_shutdown did not stop to be stopped and joined at exit,
// before any of the static state that it uses is destroyed.
void StartIoThread();

// Stops the thread and waits until it has ended: after its current turn and
// at most one further wait. Called on the I/O thread itself (exit called
// there), which cannot join itself, it lets the thread go instead.
void StopIoThread();

// Cuts the thread's wait short. A wake during a turn is not remembered: its
// work is picked up at the end of the next wait, at most 500 ms later.
void WakeIoThread();

}  // namespace detail
