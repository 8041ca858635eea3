// Replaced by the bitmap library.
