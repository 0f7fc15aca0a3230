#pragma once

// Chooses, once per pass of the worker loop, whether a request is due and
// which: it fills in TargetId, CmdBlock and CmdNumber and returns 1, or
// returns 0 when nothing is to be sent. It also moves WorkMode along
// search -> inventory -> idle and idle -> update -> idle, and tells the main
// window when a search, an inventory or an update has ended.
int nextRequest();
