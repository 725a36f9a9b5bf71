"""Shared test helpers: the threaded Business Layer and the scaled time unit."""
