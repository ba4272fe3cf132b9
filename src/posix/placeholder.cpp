// Placeholder until this library has sources of its own.
