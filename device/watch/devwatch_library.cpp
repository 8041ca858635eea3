// The dvwc_ interface is added by the device watch subsystem.
