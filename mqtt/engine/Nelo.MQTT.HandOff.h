// The blocking hand-off between the engine's worker threads and the host's
// main thread. Every event of the engine runs on the main thread: a worker
// puts a step before it and waits. The host names its main thread, tells the
// engine how to wake its main loop, and serves the steps.
#pragma once

#include <functional>

// Runs AStep on the main thread and blocks until it has run there; an exception
// thrown by the step is rethrown here. Called on the main thread, runs AStep at once.
void NeloSynchronize(const std::function<void()>& AStep);
// On the main thread: runs every waiting step, waiting up to ATimeoutMs for the
// first one; returns true when at least one ran.
bool NeloCheckSynchronize(int ATimeoutMs = 0);
// Ends a NeloCheckSynchronize that is waiting for a first step, as if one had
// come (a worker the main thread waits for has ended, say).
void NeloInterruptCheckSynchronize();
// Host hook, called on the worker thread right after it queued a step, so the
// host can wake its main loop (the console posts a queued call of
// NeloCheckSynchronize() into the Qt event loop). Unset: nothing is called.
void NeloSetWakeMainThread(std::function<void()> AWake);
// Makes the calling thread the main thread (the default is the thread that ran
// static initialisation, i.e. main()).
void NeloSetMainThread();

// Whether the calling thread is the main thread.
bool NeloIsMainThread();
// Puts AStep before the main thread without waiting for it (on the main thread
// it runs at once). Errors it raises are dropped. AOwner tags the step for
// NeloCancelQueued.
void NeloQueueOnMainThread(const void* AOwner, std::function<void()> AStep);
// Discards the steps queued by NeloQueueOnMainThread for AOwner that have not
// run yet (an object going away calls it for itself).
void NeloCancelQueued(const void* AOwner);
