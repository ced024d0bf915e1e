// A test's stand-ins for the run-time table, in place for as long as this
// lives: each walker made meanwhile takes them into its table.
#pragma once

#include "RuntimeApi.h"

class ApiOverride {
public:
    explicit ApiOverride(void (*override)(RuntimeApi&)) { RuntimeApiOverride = override; }
    ~ApiOverride() { RuntimeApiOverride = nullptr; }
    ApiOverride(const ApiOverride&) = delete;
    ApiOverride& operator=(const ApiOverride&) = delete;
};
