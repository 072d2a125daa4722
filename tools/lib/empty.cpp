// Keeps the tools library non-empty before its writers exist.
