#pragma once

// Chooses, once per pass of the worker loop, whether a request is due and
// which: it fills in TargetId, CmdBlock and CmdNumber and returns 1, or
// returns 0 when nothing is to be sent. It also moves WorkMode along
// search -> inventory -> idle and idle -> update -> idle, and tells the main
// window when a search, an inventory or an update has ended.
int nextRequest();

// The idle worker's look for work: waits one idle poll interval (less when
// the worker is told to quit), then takes up a flash request that came
// meanwhile by switching to the update.
void idlePoll();
