#pragma once

// The notifier: how the worker tells the main window what changed, and the
// main status it announces. It carries no data; the slots read the shared
// state as it stands when they run.

#include <QMetaType>
#include <QObject>

// The main status line. Values are consecutive from 0 and travel through queued
// connections, so the type is registered as "Status" at start-up. An int
// underneath: the status slot may be handed any value and shows nothing for
// one it does not know.
enum Status : int {
    PortBusy = 0,
    NoPortSelected = 1,
    SearchNeeded = 2,
    Searching = 3,
    SelectDevices = 4,
    WrongSelection = 5,
    NoDevicesFound = 6,
    Updating = 7,
    UpdateFinished = 8,
};
Q_DECLARE_METATYPE(Status)

class DevTable : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~DevTable() override;

signals:
    void UpdateTable();
    void UpdateDevStatus();
    void UpdateMainStatus(Status status);
    void UnblockSearchButton();
    void UnblockTableSignals();
    void CheckReadyToUpdate();
};

// The single notifier, created before main() runs.
extern DevTable Notifier;
