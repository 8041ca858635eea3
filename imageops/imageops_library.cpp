// The image operations are added by their own subsystem.
