#pragma once

// The answer handling: what each frame a device sends means to the host.

#include "registry/registry.h"

#include <QtGlobal>

// Interprets a received frame whose checksum is right (length without the
// checksum byte). Non-zero asks the worker to confirm the answer.
quint16 handleFrame(quint8 *buffer, quint16 length);

// Answers from devices: registers searching devices, stores versions, feeds
// firmware acknowledgements into the transfer.
int handleResponse(
    const quint8 *payload, quint16 payloadLength, const quint8 *frame, int cmdB, int cmdN);

bool isRegistered(const DeviceId &id);

// The address of the device a frame comes from: its first eight bytes.
DeviceId senderOf(const quint8 *frame);

// Logs a frame's sender and command word, "SerialP: CPDevice [..], cmd_t ..,
// cmd_b .., cmd_n ..", followed by `tail`.
void logFrameHeader(const quint8 *frame, const char *tail = "");

namespace TestSeam {
// Answer handling broken on purpose, for the tests that show a replayed
// capture catching a host that behaves otherwise: search answers are
// neither taken nor confirmed.
void breakAnswerHandling(bool broken);
} // namespace TestSeam
