#pragma once
// Internal to the platform layers: what Thread tells the other layers about the
// life of a thread it started.

#include "platform/Thread.h"

namespace platform::detail {

// Gives a thread started by Thread the id its creator already handed out.
void SetCurrentThreadId(ThreadId id);
ThreadId NewThreadId();

// Called on the ending thread, before a join can see it ended. Threads not
// started by Thread get the same at their exit from thread-local destructors.
// (Windows abandons a thread's mutexes itself.)
void AbandonOwnedMutexes();
void DestroyMessageQueue();

}  // namespace platform::detail
