// Keeps the test-support library non-empty before its helpers exist.
