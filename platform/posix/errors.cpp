// Filled in by the stand-in's implementation.
