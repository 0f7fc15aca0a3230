#pragma once

// The exchange with the devices that is under way: the command being sent or
// answered, the step the worker has reached, and the buffer frames are
// composed and read in. The worker keeps these across runs: a new run starts
// where the last one left off.

#include "protocol/frame.h"
#include "registry/device.h"

#include <atomic>

enum TransactionPhases : qint32 {
    PhaseReady = 0,         // nothing outstanding; the scheduler may choose the next request
    PhaseAwaitWritten = 1,  // a frame has been handed to the port
    PhaseAwaitResponse = 2, // a request has left; its answer is awaited
};

extern std::atomic<qint32> TransactionPhase;
extern std::atomic<qint32> ResponseExpected; // 1: the frame written expects an answer
extern quint8 FrameBuffer[Cpd::BufferSize];  // both directions; worker thread only

// The command being exchanged: chosen by the scheduler, replaced by the
// header of each frame received. Only the worker thread touches TargetId.
extern DeviceId TargetId;
extern std::atomic<qint32> CmdBlock;
extern std::atomic<quint8> CmdNumber;
