"""A small shop whose features are declared for tolva."""
