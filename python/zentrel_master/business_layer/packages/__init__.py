"""Package management of the Business Layer: the package index client."""
