#pragma once

// Registers the argument types that cross threads as queued calls in the device link
// (qintptr socket IDs, quint16 ports). Safe to call more than once.
void registerDeviceLinkMetaTypes();
