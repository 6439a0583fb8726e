#pragma once
// Placeholder: the simulated sensor lands with the simulator work.
class SensorModel {
public:
    int TypeCode() const { return 130; }
};
