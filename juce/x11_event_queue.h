// Keeps X events from waiting in Xlib's queue while the message loop sleeps.
#pragma once

namespace velmora {

// The framework reads its X connection only when the socket polls readable. Any request that
// waits for a reply on the message thread (a pointer query, the check for finished shared-memory
// paints) also reads the events that arrived meanwhile into Xlib's queue, where they stay until
// the next event makes the socket readable again: a key or click can be held back indefinitely.
// Call on the message thread once the framework runs; a watch then hands such events on. Safe to
// call again; it ends with the framework.
void keepX11EventQueueDrained();

} // namespace velmora
