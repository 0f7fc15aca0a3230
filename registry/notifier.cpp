// The notifier's own code; the one instance is created with the rest of the
// shared state (registry.cpp).

#include "registry/notifier.h"

DevTable::~DevTable() = default;
