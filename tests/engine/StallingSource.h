#pragma once
// A real GStreamer source for files whose name contains "stall": it opens
// like any file and then never gives a byte until it is stopped, as a read
// from a hung network mount does. Registered ahead of the stock file
// source; every other file still goes to that one.

namespace stalling_source {

void Register();
// Sources of this kind that are running (created and not yet stopped).
int Running();

}  // namespace stalling_source
