"""Graphs: node positions, edges between node indices and named per-node and per-edge features."""

from ._orbitane import graph as _native

Graph = _native.Graph

__all__ = ["Graph"]
