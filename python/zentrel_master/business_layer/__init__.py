"""Business Layer side: package dependency resolution and the package index client."""
