// Re-enumeration of the device tree, which some panels need after a device change.
#pragma once

// Asks the platform to re-enumerate the device tree from its root, asynchronously. The
// configuration-manager library is loaded for the call and released after it: most notebooks
// never need it, and imported it would weigh on the agent's memory, with what it loads, for the
// whole session. True when the request was made.
bool ReenumerateDeviceTree();
