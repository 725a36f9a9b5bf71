"""The kernel process and what runs inside it."""
