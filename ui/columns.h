#pragma once

// The device table's columns, left to right: four of text, then the tick box.

enum DeviceColumn : int {
    AddressColumn = 0,
    TypeColumn = 1,
    VersionColumn = 2,
    StatusColumn = 3,
    CheckColumn = 4,
    ColumnCount = 5,
};

// The tick-box column opens this many pixels wide; the others share the rest.
constexpr int CheckColumnWidth = 20;
