// The main-thread dispatcher. Workers that must run something on the main thread (an event handler that the
// shell expects there) queue the call and wait for it; the main thread runs what is queued whenever it serves
// the queue: the Qt shell from its event loop, the command line front end from its own loop, and every wait
// of the main thread for a worker in slices.
#pragma once

#include <cstddef>
#include <functional>

namespace runtime {

// The calling thread becomes the main thread (and a queue shut down earlier opens again).
void BindMainThread();
bool HasMainThread();
bool IsMainThread();

// On the main thread, or when no main thread is bound: runs the call at once. Elsewhere: queues it, wakes the
// main thread and waits until it has run; an exception thrown by the call is rethrown here. After
// ShutdownMainThreadQueue() the call is dropped, because nobody will serve it any more.
void RunOnMainThread(const std::function<void()>& call);

// Runs every call queued so far (on the main thread only; elsewhere it does nothing). Returns how many ran.
std::size_t ServeQueuedCalls();

// Called (from the queuing thread) each time a call is queued, so an event loop can schedule
// ServeQueuedCalls.
void SetMainThreadWakeup(std::function<void()> wakeup);

// Work the main thread does in every slice of a wait for a worker, besides serving the queue: the window
// repaints there, without taking user input, so that no action starts in the middle of another. Set and run
// on the main thread only; empty to do nothing.
void SetMainThreadWaitWork(std::function<void()> work);
// One slice of a main-thread wait: serves the queue, then does the wait work (never nested in itself).
void ServeWhileWaiting();

// The main thread will serve no more calls: queued and later calls are dropped and their callers released.
void ShutdownMainThreadQueue();

}  // namespace runtime
